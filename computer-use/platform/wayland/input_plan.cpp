#include "computer-use/platform/wayland/input_plan.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "computer-use/platform/wayland/wayland_outputs.h"
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

// The keysym that types `c`: the Latin-1 keysyms for their characters, the
// Unicode keysyms for the rest; none for control characters and surrogates.
std::optional<std::uint32_t> keysymOf(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
    return std::nullopt;
  }
  if (c < 0x100) return static_cast<std::uint32_t>(c);
  return 0x01000000u | static_cast<std::uint32_t>(c);
}

const keymap::TypedKey* typedKey(char32_t c) {
  auto* end = std::end(keymap::kTypedKeys);
  auto* at =
      std::lower_bound(std::begin(keymap::kTypedKeys), end, c,
                       [](const keymap::TypedKey& k, char32_t v) { return k.character < v; });
  return at != end && at->character == c ? at : nullptr;
}

class Planner {
 public:
  explicit Planner(std::span<const Frame> outputs)
      : outputs_(outputs), layout_(boundingBox({outputs.begin(), outputs.end()})) {}

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

  /// Presses and releases the key `code`, Shift held when `shifted`.
  void type(std::uint32_t code, bool shifted) {
    holdModifiers(shifted ? kShiftFlag : 0);
    requests_.push_back(KeyRequest{code, true});
    requests_.push_back(KeyRequest{code, false});
  }

  /// Everything released, then the keymap changed.
  void changeKeymap(KeymapRequest keymap) {
    holdModifiers(0);
    requests_.push_back(std::move(keymap));
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
    const double px = std::floor(x), py = std::floor(y);
    auto holds = [&](const Frame& o) {
      return px >= o.x && py >= o.y && px < o.x + o.width && py < o.y + o.height;
    };
    if (std::none_of(outputs_.begin(), outputs_.end(), holds)) return std::nullopt;
    double dx = px - layout_.x, dy = py - layout_.y;
    return MotionRequest{static_cast<std::uint32_t>(dx), static_cast<std::uint32_t>(dy),
                         static_cast<std::uint32_t>(layout_.width),
                         static_cast<std::uint32_t>(layout_.height)};
  }

  std::span<const Frame> outputs_;
  Frame layout_;
  std::vector<DeviceRequest> requests_;
  ModifierFlags held_ = 0;
  std::uint32_t mask_ = 0;
  // Where the pointer was last sent (a plain pair, not an optional: GCC 12
  // misreads the comparison of a disengaged one as uninitialised).
  MotionRequest at_;
  bool moved_ = false;
};

// The keys of a stretch of text typed under one keymap, and that keymap's
// bindings; the stretch ends when a character needs a spare key and none is
// left.
class TypingStretch {
 public:
  explicit TypingStretch(std::size_t spareKeys) : spareKeys_(spareKeys) {}

  /// False when the character needs a binding and none is left.
  bool add(std::uint32_t keysym) {
    for (const auto& b : bindings_) {
      if (b.keysym == keysym) return keys(b.spare);
    }
    if (bindings_.size() == spareKeys_) return false;
    bindings_.push_back(Binding{bindings_.size(), keysym});
    return keys(bindings_.back().spare);
  }
  void add(std::uint32_t code, bool shifted) { keys_.push_back({code, shifted}); }

  bool empty() const { return keys_.empty(); }

  /// Types the stretch; its keymap goes first when it binds anything.
  /// True when it did.
  bool typeInto(Planner& planner) {
    bool bound = !bindings_.empty();
    if (bound) planner.changeKeymap(KeymapRequest{std::move(bindings_)});
    for (const auto& [code, shifted] : keys_) planner.type(code, shifted);
    bindings_.clear();
    keys_.clear();
    return bound;
  }

 private:
  bool keys(std::size_t spare) {
    keys_.push_back({keymap::kSpareKeys[spare].code, false});
    return true;
  }

  std::size_t spareKeys_;
  std::vector<Binding> bindings_;
  std::vector<std::pair<std::uint32_t, bool>> keys_;
};

}  // namespace

std::optional<std::vector<DeviceRequest>> planTyping(std::u32string_view text,
                                                     std::size_t spareKeys) {
  spareKeys = std::min(spareKeys, std::size(keymap::kSpareKeys));
  Planner planner({});
  TypingStretch stretch(spareKeys);
  bool rebound = false;
  for (char32_t c : text) {
    if (c == U'\n' || c == U'\t') {
      stretch.add(c == U'\n' ? KEY_ENTER : KEY_TAB, false);
      continue;
    }
    auto keysym = keysymOf(c);
    if (!keysym) return std::nullopt;
    if (const auto* key = typedKey(c)) {
      stretch.add(key->code, key->shifted);
    } else if (!stretch.add(*keysym)) {
      if (spareKeys == 0) return std::nullopt;
      rebound |= stretch.typeInto(planner);
      stretch.add(*keysym);
    }
  }
  rebound |= stretch.typeInto(planner);
  if (rebound) planner.changeKeymap(KeymapRequest{});
  return planner.finish();
}

std::string keymapText(const KeymapRequest& request) {
  std::string_view us(keymap::kKeymapText, sizeof keymap::kKeymapText - 1);
  std::string text(us.substr(0, keymap::kSymbolsEnd));
  char line[96];
  for (const auto& b : request.bindings) {
    std::snprintf(line, sizeof line, "\tkey <%s> { [ 0x%08x ] };\n",
                  keymap::kSpareKeys[b.spare].name, b.keysym);
    text += line;
  }
  text += us.substr(keymap::kSymbolsEnd);
  return text;
}

std::optional<std::vector<DeviceRequest>> planRequests(std::span<const InputEvent> events,
                                                       std::span<const Frame> outputs) {
  Planner planner(outputs);
  for (const auto& event : events) {
    bool made = std::visit([&](const auto& e) { return planner.add(e); }, event);
    if (!made) return std::nullopt;
  }
  return planner.finish();
}

}  // namespace vorn::platform::wayland
