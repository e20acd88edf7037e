// The desktop this build of the helper runs on.
#pragma once

#include "computer-use/platform/platform.h"

namespace vorn::platform {

/// The process's one platform. On Linux: X11 for windows, applications and
/// input, connected to $DISPLAY on first use; AT-SPI for accessibility,
/// connected on first use; X11 for captures, each on a connection of its own.
/// Lives until the process ends.
Platform& systemPlatform();

}  // namespace vorn::platform
