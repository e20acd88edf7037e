// PNG encoding of captured images, through libpng.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "computer-use/platform/platform.h"

namespace Capture {

/// `image` as the bytes of a PNG file, 8 bits per channel: RGB when every
/// pixel is opaque (a quarter less to compress), else RGBA. Tuned for speed
/// over the last percent of size (see png_writer.cpp). Nothing when the image
/// is empty or libpng fails; never writes to standard error.
std::optional<std::vector<std::uint8_t>> encodePng(const vorn::platform::Image& image);

}  // namespace Capture
