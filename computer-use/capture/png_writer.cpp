// libpng reports failures by longjmp to the setjmp of the function that
// drives it, so that function holds no object with a destructor that runs
// after the setjmp; the write struct's owner is created before it.
#include "computer-use/capture/png_writer.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>

namespace Capture {
namespace {

using vorn::platform::Image;

// Window images are mostly flat areas and text, where unfiltered rows
// compress best. Measured on the 1000x700 fixture window: level 4 without
// filters takes about 7 ms for 14.5 KB; libpng's defaults (level 6, every
// filter tried on each row) 17 ms for 15.3 KB; levels 1 to 3 save 3 ms but
// grow the file by half.
constexpr int kZlibLevel = 4;
constexpr int kFilters = PNG_FILTER_NONE;

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  bool stored = true;
  try {
    out->insert(out->end(), data, data + length);
  } catch (...) {
    stored = false;
  }
  // Outside the handler: png_error does not return.
  if (!stored) png_error(png, "out of memory");
}

void flushNothing(png_structp) {}

// libpng's own handlers print; failures become an absent result instead.
[[noreturn]] void fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void ignoreWarning(png_structp, png_const_charp) {}

class WriteStruct {
 public:
  WriteStruct() {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignoreWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  ~WriteStruct() { png_destroy_write_struct(&png_, &info_); }
  WriteStruct(const WriteStruct&) = delete;
  WriteStruct& operator=(const WriteStruct&) = delete;

  bool valid() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

bool opaque(const Image& image) {
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) {
    if (image.rgba[i] != 0xFF) return false;
  }
  return true;
}

// The row without its alpha bytes, in `packed` (width * 3 bytes); quicker
// than libpng's own filler stripping.
const std::uint8_t* packRgb(const std::uint8_t* rgba, std::uint32_t width, std::uint8_t* packed) {
  for (std::uint32_t x = 0; x < width; ++x) {
    packed[3 * x] = rgba[4 * x];
    packed[3 * x + 1] = rgba[4 * x + 1];
    packed[3 * x + 2] = rgba[4 * x + 2];
  }
  return packed;
}

bool encodeInto(std::vector<std::uint8_t>& out, const Image& image, const WriteStruct& s, bool rgb,
                std::uint8_t* packed) {
  if (setjmp(png_jmpbuf(s.png())) != 0) return false;
  png_set_write_fn(s.png(), &out, appendBytes, flushNothing);
  png_set_IHDR(s.png(), s.info(), image.size.width, image.size.height, 8,
               rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(s.png(), kZlibLevel);
  png_set_filter(s.png(), PNG_FILTER_TYPE_BASE, kFilters);
  png_write_info(s.png(), s.info());
  const std::size_t stride = std::size_t{image.size.width} * 4;
  for (std::uint32_t y = 0; y < image.size.height; ++y) {
    const std::uint8_t* row = image.rgba.data() + y * stride;
    if (rgb) row = packRgb(row, image.size.width, packed);
    png_write_row(s.png(), row);
  }
  png_write_end(s.png(), nullptr);
  return true;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodePng(const Image& image) {
  if (image.size.width == 0 || image.size.height == 0 ||
      image.rgba.size() != std::size_t{image.size.width} * image.size.height * 4) {
    return std::nullopt;
  }
  WriteStruct s;
  if (!s.valid()) return std::nullopt;
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> packed;
  try {
    // Compressed screenshots run at a fraction of the raw size.
    out.reserve(image.rgba.size() / 8);
    packed.resize(std::size_t{image.size.width} * 3);
  } catch (...) {
    return std::nullopt;
  }
  if (!encodeInto(out, image, s, opaque(image), packed.data())) return std::nullopt;
  return out;
}

}  // namespace Capture
