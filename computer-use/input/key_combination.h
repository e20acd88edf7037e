// The key-combination syntax and the key, modifier and button tables.
// "cmd+shift+z": modifier names, then one key name, joined by "+".
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "computer-use/platform/platform.h"

namespace HID {

/// A key with the modifiers to hold around it.
struct KeyCombination {
  vorn::platform::Key key;
  vorn::platform::ModifierFlags flags = 0;

  bool operator==(const KeyCombination&) const = default;
};

struct KeyName {
  std::string_view name;
  vorn::platform::Key key;
};

struct ModifierName {
  std::string_view name;
  vorn::platform::ModifierFlags flag;
};

/// Every key name a combination may end in, with its key.
std::span<const KeyName> keyTable();
/// Every modifier name, with its flag.
std::span<const ModifierName> modifierTable();

/// `text` without white space and line breaks at either end, lowercased: the
/// form that is parsed and that the outcome reports.
std::string normalizeKeyText(std::string_view text);

/// Reads a normalised combination: split at every "+" with empty pieces
/// dropped; fewer than two pieces make the whole text the key name (so "cmd+"
/// names the key "cmd+"); otherwise the last piece is the key and all earlier
/// ones are modifiers. Nothing when a name is not in the tables. Blanks are
/// not removed, so "cmd + a" is refused.
std::optional<KeyCombination> parseKeyCombination(std::string_view normalized);

/// The button a (lowercased) button name chooses with its down and up event
/// types: "right", "middle", and the left button for any other name.
struct ButtonChoice {
  vorn::platform::MouseButton button;
  vorn::platform::MouseEventType down;
  vorn::platform::MouseEventType up;
};
ButtonChoice buttonNamed(std::string_view lowercasedName);

}  // namespace HID
