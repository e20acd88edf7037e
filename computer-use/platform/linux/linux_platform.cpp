#include "computer-use/platform/linux/atspi_accessibility.h"
#include "computer-use/platform/linux/x11_capture.h"
#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/linux/x11_input.h"
#include "computer-use/platform/linux/x11_windows.h"
#include "computer-use/platform/system_platform.h"

namespace vorn::platform {

Platform& systemPlatform() {
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

}  // namespace vorn::platform
