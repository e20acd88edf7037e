// Every event of an operation is made first (keycodes resolved, points
// checked) and only then posted, so a refusal posts nothing. The events go
// out back to back and one XSync waits for the server to have taken them; no
// sleeps anywhere.
#include "computer-use/platform/linux/x11_input.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <set>
#include <span>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace vorn::platform::x11 {
namespace {

struct KeySymOfKey {
  Key key;
  KeySym keysym;
};

constexpr KeySymOfKey kKeySyms[] = {
    {Key::kA, XK_a},
    {Key::kZ, XK_z},
    {Key::kX, XK_x},
    {Key::kC, XK_c},
    {Key::kV, XK_v},
    {Key::kReturn, XK_Return},
    {Key::kTab, XK_Tab},
    {Key::kSpace, XK_space},
    {Key::kDelete, XK_BackSpace},
    {Key::kEscape, XK_Escape},
    {Key::kLeftArrow, XK_Left},
    {Key::kRightArrow, XK_Right},
    {Key::kDownArrow, XK_Down},
    {Key::kUpArrow, XK_Up},
};

struct ModifierKey {
  ModifierFlags flag;
  KeySym keysym;
  int mapIndex;  // the modifier a freshly bound keycode is added to
};

// Pressed in this order, released in the reverse one.
constexpr ModifierKey kModifierKeys[] = {
    {kControlFlag, XK_Control_L, ControlMapIndex},
    {kAlternateFlag, XK_Alt_L, Mod1MapIndex},
    {kShiftFlag, XK_Shift_L, ShiftMapIndex},
    {kCommandFlag, XK_Super_L, Mod4MapIndex},
};

unsigned int buttonNumber(MouseButton button) {
  switch (button) {
    case MouseButton::kRight:
      return 3;
    case MouseButton::kCenter:
      return 2;
    case MouseButton::kLeft:
      break;
  }
  return 1;
}

bool isButtonDown(MouseEventType type) {
  return type == MouseEventType::kLeftMouseDown || type == MouseEventType::kRightMouseDown ||
         type == MouseEventType::kOtherMouseDown;
}

}  // namespace

