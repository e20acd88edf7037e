// The "screenshot" operation: one window into a new PNG file in a private
// folder under the user's temporary directory, answered within eight seconds
// whatever the window system does.
#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "computer-use/platform/platform.h"

namespace Capture {

/// A request or result dictionary: a JSON object.
using Dictionary = nlohmann::json;

/// How long `capture` waits for its capture task.
inline constexpr std::chrono::milliseconds kBound = std::chrono::seconds(8);

/// The window a request names.
struct WindowNumber {
  std::optional<std::uint32_t> id;  ///< nothing when beyond the window ids
  std::string decimal;              ///< the number as the messages write it

  bool operator==(const WindowNumber&) const = default;
};

/// The request's "window_number": a JSON number with its fraction dropped
/// toward zero. Nothing when it is missing, not a number, or below 1. A
/// number beyond 4294967295 names no window (it is never wrapped) and keeps
/// its exact decimal digits.
std::optional<WindowNumber> windowNumberArgument(const Dictionary& request);

/// Captures the window the request's "window_number" names. Arguments are
/// checked first ("invalid_arguments", "window_number is required"; a number
/// beyond the window ids answers "Window N is not shareable." at once). Then
/// the capture runs as a task on a thread of its own, and this waits for its
/// answer for `kBound` at most; a task that has not answered by then is left
/// to finish on its own, and this answers "unknown_root", "Screenshot timed
/// out." (a late task's answer is dropped whole; its file may still appear).
///
/// Success: "ok", "path", "url", "window_number", "window_frame" (x, y, width,
/// height, in points), "image_size" (width, height, in pixels), "scale",
/// "vision" "attached" and "ax_in_helper" true. Failures carry exactly "ok"
/// false, "error" and "message": "permission_required" with "Screen Recording
/// is required in the helper: " and the description when the window system
/// cannot be asked, the capture fails or the screenshot folder cannot be
/// made or is refused; "unknown_root" with "Window N is not shareable." (no
/// such window, or it went away during the capture), "Failed to create PNG
/// destination." or "Failed to write PNG.".
///
/// `platform.capture` must outlive the task, which may outlive the call.
Dictionary capture(const Dictionary& request, vorn::platform::Platform& platform);

/// `capture` with a bound of `bound` instead of `kBound`.
Dictionary captureWithin(const Dictionary& request, vorn::platform::Platform& platform,
                         std::chrono::milliseconds bound);

}  // namespace Capture
