// Exact values of JSON numbers, read from their text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vorn {

/// Why a number's text gave no value of the wanted kind, in words.
struct NumberError {
  std::string text;
};

/// The double nearest to the number `text` (valid JSON number grammar) is,
/// as std::from_chars rounds it: "0e92" is 0, a value too small for a double
/// is a zero of its sign. A value beyond the double range is an error.
std::variant<double, NumberError> jsonNumberToDouble(std::string_view text);

/// The number `text` (valid JSON number grammar) as a 64-bit integer when its
/// exact value is one, however it is written ("5", "5.0", "0.5e1", "-1e3").
/// A fraction, or a value outside the 64-bit range, is an error.
std::variant<std::int64_t, NumberError> jsonNumberToInteger(std::string_view text);

}  // namespace vorn