// The server's keysym table, fetched in one round trip and kept until the
// keymap changes. Xlib's own lookup would fetch the modifier map as well.
class XTestInput::Keymap {
 public:
  explicit Keymap(Display* display) : display_(display) {
    XDisplayKeycodes(display, &first_, &last_);
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(first_), last_ - first_ + 1,
                                      &perKeycode_);
    if (map == nullptr) return;
    keysyms_.assign(map, map + (last_ - first_ + 1) * perKeycode_);
    XFree(map);
    typing_ = recordedTypingKeycodes();
  }

  /// The keycode that carries `keysym` (the lowest column wins, as in
  /// XKeysymToKeycode), binding a spare keycode to it when none does; 0 when
  /// there is no spare one. A spare modifier key joins `modifier` too.
  KeyCode keycodeFor(KeySym keysym, std::optional<int> modifier = std::nullopt) {
    for (int column = 0; column < perKeycode_; ++column) {
      for (int code = first_; code <= last_; ++code) {
        if (at(code, column) == keysym) return static_cast<KeyCode>(code);
      }
    }
    return bindSpareKeycode(keysym, modifier);
  }

  /// Where `keysym` is typed: its keycode and whether Shift is held (the
  /// first two columns only: the others need modifiers the layout chooses).
  std::optional<std::pair<KeyCode, bool>> typedAt(KeySym keysym) {
    for (int column = 0; column < std::min(perKeycode_, 2); ++column) {
      for (int code = first_; code <= last_; ++code) {
        if (at(code, column) == keysym) return std::pair{static_cast<KeyCode>(code), column == 1};
      }
    }
    return std::nullopt;
  }

  /// Binds `keysym` for typing: to a spare keycode, else to one bound so
  /// before that `inUse` does not hold (the oldest first); 0 when neither is
  /// left.
  KeyCode bindForTyping(KeySym keysym, const std::set<KeyCode>& inUse) {
    KeyCode code = bindSpareKeycode(keysym, std::nullopt);
    for (auto it = typing_.begin(); code == 0 && it != typing_.end(); ++it) {
      if (inUse.contains(*it)) continue;
      code = *it;
      typing_.erase(it);
      bind(code, keysym);
    }
    if (code == 0) return 0;
    typing_.push_back(code);
    recordTypingKeycodes();
    return code;
  }

 private:
  KeySym& at(int code, int column) {
    return keysyms_[static_cast<std::size_t>((code - first_) * perKeycode_ + column)];
  }

  // Bindings for typing stay after the process ends (see bindSpareKeycode),
  // so the keycodes they took are listed on the root window, each with the
  // keysym it was given: the next helper may bind them anew instead of
  // finding no spare keycode left. One whose keysym changed since (a new
  // layout loaded) is no longer ours.
  Atom typingAtom() { return XInternAtom(display_, "_VORN_TYPING_KEYCODES", False); }

  std::vector<KeyCode> recordedTypingKeycodes() {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<KeyCode> codes;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_), typingAtom(), 0, 512, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
      const auto* pairs = reinterpret_cast<const unsigned long*>(data);
      for (unsigned long i = 0; i + 1 < count; i += 2) {
        auto code = static_cast<long>(pairs[i]);
        if (code < first_ || code > last_ || perKeycode_ == 0) continue;
        if (at(static_cast<int>(code), 0) == pairs[i + 1]) {
          codes.push_back(static_cast<KeyCode>(code));
        }
      }
    }
    if (data != nullptr) XFree(data);
    return codes;
  }

  void recordTypingKeycodes() {
    std::vector<unsigned long> pairs;  // Xlib's format 32 is an array of long
    for (KeyCode code : typing_) pairs.insert(pairs.end(), {code, at(code, 0)});
    XChangeProperty(display_, DefaultRootWindow(display_), typingAtom(), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(pairs.data()),
                    static_cast<int>(pairs.size()));
  }

  // From the top: low keycodes are the physical keyboard's.
  KeyCode spareKeycode() {
    for (int code = last_; code >= first_ && perKeycode_ > 0; --code) {
      bool unused = true;
      for (int column = 0; column < perKeycode_; ++column) unused &= at(code, column) == NoSymbol;
      if (unused) return static_cast<KeyCode>(code);
    }
    return 0;
  }

  // The keysym stays bound: undoing it at once would race with clients that
  // read the new keymap only after our events.
  KeyCode bindSpareKeycode(KeySym keysym, std::optional<int> modifier) {
    KeyCode code = spareKeycode();
    if (code == 0) return 0;
    bind(code, keysym);
    if (modifier) {
      XModifierKeymap* modifiers = XGetModifierMapping(display_);
      if (modifiers != nullptr) {
        modifiers = XInsertModifiermapEntry(modifiers, code, *modifier);
        XSetModifierMapping(display_, modifiers);
        XFreeModifiermap(modifiers);
      }
    }
    return code;
  }

  // Both cases of a letter go on one keycode, as on a keyboard.
  void bind(KeyCode code, KeySym keysym) {
    KeySym lower = NoSymbol, upper = NoSymbol;
    XConvertCase(keysym, &lower, &upper);
    KeySym row[2] = {lower, upper};
    XChangeKeyboardMapping(display_, code, 2, row, 1);
    for (int column = 0; column < perKeycode_; ++column) at(code, column) = NoSymbol;
    at(code, 0) = lower;
    if (perKeycode_ > 1) at(code, 1) = upper;
  }

  Display* display_;
  int first_ = 0;
  int last_ = -1;
  int perKeycode_ = 0;
  std::vector<KeySym> keysyms_;
  std::vector<KeyCode> typing_;  // bound for typing, oldest first
};

namespace {

// One XTest request.
struct Step {
  enum Kind { kKey, kMotion, kButton } kind;
  unsigned int code;  // keycode or button number
  bool press;
  int x = 0;
  int y = 0;
};

class StepBuilder {
 public:
  StepBuilder(Display* display, XTestInput::Keymap& keymap) : display_(display), keymap_(keymap) {}

