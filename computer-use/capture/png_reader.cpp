#include "computer-use/capture/png_reader.h"

#include <png.h>

namespace Capture {

std::optional<vorn::platform::Image> readPng(const std::string& path) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return std::nullopt;
  png.format = PNG_FORMAT_RGBA;
  vorn::platform::Image image;
  image.size = {png.width, png.height};
  image.rgba.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr)) {
    png_image_free(&png);
    return std::nullopt;
  }
  return image;
}

}  // namespace Capture
