// Unicode text helpers shared by both programs. All strings are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::text {

/// Returns `s` without white space and line breaks at either end: tab, the
/// space separators (Zs), U+000A..U+000D, U+0085, U+2028 and U+2029.
/// Bytes that are not valid UTF-8 are never trimmed.
std::string_view trim(std::string_view s);

/// Returns `s` lowercased code point by code point (simple case mapping).
/// Invalid UTF-8 is copied unchanged.
std::string lowercase(std::string_view s);

/// The index of the first byte at or after `i` that is not ASCII, or
/// `s.size()`. Scans 64-byte blocks at a time.
std::size_t skipAscii(std::string_view s, std::size_t i);

/// True when `s` is well-formed UTF-8 (no surrogates, no overlong forms).
bool isValidUtf8(std::string_view s);

/// Returns `s` with every ill-formed sequence replaced by U+FFFD.
std::string toValidUtf8(std::string_view s);

/// True when `s` is valid UTF-8 and `accept` holds for each of its code points.
bool everyCodePoint(std::string_view s, bool (*accept)(std::int32_t codePoint));

/// Whether `codePoint` is a Unicode letter, mark or number (general
/// categories L, M and N).
bool isAlphanumeric(std::int32_t codePoint);

/// Returns the byte length of the first `maxClusters` extended grapheme
/// clusters of `s`, which must be valid UTF-8.
std::size_t graphemePrefixLength(std::string_view s, std::size_t maxClusters);

/// `s` in Unicode normalisation form C. Text that is not valid UTF-8 is
/// returned unchanged.
std::string toNfc(std::string_view s);

/// Whether `a` and `b` are canonically equivalent: equal after NFC. Text that
/// is not valid UTF-8 is compared byte for byte.
bool canonicallyEqual(std::string_view a, std::string_view b);

}  // namespace vorn::text