  bool add(const KeyboardEvent& event) {
    KeySym keysym = NoSymbol;
    for (const auto& entry : kKeySyms) {
      if (entry.key == event.key) keysym = entry.keysym;
    }
    KeyCode key = keysym == NoSymbol ? 0 : keymap_.keycodeFor(keysym);
    if (key == 0) return false;
    std::vector<Step> modifiers;
    for (const auto& m : kModifierKeys) {
      if ((event.flags & m.flag) == 0) continue;
      KeyCode code = keymap_.keycodeFor(m.keysym, m.mapIndex);
      if (code == 0) return false;
      modifiers.push_back({Step::kKey, code, event.keyDown});
    }
    Step keyStep{Step::kKey, key, event.keyDown};
    if (event.keyDown) {
      steps_.insert(steps_.end(), modifiers.begin(), modifiers.end());
      steps_.push_back(keyStep);
    } else {
      steps_.push_back(keyStep);
      steps_.insert(steps_.end(), modifiers.rbegin(), modifiers.rend());
    }
    return true;
  }

  bool add(const MouseEvent& event) {
    int screen = DefaultScreen(display_);
    auto x = pixelCoordinate(event.x, DisplayWidth(display_, screen));
    auto y = pixelCoordinate(event.y, DisplayHeight(display_, screen));
    if (!x || !y) return false;
    // Button events happen where the pointer is; move it there unless the
    // previous event of this operation already did.
    if (event.type == MouseEventType::kMouseMoved || !moved_ || *x != pointerX_ ||
        *y != pointerY_) {
      steps_.push_back({Step::kMotion, 0, false, *x, *y});
      moved_ = true;
      pointerX_ = *x;
      pointerY_ = *y;
    }
    if (event.type == MouseEventType::kScrollWheel) {
      addWheel(event.wheelDown, 5, 4);
      addWheel(event.wheelRight, 7, 6);
    } else if (event.type != MouseEventType::kMouseMoved) {
      steps_.push_back({Step::kButton, buttonNumber(event.button), isButtonDown(event.type)});
    }
    return true;
  }

  // X11 has no wheel events: a wheel step is a click of button 4 (up), 5
  // (down), 6 (left) or 7 (right).
  void addWheel(std::int32_t steps, unsigned int forward, unsigned int backward) {
    unsigned int button = steps > 0 ? forward : backward;
    // A page is a few steps; a wild count must not flood the server.
    std::int64_t count = std::min<std::int64_t>(std::abs(static_cast<std::int64_t>(steps)), 100);
    for (std::int64_t i = 0; i < count; ++i) {
      steps_.push_back({Step::kButton, button, true});
      steps_.push_back({Step::kButton, button, false});
    }
  }

  void post() const {
    int screen = DefaultScreen(display_);
    for (const Step& s : steps_) {
      switch (s.kind) {
        case Step::kKey:
          XTestFakeKeyEvent(display_, s.code, s.press ? True : False, CurrentTime);
          break;
        case Step::kMotion:
          XTestFakeMotionEvent(display_, screen, s.x, s.y, CurrentTime);
          break;
        case Step::kButton:
          XTestFakeButtonEvent(display_, s.code, s.press ? True : False, CurrentTime);
          break;
      }
    }
    XSync(display_, False);
  }

 private:
  Display* display_;
  XTestInput::Keymap& keymap_;
  std::vector<Step> steps_;
  bool moved_ = false;  // where the last motion of this operation left the pointer
  int pointerX_ = 0;
  int pointerY_ = 0;
};

// The keysym that types `c`: Return and Tab for line feeds and tabs, the
// Latin-1 keysyms for their characters, the Unicode keysyms for the rest;
// none for other control characters.
KeySym typedKeysym(char32_t c) {
  if (c == U'\n') return XK_Return;
  if (c == U'\t') return XK_Tab;
  if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
    return NoSymbol;
  }
  if (c < 0x100) return static_cast<KeySym>(c);
  return static_cast<KeySym>(0x01000000u | c);
}

