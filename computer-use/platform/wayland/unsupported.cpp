#include "computer-use/platform/wayland/unsupported.h"

#include "common/text.h"
#include "computer-use/platform/wayland/wayland_display.h"

namespace vorn::platform::wayland {

std::string unsupportedCompositor(std::string_view compositor, std::string_view what,
                                  std::string_view needs) {
  return "The Wayland compositor " + std::string(compositor) + " is not supported: " +
         std::string(what) + " " + std::string(needs) + ".";
}

std::string unreachableCompositor() {
  // The path comes from the environment: any bytes at all.
  return "The Wayland compositor at " + text::toValidUtf8(socketPath().value_or("(none)")) +
         " cannot be reached.";
}

}  // namespace vorn::platform::wayland
