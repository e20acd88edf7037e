// A number is read from its own text, never through an approximation of it:
// the digits and the exponent are taken apart exactly, so where the first and
// the last significant digit stand (is it a whole number? how large?) is
// decided on the decimal text, and std::from_chars makes the one rounding.
#include "agent-runner/protocol/json_number.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <system_error>

namespace vorn {
namespace {

// Far beyond the place any digit of a request can stand at, and safe to add.
constexpr long long kExponentCap = 1'000'000'000'000'000;
// 10^19 exceeds every 64-bit integer.
constexpr long long kIntegerPlaces = 19;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// value = (integer "." fraction) × 10^exponent
struct Decimal {
  bool negative = false;
  std::string_view integer;
  std::string_view fraction;
  long long exponent = 0;

  std::size_t size() const { return integer.size() + fraction.size(); }
  char digit(std::size_t k) const {
    return k < integer.size() ? integer[k] : fraction[k - integer.size()];
  }
  // The power of ten the k-th digit stands for.
  long long place(std::size_t k) const {
    return static_cast<long long>(integer.size()) - 1 - static_cast<long long>(k) + exponent;
  }
};

std::string_view digitsAt(std::string_view text, std::size_t& i) {
  std::size_t start = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  return text.substr(start, i - start);
}

Decimal split(std::string_view text) {
  Decimal d;
  std::size_t i = 0;
  if (i < text.size() && text[i] == '-') {
    d.negative = true;
    ++i;
  }
  d.integer = digitsAt(text, i);
  if (i < text.size() && text[i] == '.') d.fraction = digitsAt(text, ++i);
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    bool minus = ++i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    long long e = 0;
    for (char c : digitsAt(text, i)) e = std::min(e * 10 + (c - '0'), kExponentCap);
    d.exponent = minus ? -e : e;
  }
  return d;
}

// The indices of the first and the last digit that is not 0; none for zero.
std::optional<std::pair<std::size_t, std::size_t>> significantDigits(const Decimal& d) {
  std::size_t first = 0, last = d.size();
  while (first < d.size() && d.digit(first) == '0') ++first;
  if (first == d.size()) return std::nullopt;
  while (d.digit(last - 1) == '0') --last;
  return std::pair{first, last - 1};
}

}  // namespace

std::variant<double, NumberError> jsonNumberToDouble(std::string_view text) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && end == text.data() + text.size()) return value;
  if (ec == std::errc::result_out_of_range) {
    // Both ends of the range answer this; below the smallest double the
    // nearest value is a zero.
    Decimal d = split(text);
    auto digits = significantDigits(d);
    if (digits && d.place(digits->first) < 0) return d.negative ? -0.0 : 0.0;
    return NumberError{"number out of range"};
  }
  return NumberError{"expected a number"};
}

std::variant<std::int64_t, NumberError> jsonNumberToInteger(std::string_view text) {
  Decimal d = split(text);
  auto digits = significantDigits(d);
  if (!digits) return std::int64_t{0};
  auto [first, last] = *digits;
  long long lowest = d.place(last);
  if (lowest < 0) return NumberError{"expected an integer"};
  if (d.place(first) >= kIntegerPlaces) return NumberError{"integer does not fit 64 bits"};
  // At most 19 digits and a sign: the integer written out plainly.
  char plain[24];
  char* out = plain;
  if (d.negative) *out++ = '-';
  for (std::size_t k = first; k <= last; ++k) *out++ = d.digit(k);
  out = std::fill_n(out, lowest, '0');
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(plain, out, value);
  if (ec != std::errc() || end != out) return NumberError{"integer does not fit 64 bits"};
  return value;
}

}  // namespace vorn
