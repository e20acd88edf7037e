// The words of a failure that comes from the desktop rather than the
// request: a Wayland compositor that lacks what an operation needs.
#pragma once

#include <string>
#include <string_view>

namespace vorn::platform::wayland {

/// "The Wayland compositor <compositor> is not supported: <what> <needs>."
/// `what` names the operation ("listing windows"), `needs` what it lacks
/// ("needs sway's IPC socket (SWAYSOCK)").
std::string unsupportedCompositor(std::string_view compositor, std::string_view what,
                                  std::string_view needs);

/// "The Wayland compositor at <socket> cannot be reached."
std::string unreachableCompositor();

}  // namespace vorn::platform::wayland
