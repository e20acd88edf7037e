// Reading a request dictionary the way both operations do: a key whose value
// has the wrong JSON type counts as absent.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "computer-use/accessibility/ax_core.h"

namespace AXCore {

/// The value under `key`, or null when the request has no such key.
inline const Dictionary* field(const Dictionary& request, const char* key) {
  auto it = request.find(key);
  return it == request.end() ? nullptr : &*it;
}

/// The string under `key`, or nothing when absent or not a string.
inline std::optional<std::string> optionalString(const Dictionary& request, const char* key) {
  const Dictionary* v = field(request, key);
  if (v == nullptr || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

/// The string under `key`, or the empty text.
inline std::string stringField(const Dictionary& request, const char* key) {
  return optionalString(request, key).value_or("");
}

/// A three-key failure: "ok" false, "error", "message".
inline Dictionary failure(std::string_view error, std::string_view message) {
  return {{"ok", false}, {"error", error}, {"message", message}};
}

inline constexpr std::string_view kNotTrusted = "Accessibility is required in the helper process.";

}  // namespace AXCore
