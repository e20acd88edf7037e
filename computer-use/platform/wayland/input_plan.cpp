#include "computer-use/platform/wayland/input_plan.h"

#include <linux/input-event-codes.h>

#include <cmath>

#include "us_keymap.h"

namespace vorn::platform::wayland {
namespace {

namespace keymap = generated;

struct KeyCode {
  Key key;
  std::uint32_t code;
};

// Positions of the US layout that carry the keysyms the keys are named after
// (checked against the keymap when it is generated).
constexpr KeyCode kKeyCodes[] = {
    {Key::kA, KEY_A},
    {Key::kZ, KEY_Z},
    {Key::kX, KEY_X},
    {Key::kC, KEY_C},
    {Key::kV, KEY_V},
    {Key::kReturn, KEY_ENTER},
    {Key::kTab, KEY_TAB},
    {Key::kSpace, KEY_SPACE},
    {Key::kDelete, KEY_BACKSPACE},
    {Key::kEscape, KEY_ESC},
    {Key::kLeftArrow, KEY_LEFT},
    {Key::kRightArrow, KEY_RIGHT},
    {Key::kDownArrow, KEY_DOWN},
    {Key::kUpArrow, KEY_UP},
};

struct ModifierKey {
  ModifierFlags flag;
  std::uint32_t code;
  std::uint32_t mask;
};

// Pressed in this order, released in the reverse one.
constexpr ModifierKey kModifierKeys[] = {
    {kControlFlag, KEY_LEFTCTRL, keymap::kControlMask},
    {kAlternateFlag, KEY_LEFTALT, keymap::kAltMask},
    {kShiftFlag, KEY_LEFTSHIFT, keymap::kShiftMask},
    {kCommandFlag, KEY_LEFTMETA, keymap::kSuperMask},
};

std::optional<std::uint32_t> codeOf(Key key) {
  for (const auto& k : kKeyCodes) {
    if (k.key == key) return k.code;
  }
  return std::nullopt;
}

std::uint32_t buttonCode(MouseButton button) {
  switch (button) {
    case MouseButton::kRight:
      return BTN_RIGHT;
    case MouseButton::kCenter:
      return BTN_MIDDLE;
    case MouseButton::kLeft:
      break;
  }
  return BTN_LEFT;
}

bool isDown(MouseEventType type) {
  return type == MouseEventType::kLeftMouseDown || type == MouseEventType::kRightMouseDown ||
         type == MouseEventType::kOtherMouseDown;
}

class Planner {
 public:
  explicit Planner(const Frame& layout) : layout_(layout) {}

  bool add(const KeyboardEvent& e) {
    auto code = codeOf(e.key);
    if (!code) return false;
    holdModifiers(e.flags);
    requests_.push_back(KeyRequest{*code, e.keyDown});
    return true;
  }

  bool add(const MouseEvent& e) {
    auto point = pointOf(e.x, e.y);
    if (!point) return false;
    if (!moved_ || !(at_ == *point)) {
      requests_.push_back(*point);
      requests_.push_back(FrameRequest{});
      at_ = *point;
      moved_ = true;
    }
    if (e.type == MouseEventType::kScrollWheel) {
      wheel(true, e.wheelDown);
      wheel(false, e.wheelRight);
    } else if (e.type != MouseEventType::kMouseMoved) {
      requests_.push_back(ButtonRequest{buttonCode(e.button), isDown(e.type)});
      requests_.push_back(FrameRequest{});
    }
    return true;
  }

  std::vector<DeviceRequest> finish() {
    holdModifiers(0);
    return std::move(requests_);
  }

 private:
  // Presses the modifiers of `flags` not yet held and releases those held
  // but not in `flags`, telling the keyboard's modifier state after each.
  void holdModifiers(ModifierFlags flags) {
    for (auto it = std::rbegin(kModifierKeys); it != std::rend(kModifierKeys); ++it) {
      if ((held_ & it->flag) && !(flags & it->flag)) change(*it, false);
    }
    for (const auto& m : kModifierKeys) {
      if ((flags & m.flag) && !(held_ & m.flag)) change(m, true);
    }
  }

  void change(const ModifierKey& m, bool pressed) {
    held_ = pressed ? held_ | m.flag : held_ & ~m.flag;
    mask_ = pressed ? mask_ | m.mask : mask_ & ~m.mask;
    requests_.push_back(KeyRequest{m.code, pressed});
    requests_.push_back(ModifiersRequest{mask_});
  }

  // One request and frame per step: toolkits turn each discrete step of a
  // frame into one scroll event at most.
  void wheel(bool vertical, std::int32_t steps) {
    for (std::int32_t i = 0; i < std::abs(steps); ++i) {
      requests_.push_back(WheelRequest{vertical, steps > 0});
      requests_.push_back(FrameRequest{});
    }
  }

  std::optional<MotionRequest> pointOf(double x, double y) const {
    if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    double dx = std::floor(x - layout_.x), dy = std::floor(y - layout_.y);
    if (dx < 0 || dy < 0 || dx >= layout_.width || dy >= layout_.height) return std::nullopt;
    return MotionRequest{static_cast<std::uint32_t>(dx), static_cast<std::uint32_t>(dy),
                         static_cast<std::uint32_t>(layout_.width),
                         static_cast<std::uint32_t>(layout_.height)};
  }

  Frame layout_;
  std::vector<DeviceRequest> requests_;
  ModifierFlags held_ = 0;
  std::uint32_t mask_ = 0;
  // Where the pointer was last sent (a plain pair, not an optional: GCC 12
  // misreads the comparison of a disengaged one as uninitialised).
  MotionRequest at_;
  bool moved_ = false;
};

}  // namespace

std::optional<std::vector<DeviceRequest>> planRequests(std::span<const InputEvent> events,
                                                       const Frame& layout) {
  Planner planner(layout);
  for (const auto& event : events) {
    bool made = std::visit([&](const auto& e) { return planner.add(e); }, event);
    if (!made) return std::nullopt;
  }
  return planner.finish();
}

}  // namespace vorn::platform::wayland
