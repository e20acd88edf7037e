// The edge: a request dictionary read once into its operation's typed
// request. A key whose value has the wrong JSON type counts as absent, as it
// always has for this helper's callers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/refusal.h"
#include "computer-use/accessibility/ax_core.h"
#include "computer-use/capture/capture.h"
#include "computer-use/input/hid.h"
#include "computer-use/protocol/dispatch.h"
#include "computer-use/windows/window_listing.h"

namespace ComputerUseHelperMain {

/// ping reads nothing.
struct PingRequest {};

/// `value` as a 32-bit signed integer: a number truncated toward zero (a
/// boolean counts as 1 or 0); anything else, no value, a number that is not
/// finite or lies outside the 32-bit range gives 0.
std::int32_t int32(const Dictionary* value);

/// The whole number under `key` (2.0 counts; 2.5, a string or a boolean do
/// not), or nothing.
std::optional<double> wholeNumber(const Dictionary& request, const char* key);

/// The request's "window_number": a JSON number with its fraction dropped
/// toward zero. Nothing when it is missing, not a number, or below 1. A
/// number beyond 4294967295 names no window (it is never wrapped) and keeps
/// its exact decimal digits.
std::optional<Capture::WindowNumber> windowNumberArgument(const Dictionary& request);

vorn::OrFailure<PingRequest> pingRequest(const Dictionary& request);
/// "limit": a whole number, else 40.
vorn::OrFailure<ListWindowsRequest> listWindowsRequest(const Dictionary& request);
/// Refuses a pid below 1 ("invalid_arguments", "pid is required"). Limits
/// are whole numbers kept within int (a huge one means no limit).
vorn::OrFailure<AXCore::ObserveRequest> observeRequest(const Dictionary& request);
vorn::OrFailure<AXCore::PerformRequest> performRequest(const Dictionary& request);
vorn::OrFailure<HID::KeypressRequest> keypressRequest(const Dictionary& request);
vorn::OrFailure<HID::ClickRequest> clickRequest(const Dictionary& request);
/// Refuses a missing window number ("invalid_arguments", "window_number is
/// required").
vorn::OrFailure<Capture::CaptureRequest> captureRequest(const Dictionary& request);

}  // namespace ComputerUseHelperMain
