#include "computer-use/platform/wayland/unsupported.h"

#include "common/text.h"
#include "computer-use/platform/wayland/unix_socket.h"
#include "computer-use/platform/wayland/wayland_display.h"

namespace vorn::platform::wayland {

std::string unsupportedCompositor(std::string_view compositor, std::string_view what,
                                  const std::vector<std::string>& needs) {
  std::string joined;
  for (std::size_t i = 0; i < needs.size(); ++i) {
    if (i > 0) joined += i + 1 == needs.size() ? " and " : ", ";
    joined += needs[i];
  }
  return "The Wayland compositor " + std::string(compositor) +
         " is not supported: " + std::string(what) + " " + joined + ".";
}

std::string unreachableCompositor() {
  // The path comes from the environment: any bytes at all.
  return "The Wayland compositor at " + text::toValidUtf8(socketPath().value_or("(none)")) +
         " cannot be reached.";
}

std::optional<std::string> reachableCompositor() {
  auto path = socketPath();
  if (!path) return std::nullopt;
  UniqueFd fd = connectUnixSocket(*path);
  if (!fd.valid()) return std::nullopt;
  return compositorName(fd.get()).value_or("unknown");
}

}  // namespace vorn::platform::wayland
