// What a virtual keyboard and a virtual pointer are asked to do for a list
// of the helper's input events: the translation, apart from the sending, so
// that it can be checked without a compositor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

/// A spare key of the US keymap (an index into `generated::kSpareKeys`)
/// made to carry a keysym, for typing a character the layout lacks.
struct Binding {
  std::size_t spare;
  std::uint32_t keysym;
  bool operator==(const Binding&) const = default;
};

/// The keyboard's keymap becomes the US one with `bindings` added (with
/// none, the US one as it is).
struct KeymapRequest {
  std::vector<Binding> bindings;
  bool operator==(const KeymapRequest&) const = default;
};

using DeviceRequest = std::variant<KeyRequest, ModifiersRequest, MotionRequest, ButtonRequest,
                                   WheelRequest, FrameRequest, KeymapRequest>;

/// The requests that post `events` in order on a keyboard with the US keymap
/// and a pointer over `outputs` (their rectangles in the compositor's global
/// layout). Modifiers are held around each key as its flags say (pressed
/// control, alt, shift, super, released in reverse) and all are released
/// after the last event. The pointer moves before a button or wheel event
/// only when it is not already there. Nothing when an event cannot be
/// expressed: a point that is not finite or on no output (the compositor
/// would move the pointer to the nearest one), a key without a keycode.
std::optional<std::vector<DeviceRequest>> planRequests(std::span<const InputEvent> events,
                                                       std::span<const Frame> outputs);

/// The same over one output, `layout`.
inline std::optional<std::vector<DeviceRequest>> planRequests(std::span<const InputEvent> events,
                                                              const Frame& layout) {
  return planRequests(events, std::span<const Frame>(&layout, 1));
}

/// The requests that type `text` on a keyboard with the US keymap: each
/// character at the key that carries it (Shift held where it wants it), line
/// feeds as Return and tabs as Tab. Characters the layout lacks are bound to
/// spare keys (the first `spareKeys` of them) in a keymap uploaded before the
/// keys that use it; when they run out, the text goes on under a keymap of
/// new bindings, and the US keymap comes back after the last key. The
/// keymap travels with the keys, so each application reads every key with
/// the keymap it was typed for. Nothing when the text holds a control
/// character, a surrogate or no character at all.
std::optional<std::vector<DeviceRequest>> planTyping(std::u32string_view text,
                                                     std::size_t spareKeys);

/// The keymap text of `request`: the US keymap with its bindings added.
std::string keymapText(const KeymapRequest& request);

}  // namespace vorn::platform::wayland