// Presses and releases each key, Shift held where the key wants it.
bool typeKeys(Display* display, const std::vector<std::pair<KeyCode, bool>>& keys, KeyCode shift) {
  for (const auto& [code, shifted] : keys) {
    if (shifted && shift == 0) return false;
  }
  for (const auto& [code, shifted] : keys) {
    if (shifted) XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shifted) XTestFakeKeyEvent(display, shift, False, CurrentTime);
  }
  XSync(display, False);
  return true;
}

class XTestEventSource final : public EventSource {
 public:
  XTestEventSource(Connection::Lease lease, XTestInput& input)
      : lease_(std::move(lease)), input_(input) {}

  bool typeText(std::u32string_view text) override {
    std::vector<KeySym> keysyms;
    for (char32_t c : text) {
      KeySym keysym = typedKeysym(c);
      if (keysym == NoSymbol) return false;
      keysyms.push_back(keysym);
    }
    Display* display = lease_.display();
    XTestInput::Keymap& keymap = input_.keymap(lease_);
    KeyCode shift = keymap.keycodeFor(XK_Shift_L, ShiftMapIndex);
    std::vector<std::pair<KeyCode, bool>> keys;
    std::set<KeyCode> inUse;
    for (KeySym keysym : keysyms) {
      auto key = keymap.typedAt(keysym);
      if (!key) {
        KeyCode code = keymap.bindForTyping(keysym, inUse);
        if (code == 0) {
          // Every keycode that can be bound carries a character still to be
          // typed: type what is there before binding them anew. No event
          // tells when the application has read those keys with the old
          // binding, so a short pause stands in for one.
          if (!typeKeys(display, keys, shift)) return false;
          keys.clear();
          inUse.clear();
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          code = keymap.bindForTyping(keysym, inUse);
        }
        key = keymap.typedAt(keysym);
        if (code == 0 || !key) return false;
      }
      inUse.insert(key->first);
      keys.push_back(*key);
    }
    return typeKeys(display, keys, shift) && !lease_.broken();
  }

  bool post(std::span<const InputEvent> events) override {
    StepBuilder steps(lease_.display(), input_.keymap(lease_));
    for (const auto& event : events) {
      bool made = std::visit([&](const auto& e) { return steps.add(e); }, event);
      if (!made || lease_.broken()) return false;
    }
    steps.post();
    return !lease_.broken();
  }

 private:
  Connection::Lease lease_;
  XTestInput& input_;
};

}  // namespace

std::optional<int> pixelCoordinate(double v, int extent) {
  if (!std::isfinite(v)) return std::nullopt;
  double pixel = std::floor(v);
  if (pixel < 0 || pixel >= extent) return std::nullopt;
  return static_cast<int>(pixel);
}

std::optional<ScreenArea> XTestInput::screenArea() {
  auto lease = connection_.lease();
  if (!lease || lease->broken()) return std::nullopt;
  Display* display = lease->display();
  int screen = DefaultScreen(display);
  return ScreenArea{0, 0, static_cast<double>(DisplayWidth(display, screen)),
                    static_cast<double>(DisplayHeight(display, screen))};
}

bool XTestInput::hasXTest(const Connection::Lease& lease) {
  if (checkedGeneration_ != lease.generation()) {
    int event = 0, error = 0, major = 0, minor = 0;
    xtest_ = XTestQueryExtension(lease.display(), &event, &error, &major, &minor) != 0;
    checkedGeneration_ = lease.generation();
  }
  return xtest_ && !lease.broken();
}

bool XTestInput::trusted() {
  auto lease = connection_.lease();
  return lease && hasXTest(*lease);
}

std::unique_ptr<EventSource> XTestInput::createEventSource() {
  auto lease = connection_.lease();
  if (!lease || !hasXTest(*lease)) return nullptr;
  return std::make_unique<XTestEventSource>(std::move(*lease), *this);
}

XTestInput::XTestInput(Connection& connection) : connection_(connection) {}
XTestInput::~XTestInput() = default;

XTestInput::Keymap& XTestInput::keymap(const Connection::Lease& lease) {
  if (!keymap_ || keymapEpoch_ != lease.keymapEpoch()) {
    keymap_ = std::make_unique<Keymap>(lease.display());
    keymapEpoch_ = lease.keymapEpoch();
  }
  return *keymap_;
}

}  // namespace vorn::platform::x11
