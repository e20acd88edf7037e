// How an operation's fields are described, once, for every reader: the
// program that parses a request by them, the JSON Schema documents, and a
// model choosing a tool. Plain constant data, so a program's operation table
// can hold it without pulling in a JSON library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vorn::schema {

/// The JSON type of a field's value.
enum class Type {
  kString,
  kBoolean,
  kInteger,  ///< a whole number, however it is written
  kNumber,
  kStringList,  ///< an array of strings
  kObject,      ///< an object with `members`
  kObjectList,  ///< an array of objects with `members` (any members when none are listed)
  kAny,         ///< any JSON value (one handed back as the caller sent it)
};

/// What an absent field means, as a value of the field's type.
struct Default {
  enum class Kind { kNone, kBoolean, kInteger, kNumber, kString, kEmptyList };
  Kind kind = Kind::kNone;
  bool boolean = false;
  std::int64_t integer = 0;
  double number = 0;
  std::string_view string = {};

  static constexpr Default of(bool b) { return {.kind = Kind::kBoolean, .boolean = b}; }
  static constexpr Default of(std::int64_t i) { return {.kind = Kind::kInteger, .integer = i}; }
  static constexpr Default of(double d) { return {.kind = Kind::kNumber, .number = d}; }
  static constexpr Default of(std::string_view s) { return {.kind = Kind::kString, .string = s}; }
  static constexpr Default emptyList() { return {.kind = Kind::kEmptyList}; }
  constexpr bool given() const { return kind != Kind::kNone; }
};

/// One field of a request or an answer.
struct Field {
  std::string_view name;
  Type type = Type::kString;
  /// One line for a model: what the field means (its default and bounds are
  /// added to it by the schema generator).
  std::string_view description;
  /// The operation refuses a request without it.
  bool required = false;
  /// A text made only of blanks counts as absent (for strings).
  bool notBlank = false;
  Default fallback = {};
  /// Values outside are refused (inclusive bounds).
  std::optional<double> minimum = {};
  std::optional<double> maximum = {};
  /// Values outside are taken as the nearer bound: accepted, not refused.
  std::optional<double> floor = {};
  std::optional<double> ceiling = {};
  /// The only values a string (or each string of a list) may take; empty: any.
  std::span<const std::string_view> allowed = {};
  /// In answers: null stands for "none".
  bool nullable = false;
  /// The members of an object, or of each object of a list. A pointer and a
  /// count rather than a span: a span of the type being defined is not allowed.
  const Field* members = nullptr;
  std::size_t memberCount = 0;

  constexpr std::span<const Field> memberFields() const { return {members, memberCount}; }
};

/// `fields` as the members of an object field.
template <std::size_t N>
constexpr Field withMembers(Field field, const Field (&fields)[N]) {
  field.members = fields;
  field.memberCount = N;
  return field;
}

/// One operation as its callers see it: its name, what it does, what its
/// request carries and what its answers may carry.
struct OperationShape {
  std::string_view name;
  /// One line for a model: what the operation does and what it answers.
  std::string_view description;
  std::span<const Field> request;
  /// The answer's own fields, besides those every answer of the program has.
  std::span<const Field> answer;
};

/// The field named `name`, or null.
constexpr const Field* findField(std::span<const Field> fields, std::string_view name) {
  for (const auto& field : fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

/// The entry of an operation table (entries with a `shape`) named `name`,
/// or null.
template <class Entry>
const Entry* findOperation(std::span<const Entry> table, std::string_view name) {
  for (const auto& entry : table) {
    if (entry.shape.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace vorn::schema
