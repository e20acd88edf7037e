// Synthetic key combinations and mouse clicks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "computer-use/platform/platform.h"

namespace HID {

/// Whether the events were handed to the window system, and a short outcome
/// ("hid:..." or "click_xy:...") on success or the reason on failure.
struct Outcome {
  bool posted;
  std::optional<std::string> message;
};

/// What "keypress" reads: one key combination.
struct KeypressRequest {
  std::string key;
};

/// What "click_xy" reads: a point in screen coordinates and a button name.
struct ClickRequest {
  double x = 0;
  double y = 0;
  std::string button = "left";
};

/// Types one key combination (syntax in key_combination.h): key down and key
/// up with the modifiers held around them. Refusals, in the order checked:
/// "Accessibility is required in the helper process." when `input` is not
/// trusted; "Unsupported key '<key as given>'." for a name outside the tables;
/// "CGEventSource unavailable." when the events cannot be made or posted.
/// Nothing is posted on a refusal. Success: "hid:" + the normalised text.
Outcome postKeypress(std::string_view key, vorn::platform::InputDevice& input);

/// Clicks `button` once at (x, y), screen coordinates: pointer move, button
/// down, button up, the latter two with click state 1. Any name but "right"
/// and "middle" (after lowercasing) is the left button. Refusals: the
/// accessibility text as above; "Click position <x>,<y> is outside the
/// screen." for a point that is not finite or off the input device's screen
/// area (nothing is posted: the window system would move it onto the edge);
/// "Failed to create mouse events." when the events cannot be made or posted. Success: "click_xy:"
/// + the lowercased name as given + ":" + x + "," + y, each truncated toward zero.
Outcome postClick(double x, double y, std::string_view button, vorn::platform::InputDevice& input);

/// "keypress": postKeypress on the platform's input device.
Outcome keypress(const KeypressRequest& request, vorn::platform::Platform& platform);

/// "click_xy": postClick on the platform's input device.
Outcome clickXY(const ClickRequest& request, vorn::platform::Platform& platform);

/// Types `text` (UTF-8) through the input device into whatever has the
/// keyboard focus. Refusals: the accessibility text as above; "Text cannot be
/// typed." when the device cannot type it (nothing posted). Success: no
/// message.
Outcome typeText(std::string_view text, vorn::platform::InputDevice& input);

/// A coordinate as the click outcome shows it: truncated toward zero, in plain
/// decimal digits ("-0" never appears); "nan", "inf" or "-inf" when not finite.
std::string coordinateText(double v);

}  // namespace HID
