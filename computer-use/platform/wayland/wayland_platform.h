// The helper's platform in a Wayland session.
#pragma once

#include "computer-use/platform/platform.h"

namespace vorn::platform::wayland {

/// sway's IPC for windows and applications (XWayland's X11 display, when
/// there is one, for the application ids of X11 windows); virtual keyboard
/// and pointer for input; wlr-screencopy for captures; AT-SPI for
/// accessibility, with element positions placed by the compositor's window
/// rectangles. Made on first use; lives until the process ends.
Platform& waylandPlatform();

}  // namespace vorn::platform::wayland
