// Every answer of the helper is built here, from the values its modules
// return: the one place that knows the answer dictionaries.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/refusal.h"
#include "computer-use/accessibility/ax_core.h"
#include "computer-use/capture/capture.h"
#include "computer-use/input/hid.h"
#include "computer-use/protocol/dispatch.h"
#include "computer-use/windows/window_listing.h"

namespace ComputerUseHelperMain {

/// What ping answers: the helper's pid.
struct Pong {
  std::int32_t pid;
};

/// The text, or null.
Dictionary nullable(const std::optional<std::string>& text);

/// The three-key failure: "ok" false, "error", "message".
Dictionary answerOf(const vorn::Failure& failure);

/// "ok", "helper", "pid", "ax_in_helper" true.
Dictionary answerOf(const Pong& pong);

/// "ok" true and the "windows" records.
Dictionary answerOf(const std::vector<WindowRecord>& windows);

/// The input answer: "ok" (posted), "outcome" ("worked" or "didnt"),
/// "message" (or null).
Dictionary answerOf(const HID::Outcome& outcome);

/// The input answer, with "ax_in_helper" true when it went through an element.
Dictionary answerOf(const AXCore::ActionOutcome& action);

/// Exactly ten keys: "ok", "state_id", "pid", the three values handed back
/// (null when not sent), "title", "outline" (the root), "elements" (every
/// node in reference order, each with its children), "ax_in_helper".
Dictionary answerOf(const AXCore::Observation& observation);

/// "ok", "path", "url", "window_number", "window_frame" (x, y, width,
/// height, in points), "image_size" (width, height, in pixels), "scale",
/// "vision" "attached" and "ax_in_helper" true; or the failure.
Dictionary answerOf(const Capture::Outcome& outcome);

/// The answer of whichever value it holds.
template <class T>
Dictionary answerOf(const vorn::OrFailure<T>& value) {
  return std::visit([](const auto& held) { return answerOf(held); }, value);
}

}  // namespace ComputerUseHelperMain
