// One JSON text into a document: nlohmann/json's lexer and parser, with a
// document builder of our own that bounds nesting (the library's builds it on
// the heap without limit, and writing such a document back recurses) and
// keeps the literal text of a numeric top-level "id", which a JSON-RPC answer
// must echo as the client wrote it.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace vorn::mcp {

/// The deepest nesting of arrays and objects a message may have.
inline constexpr std::size_t kMaxNesting = 256;

struct JsonDocument {
  nlohmann::json value;
  /// When the value is an object whose (last) "id" member is a number: that
  /// number as written (an integer as its decimal digits).
  std::optional<std::string> numericIdText;
};

/// The document `text` holds, or nothing when it is not exactly one JSON
/// value in UTF-8, or nests deeper than `kMaxNesting`.
std::optional<JsonDocument> readJson(std::string_view text);

}  // namespace vorn::mcp
