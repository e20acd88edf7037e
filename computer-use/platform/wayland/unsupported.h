// The words of a failure that comes from the desktop rather than the
// request: a Wayland compositor that lacks what an operation needs, or that
// cannot be reached.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::platform::wayland {

/// "The Wayland compositor <compositor> is not supported: <what> <needs,
/// joined by "and">." `what` names the operation with its verb ("listing
/// windows needs"), `needs` what the compositor lacks ("sway's IPC socket
/// (SWAYSOCK)").
std::string unsupportedCompositor(std::string_view compositor, std::string_view what,
                                  const std::vector<std::string>& needs);

/// "The Wayland compositor at <socket> cannot be reached."
std::string unreachableCompositor();

/// The compositor's process name, learnt from a plain connection to its
/// socket; nothing when the socket cannot be reached. A name that the
/// process does not tell is "unknown".
std::optional<std::string> reachableCompositor();

/// What a compositor lacks for sway's part (the IPC that lists windows):
/// $SWAYSOCK unset.
inline const char* const kSwayIpcNeed = "sway's IPC socket (SWAYSOCK)";

}  // namespace vorn::platform::wayland
