#include "computer-use/platform/wayland/wayland_platform.h"

#include <cstdlib>

#include "computer-use/platform/linux/atspi_accessibility.h"
#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/linux/x11_windows.h"
#include "computer-use/platform/wayland/screencopy_capture.h"
#include "computer-use/platform/wayland/sway_desktop.h"
#include "computer-use/platform/wayland/virtual_input.h"

namespace vorn::platform::wayland {
namespace {

bool haveX11Display() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

}  // namespace

Platform& waylandPlatform() {
  // Destroyed at exit in reverse order: users before what they use.
  static x11::Connection xwayland;
  static x11::Desktop xwaylandDesktop(xwayland);
  static VirtualInput input;
  static SwayDesktop desktop(haveX11Display() ? &xwaylandDesktop : nullptr, &input);
  static atspi::AtspiAccessibility accessibility(input, atspi::kRequestBound, &desktop);
  static ScreencopyCapture capture(desktop);
  static Platform platform{desktop, desktop, input, accessibility, capture};
  return platform;
}

}  // namespace vorn::platform::wayland
