// The "screenshot" operation: one window into a new PNG file in a private
// folder under the user's temporary directory, answered within eight seconds
// whatever the window system does.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "common/refusal.h"
#include "computer-use/platform/platform.h"

namespace Capture {

/// How long `capture` waits for its capture task.
inline constexpr std::chrono::milliseconds kBound = std::chrono::seconds(8);

/// The window a request names.
struct WindowNumber {
  std::optional<std::uint32_t> id;  ///< nothing when beyond the window ids
  std::string decimal;              ///< the number as the messages write it

  bool operator==(const WindowNumber&) const = default;
};

/// What "screenshot" reads.
struct CaptureRequest {
  WindowNumber window;
};

/// A window written to a PNG file.
struct Screenshot {
  std::string path;
  std::uint32_t windowNumber;
  vorn::platform::Frame frame;          ///< in points
  vorn::platform::PixelSize imageSize;  ///< in pixels
  double scale;
};

using Outcome = std::variant<Screenshot, vorn::Failure>;

/// Captures the window `request` names. A number beyond the window ids
/// answers "Window N is not shareable." at once. Then the capture runs as a
/// task on a thread of its own, and this waits for its answer for `kBound`
/// at most; a task that has not answered by then is left to finish on its
/// own, and this answers "unknown_root", "Screenshot timed out." (a late
/// task's answer is dropped whole; its file may still appear).
///
/// Failures: "permission_required" with "Screen Recording is required in
/// the helper: " and the description when the window system cannot be
/// asked, the capture fails or the screenshot folder cannot be made or is
/// refused; "unknown_root" with "Window N is not shareable." (no such
/// window, or it went away during the capture), "Failed to create PNG
/// destination." or "Failed to write PNG.".
///
/// `platform.capture` must outlive the task, which may outlive the call.
Outcome capture(const CaptureRequest& request, vorn::platform::Platform& platform);

/// `capture` with a bound of `bound` instead of `kBound`.
Outcome captureWithin(const CaptureRequest& request, vorn::platform::Platform& platform,
                      std::chrono::milliseconds bound);

}  // namespace Capture
