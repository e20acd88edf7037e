#include <gtest/gtest.h>
#include <utf8proc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/utf8_prefix_capture.h"

namespace {

using vorn::text::canonicallyEqual;
using vorn::text::graphemePrefixLength;
using vorn::text::toNfc;
using vorn::text::trim;
using vorn::text::Utf8PrefixCapture;

std::string utf8(char32_t cp) {
  utf8proc_uint8_t buf[4];
  auto n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(cp), buf);
  return std::string(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

std::vector<char32_t> trimmedCodePoints() {
  std::vector<char32_t> cps = {0x09, 0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                               0xA0, 0x1680, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t cp = 0x2000; cp <= 0x200A; ++cp) cps.push_back(cp);
  return cps;
}

class TrimSeparator : public testing::TestWithParam<char32_t> {};

TEST_P(TrimSeparator, IsStrippedFromBothEndsButKeptInside) {
  std::string sep = utf8(GetParam());
  EXPECT_EQ(trim(sep + sep + "a" + sep + "b" + sep), "a" + sep + "b");
  EXPECT_EQ(trim(sep), "");
}

INSTANTIATE_TEST_SUITE_P(WhiteSpaceAndBreaks, TrimSeparator, testing::ValuesIn(trimmedCodePoints()),
                         [](const auto& info) {
                           char name[16];
                           std::snprintf(name, sizeof name, "U%04X", unsigned(info.param));
                           return std::string(name);
                         });

TEST(Trim, KeepsFormatCharactersAndInvalidBytes) {
  for (char32_t cp : {0x200B, 0xFEFF, 0x180E, 0x2060}) {
    std::string s = utf8(cp) + "a" + utf8(cp);
    EXPECT_EQ(trim(s), s) << unsigned(cp);
  }
  // Bytes that are only part of a space's encoding, or an overlong one, stay.
  for (std::string s : {"\xA0 a \xA0", "\xC2 a \xC2", "\xC0\xA0x\xC0\xA0", "\xE3\x80"}) {
    EXPECT_EQ(trim(" " + s + " "), s);
  }
}

TEST(Lowercase, MapsCodePointsSimplyAndCopiesInvalidBytes) {
  using vorn::text::lowercase;
  EXPECT_EQ(lowercase("ABC xyz ÀÉÎ ΣΑΣ"), "abc xyz àéî σασ");
  EXPECT_EQ(lowercase("İ"), "i");  // simple mapping: no combining dot
  EXPECT_EQ(lowercase("Ⱥ"), "ⱥ");  // grows from 2 to 3 bytes
  EXPECT_EQ(lowercase("A\xFF"
                      "B\xC3"),
            "a\xFF"
            "b\xC3");
}

TEST(IsValidUtf8, RejectsSurrogatesOverlongsAndTruncation) {
  for (std::string s :
       {std::string(), std::string("a\0b", 3), std::string("é€😀"), std::string("\xED\x9F\xBF"),
        std::string("\xEE\x80\x80"), std::string("\xF4\x8F\xBF\xBF")}) {
    EXPECT_TRUE(vorn::text::isValidUtf8(s)) << testing::PrintToString(s);
  }
  for (const char* s : {"\xED\xA0\x80", "\xED\xBF\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x80\xAF",
                        "\xF0\x80\x80\xAF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "a\xC3",
                        "\xE2\x82", "\xE2\x82x", "ok\xFF"}) {
    EXPECT_FALSE(vorn::text::isValidUtf8(s)) << testing::PrintToString(std::string(s));
  }
}

const std::string kFamily = "👨‍👩‍👧";
const std::string kFlags = "🇩🇪🇫🇷";

TEST(GraphemePrefixLength, CountsExtendedClusters) {
  const struct {
    std::string text;
    std::size_t clusters, bytes;
  } cases[] = {{"e\u0301x", 1, 3},     {"e\u0301\u0301\u0301", 1, 7},
               {kFamily + "x", 1, 18}, {kFlags, 1, 8},
               {kFlags, 2, 16},        {"🇩🇪🇫", 2, 12},
               {"👍🏽x", 1, 8},    {"\r\nx", 1, 2},
               {"\n\rx", 1, 1},        {"abc", 0, 0},
               {"abc", 9, 3}};
  for (const auto& c : cases) {
    EXPECT_EQ(graphemePrefixLength(c.text, c.clusters), c.bytes) << c.text << " " << c.clusters;
  }
}

TEST(CanonicallyEqual, ComposedAndDecomposedFormsMatchButCaseAndCompatibilityDoNot) {
  EXPECT_TRUE(canonicallyEqual("Caf\u00e9", "Cafe\u0301"));
  // Marks of different combining classes in either order are the same text.
  EXPECT_TRUE(canonicallyEqual("a\u0323\u0307", "a\u0307\u0323"));
  EXPECT_TRUE(canonicallyEqual("\u212b", "\u00c5"));  // Angstrom sign and A-ring
  EXPECT_FALSE(canonicallyEqual("caf\u00e9", "Caf\u00e9"));
  EXPECT_FALSE(canonicallyEqual("\ufb01", "fi"));  // a compatibility form only
  EXPECT_FALSE(canonicallyEqual("Save", "Save "));
  EXPECT_EQ(toNfc("Cafe\u0301"), "Caf\u00e9");
  // Bytes that are not UTF-8 stay as they are and match only themselves.
  EXPECT_EQ(toNfc("\xff\x65\xcc\x81"), "\xff\x65\xcc\x81");
  EXPECT_FALSE(canonicallyEqual("\xff\x65\xcc\x81", "\xff\xc3\xa9"));
}

const std::string kMixed = "aé€😀e\u0301" + kFamily + kFlags + "\r\nz";

std::string captureOnce(std::size_t clusters, std::size_t bytes, const std::string& text) {
  Utf8PrefixCapture capture(clusters, bytes);
  capture.append(text);
  return capture.finish();
}

TEST(Utf8PrefixCapture, ChunkBoundariesDoNotMatter) {
  for (std::size_t clusters : {0, 1, 3, 5, 100}) {
    std::string expected = captureOnce(clusters, 1000, kMixed);
    ASSERT_EQ(expected, kMixed.substr(0, graphemePrefixLength(kMixed, clusters)));
    for (std::size_t i = 0; i <= kMixed.size(); ++i) {
      for (std::size_t j = i; j <= kMixed.size(); ++j) {
        Utf8PrefixCapture split(clusters, 1000);
        split.append(kMixed.substr(0, i));
        split.append(kMixed.substr(i, j - i));
        split.append(kMixed.substr(j));
        ASSERT_EQ(split.finish(), expected) << clusters << " clusters, cuts " << i << "," << j;
      }
    }
  }
}

TEST(Utf8PrefixCapture, InvalidBytesAnywhereEmptyTheResult) {
  // The ASCII runs are long enough for the fast path once the prefix is full.
  const std::string tail = std::string(40, 'x') + "é" + std::string(40, 'y');
  for (std::string bad : {"\xFF", "\xC0\x80", "\xED\xA0\x80", "\x80",
                          "\xE2"
                          "A"}) {
    for (std::size_t at = 0; at <= tail.size(); at += 5) {
      std::string stream = "ab" + tail.substr(0, at) + bad + tail.substr(at);
      Utf8PrefixCapture capture(1, 100);
      capture.append(stream.substr(0, at + 3));
      capture.append(stream.substr(at + 3));
      EXPECT_EQ(capture.finish(), "") << testing::PrintToString(bad) << " at " << at;
    }
  }
  for (std::string end : {"\xC3", "\xE2\x82", "\xF0\x9F\x98"}) {
    EXPECT_EQ(captureOnce(1, 100, "abcdefghijklmnopq" + end), "") << "truncated at the end";
  }
}

// A base with many combining marks is the pathological cluster the byte bound
// exists for; the cut still falls between code points.
TEST(Utf8PrefixCapture, ByteBoundCutsAtCodePointBoundaries) {
  const std::string cluster = "e\u0301\u0301\u0301\u0301";
  EXPECT_EQ(captureOnce(10, 5, cluster + "x"), "e\u0301\u0301");
  EXPECT_EQ(captureOnce(10, 4, cluster + "x"), "e\u0301");
  EXPECT_EQ(captureOnce(10, 0, cluster), "");
  EXPECT_EQ(captureOnce(10, 100, cluster + "x"), cluster + "x");
  // Once the bound is hit, later clusters that would still fit are not kept.
  EXPECT_EQ(captureOnce(10, 4, "ab€cd"), "ab");
}

}  // namespace
