// Reading a PNG file back into pixels, through libpng: what the protocol
// mode needs to send a smaller copy of a capture.
#pragma once

#include <optional>
#include <string>

#include "computer-use/platform/platform.h"

namespace Capture {

/// The PNG file at `path` as 8-bit RGBA pixels; nothing when it cannot be
/// read or is no PNG. Never writes to standard error.
std::optional<vorn::platform::Image> readPng(const std::string& path);

}  // namespace Capture
