#include "common/text.h"

#include <utf8proc.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vorn::text {
namespace {

using CodePoint = utf8proc_int32_t;

// One step of decoding: the code point at `s[i]` and its length, or a
// negative length for an ill-formed sequence.
struct Decoded {
  CodePoint cp;
  utf8proc_ssize_t length;
};

Decoded decodeAt(std::string_view s, std::size_t i) {
  CodePoint cp = -1;
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                            static_cast<utf8proc_ssize_t>(s.size() - i), &cp);
  return {cp, n};
}

bool isTrimmed(CodePoint cp) {
  if (cp == 0x09 || (cp >= 0x0A && cp <= 0x0D) || cp == 0x85 || cp == 0x2028 || cp == 0x2029) {
    return true;
  }
  return utf8proc_category(cp) == UTF8PROC_CATEGORY_ZS;
}

// Byte length of a UTF-8 sequence judged by its lead byte; 0 for a byte that
// cannot start a sequence.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Finds where the last code point before `end` starts, or npos.
std::size_t previousStart(std::string_view s, std::size_t end) {
  std::size_t i = end;
  for (int back = 0; back < 4 && i > 0; ++back) {
    --i;
    auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return sequenceLength(b) == end - i ? i : std::string_view::npos;
  }
  return std::string_view::npos;
}

}  // namespace

// Blocks of 64 bytes are OR-ed word by word, which compilers turn into
// vector code: gigabytes of ASCII cost little more than reading them.
std::size_t skipAscii(std::string_view s, std::size_t i) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  constexpr std::size_t kBlock = 64;
  while (i + kBlock <= s.size()) {
    std::uint64_t words[kBlock / 8];
    std::memcpy(words, s.data() + i, kBlock);
    std::uint64_t any = 0;
    for (auto w : words) any |= w;
    if (any & kHighBits) break;
    i += kBlock;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

std::string_view trim(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    auto d = decodeAt(s, begin);
    if (d.length <= 0 || !isTrimmed(d.cp)) break;
    begin += static_cast<std::size_t>(d.length);
  }
  std::size_t end = s.size();
  while (end > begin) {
    std::size_t start = previousStart(s, end);
    if (start == std::string_view::npos || start < begin) break;
    auto d = decodeAt(s.substr(0, end), start);
    if (d.length <= 0 || !isTrimmed(d.cp)) break;
    end = start;
  }
  return s.substr(begin, end - begin);
}

std::string lowercase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    auto d = decodeAt(s, i);
    if (d.length <= 0) {
      out.push_back(s[i++]);
      continue;
    }
    std::array<utf8proc_uint8_t, 4> buf{};
    auto n = utf8proc_encode_char(utf8proc_tolower(d.cp), buf.data());
    out.append(reinterpret_cast<const char*>(buf.data()), static_cast<std::size_t>(n));
    i += static_cast<std::size_t>(d.length);
  }
  return out;
}

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    i = skipAscii(s, i);
    if (i == s.size()) break;
    auto d = decodeAt(s, i);
    if (d.length <= 0) return false;
    i += static_cast<std::size_t>(d.length);
  }
  return true;
}

std::string toValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    auto d = decodeAt(s, i);
    if (d.length <= 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    out.append(s.substr(i, static_cast<std::size_t>(d.length)));
    i += static_cast<std::size_t>(d.length);
  }
  return out;
}

bool everyCodePoint(std::string_view s, bool (*accept)(std::int32_t)) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto d = decodeAt(s, i);
    if (d.length <= 0 || !accept(d.cp)) return false;
    i += static_cast<std::size_t>(d.length);
  }
  return true;
}

bool isAlphanumeric(std::int32_t codePoint) {
  switch (utf8proc_category(codePoint)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return false;
  }
}

std::size_t graphemePrefixLength(std::string_view s, std::size_t maxClusters) {
  if (maxClusters == 0) return 0;
  std::size_t clusters = 0;
  utf8proc_int32_t state = 0;
  CodePoint previous = -1;
  std::size_t i = 0;
  while (i < s.size()) {
    auto d = decodeAt(s, i);
    if (d.length <= 0) return i;
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, d.cp, &state)) {
      if (clusters == maxClusters) return i;
      ++clusters;
    }
    previous = d.cp;
    i += static_cast<std::size_t>(d.length);
  }
  return s.size();
}

std::string toNfc(std::string_view s) {
  // Plain ASCII is its own normal form: most titles never reach utf8proc.
  if (skipAscii(s, 0) == s.size() || !isValidUtf8(s)) return std::string(s);
  utf8proc_uint8_t* normalized = nullptr;
  auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
                        static_cast<utf8proc_ssize_t>(s.size()), &normalized,
                        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (n < 0) return std::string(s);
  std::string result(reinterpret_cast<const char*>(normalized), static_cast<std::size_t>(n));
  std::free(normalized);
  return result;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return toNfc(a) == toNfc(b);
}

}  // namespace vorn::text
