// What a virtual keyboard and a virtual pointer are asked to do for a list
// of the helper's input events: the translation, apart from the sending, so
// that it can be checked without a compositor.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "computer-use/platform/platform.h"

namespace vorn::platform::wayland {

/// A key (an evdev code) goes down or up.
struct KeyRequest {
  std::uint32_t code;
  bool pressed;
  bool operator==(const KeyRequest&) const = default;
};

/// The modifiers now held, as masks of the keyboard's keymap.
struct ModifiersRequest {
  std::uint32_t depressed;
  bool operator==(const ModifiersRequest&) const = default;
};

/// The pointer moves to (x, y) of a layout `width` by `height` pixels whose
/// top-left corner is 0, 0.
struct MotionRequest {
  std::uint32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const MotionRequest&) const = default;
};

/// A button (an evdev code) goes down or up.
struct ButtonRequest {
  std::uint32_t code;
  bool pressed;
  bool operator==(const ButtonRequest&) const = default;
};

/// One wheel step: down or right when `forward`, else up or left.
struct WheelRequest {
  bool vertical;
  bool forward;
  bool operator==(const WheelRequest&) const = default;
};

/// The end of one pointer event's requests.
struct FrameRequest {
  bool operator==(const FrameRequest&) const = default;
};

using DeviceRequest = std::variant<KeyRequest, ModifiersRequest, MotionRequest, ButtonRequest,
                                   WheelRequest, FrameRequest>;

/// The requests that post `events` in order on a keyboard with the US keymap
/// and a pointer over `layout` (the compositor's global layout). Modifiers
/// are held around each key as its flags say (pressed control, alt, shift,
/// super, released in reverse) and all are released after the last event.
/// The pointer moves before a button or wheel event only when it is not
/// already there. Nothing when an event cannot be expressed: a point that is
/// not finite or outside the layout, a key without a keycode.
std::optional<std::vector<DeviceRequest>> planRequests(std::span<const InputEvent> events,
                                                       const Frame& layout);

}  // namespace vorn::platform::wayland
