#include "computer-use/input/key_combination.h"

#include <vector>

#include "common/text.h"

namespace HID {
namespace {

using vorn::platform::Key;
using vorn::platform::MouseButton;
using vorn::platform::MouseEventType;

constexpr KeyName kKeys[] = {
    {"return", Key::kReturn},
    {"enter", Key::kReturn},
    {"tab", Key::kTab},
    {"space", Key::kSpace},
    {"delete", Key::kDelete},
    {"backspace", Key::kDelete},
    {"escape", Key::kEscape},
    {"esc", Key::kEscape},
    {"left", Key::kLeftArrow},
    {"right", Key::kRightArrow},
    {"down", Key::kDownArrow},
    {"up", Key::kUpArrow},
    {"a", Key::kA},
    {"x", Key::kX},
    {"c", Key::kC},
    {"v", Key::kV},
    {"z", Key::kZ},
};

constexpr ModifierName kModifiers[] = {
    {"cmd", vorn::platform::kCommandFlag},     {"command", vorn::platform::kCommandFlag},
    {"meta", vorn::platform::kCommandFlag},    {"shift", vorn::platform::kShiftFlag},
    {"opt", vorn::platform::kAlternateFlag},   {"option", vorn::platform::kAlternateFlag},
    {"alt", vorn::platform::kAlternateFlag},   {"ctrl", vorn::platform::kControlFlag},
    {"control", vorn::platform::kControlFlag},
};

std::optional<Key> keyNamed(std::string_view name) {
  for (const auto& entry : kKeys) {
    if (entry.name == name) return entry.key;
  }
  return std::nullopt;
}

std::optional<vorn::platform::ModifierFlags> modifierNamed(std::string_view name) {
  for (const auto& entry : kModifiers) {
    if (entry.name == name) return entry.flag;
  }
  return std::nullopt;
}

std::vector<std::string_view> nonEmptyPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  while (true) {
    auto plus = text.find('+');
    std::string_view piece = text.substr(0, plus);
    if (!piece.empty()) pieces.push_back(piece);
    if (plus == std::string_view::npos) return pieces;
    text.remove_prefix(plus + 1);
  }
}

}  // namespace

std::span<const KeyName> keyTable() { return kKeys; }
std::span<const ModifierName> modifierTable() { return kModifiers; }

std::string normalizeKeyText(std::string_view text) {
  return vorn::text::lowercase(vorn::text::trim(text));
}

std::optional<KeyCombination> parseKeyCombination(std::string_view normalized) {
  auto pieces = nonEmptyPieces(normalized);
  if (pieces.size() < 2) {
    auto key = keyNamed(normalized);
    if (!key) return std::nullopt;
    return KeyCombination{*key};
  }
  auto key = keyNamed(pieces.back());
  if (!key) return std::nullopt;
  KeyCombination combination{*key};
  for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
    auto flag = modifierNamed(pieces[i]);
    if (!flag) return std::nullopt;
    combination.flags |= *flag;
  }
  return combination;
}

ButtonChoice buttonNamed(std::string_view lowercasedName) {
  if (lowercasedName == "right") {
    return {MouseButton::kRight, MouseEventType::kRightMouseDown, MouseEventType::kRightMouseUp};
  }
  if (lowercasedName == "middle") {
    return {MouseButton::kCenter, MouseEventType::kOtherMouseDown, MouseEventType::kOtherMouseUp};
  }
  return {MouseButton::kLeft, MouseEventType::kLeftMouseDown, MouseEventType::kLeftMouseUp};
}

}  // namespace HID
