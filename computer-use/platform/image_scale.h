// Resampling an image to another pixel size, for backends that cannot ask the
// window system for the size a capture requests.
#pragma once

#include "computer-use/platform/platform.h"

namespace vorn::platform {

/// `image` resampled to `size` (each side at least 1): bilinear between pixel
/// centres, so a small change of size keeps edges sharp and a flat area keeps
/// its colour exactly. Colours are weighted by alpha, so a transparent pixel
/// lends no colour to its neighbours. An empty image gives a transparent one.
Image scaledImage(const Image& image, PixelSize size);

}  // namespace vorn::platform
