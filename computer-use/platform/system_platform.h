// The desktop this build of the helper runs on.
#pragma once

#include "computer-use/platform/platform.h"

namespace vorn::platform {

/// The process's one platform, chosen when it is first asked for. On Linux,
/// in a Wayland session ($WAYLAND_DISPLAY set): the compositor for windows,
/// input and captures (wlroots protocols; sway's IPC for windows), whatever
/// it lacks answered as unsupported; otherwise X11 for windows, applications
/// and input, connected to $DISPLAY on first use, and for captures, each on a
/// connection of its own. AT-SPI for accessibility on both, connected on
/// first use. Lives until the process ends.
Platform& systemPlatform();

/// Whether the helper runs in a Wayland session.
bool waylandSession();

}  // namespace vorn::platform
