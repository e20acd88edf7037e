#include "computer-use/input/hid.h"

#include <utf8proc.h>
#include <cmath>
#include <cstdio>

#include "common/text.h"
#include "computer-use/input/key_combination.h"

namespace HID {
namespace {

using vorn::platform::InputEvent;
using vorn::platform::KeyboardEvent;
using vorn::platform::MouseButton;
using vorn::platform::MouseEvent;
using vorn::platform::MouseEventType;

constexpr std::string_view kNotTrusted = "Accessibility is required in the helper process.";
constexpr std::string_view kNoKeyEvents = "CGEventSource unavailable.";
constexpr std::string_view kNoMouseEvents = "Failed to create mouse events.";
constexpr std::string_view kCannotType = "Text cannot be typed.";

Outcome refused(std::string_view reason) { return {false, std::string(reason)}; }

// A window system clamps a far-off point onto the screen's edge, so a click
// meant for nowhere would land somewhere: it is refused instead.
bool onScreen(double x, double y, vorn::platform::InputDevice& input) {
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  auto area = input.screenArea();
  return !area || area->contains(x, y);
}

bool post(vorn::platform::InputDevice& input, std::span<const InputEvent> events) {
  auto source = input.createEventSource();
  return source && source->post(events);
}

}  // namespace

Outcome postKeypress(std::string_view key, vorn::platform::InputDevice& input) {
  if (!input.trusted()) return refused(kNotTrusted);
  std::string normalized = normalizeKeyText(key);
  auto combination = parseKeyCombination(normalized);
  if (!combination) return refused("Unsupported key '" + std::string(key) + "'.");
  const InputEvent events[] = {
      KeyboardEvent{combination->key, true, combination->flags},
      KeyboardEvent{combination->key, false, combination->flags},
  };
  if (!post(input, events)) return refused(kNoKeyEvents);
  return {true, "hid:" + normalized};
}

Outcome postClick(double x, double y, std::string_view button, vorn::platform::InputDevice& input) {
  if (!input.trusted()) return refused(kNotTrusted);
  if (!onScreen(x, y, input)) {
    return refused("Click position " + coordinateText(x) + "," + coordinateText(y) +
                   " is outside the screen.");
  }
  std::string name = vorn::text::lowercase(button);
  ButtonChoice choice = buttonNamed(name);
  const InputEvent events[] = {
      MouseEvent{MouseEventType::kMouseMoved, x, y, MouseButton::kLeft},
      MouseEvent{choice.down, x, y, choice.button, 1},
      MouseEvent{choice.up, x, y, choice.button, 1},
  };
  if (!post(input, events)) return refused(kNoMouseEvents);
  return {true, "click_xy:" + name + ":" + coordinateText(x) + "," + coordinateText(y)};
}

Outcome typeText(std::string_view text, vorn::platform::InputDevice& input) {
  if (!input.trusted()) return refused(kNotTrusted);
  std::u32string characters;
  auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    utf8proc_int32_t c = 0;
    auto n = utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(text.size() - i), &c);
    if (n <= 0) return refused(kCannotType);
    characters.push_back(static_cast<char32_t>(c));
    i += static_cast<std::size_t>(n);
  }
  auto source = input.createEventSource();
  if (!source || !source->typeText(characters)) return refused(kCannotType);
  return {true, std::nullopt};
}

std::string coordinateText(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  // Adding 0.0 turns the -0.0 that truncating -0.5 gives into 0.
  double whole = std::trunc(v) + 0.0;
  if (whole >= -9223372036854775808.0 && whole < 9223372036854775808.0) {
    return std::to_string(static_cast<long long>(whole));
  }
  // Beyond 64 bits: the exact decimal value of the double.
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.0f", whole);
  return buffer;
}

Outcome keypress(const KeypressRequest& request, vorn::platform::Platform& platform) {
  return postKeypress(request.key, platform.input);
}

Outcome clickXY(const ClickRequest& request, vorn::platform::Platform& platform) {
  return postClick(request.x, request.y, request.button, platform.input);
}

}  // namespace HID
