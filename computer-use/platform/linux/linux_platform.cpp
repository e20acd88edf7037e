// The backend is chosen once, from the environment the helper was started
// in. A Wayland session is served through its compositor even when an X11
// display (XWayland) is there too: X11 sees only the X11 clients, and an
// XTest click lands on an X window hidden beneath a native one.
#include <cstdlib>

#include "computer-use/platform/linux/atspi_accessibility.h"
#include "computer-use/platform/linux/x11_capture.h"
#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/linux/x11_input.h"
#include "computer-use/platform/linux/x11_windows.h"
#include "computer-use/platform/system_platform.h"
#include "computer-use/platform/wayland/wayland_platform.h"

namespace vorn::platform {
namespace {

Platform& x11Platform() {
  // Constructed on first use and destroyed at exit in reverse order, so the
  // connection closes (and flushes) after its users are gone. Captures hold
  // connections of their own: one that outlives its request never touches
  // these at exit.
  static x11::Connection connection;
  static x11::Desktop desktop(connection);
  static x11::XTestInput input(connection);
  static atspi::AtspiAccessibility accessibility(input);
  static x11::WindowCapture capture;
  static Platform platform{desktop, desktop, input, accessibility, capture};
  return platform;
}

}  // namespace

bool waylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  return display != nullptr && *display != '\0';
}

Platform& systemPlatform() {
  static Platform& platform = waylandSession() ? wayland::waylandPlatform() : x11Platform();
  return platform;
}

}  // namespace vorn::platform
