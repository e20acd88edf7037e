// Keeps the first grapheme clusters of a byte stream while checking that the
// whole stream is UTF-8, in bounded memory whatever the stream's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::text {

/// Accumulates a stream chunk by chunk. Memory stays within `maxBytes` plus a
/// few bytes, however much is appended.
class Utf8PrefixCapture {
 public:
  /// Keeps at most `maxClusters` grapheme clusters and at most `maxBytes`
  /// bytes of them (the byte bound cuts at a code point boundary and only
  /// matters for pathological clusters).
  Utf8PrefixCapture(std::size_t maxClusters, std::size_t maxBytes);

  /// Feeds the next bytes of the stream; chunks may split code points.
  void append(std::string_view chunk);

  /// Ends the stream. Returns the kept prefix if every byte appended formed
  /// valid UTF-8, else the empty text.
  std::string finish();

 private:
  void appendPending(std::string_view& chunk);
  void consume(std::string_view chunk);
  void accept(std::int32_t cp, std::string_view bytes);

  std::size_t maxClusters_;
  std::size_t maxBytes_;
  std::string kept_;
  char pending_[4] = {};
  std::size_t pendingLength_ = 0;
  bool valid_ = true;
  bool full_ = false;
  std::size_t clusters_ = 0;
  std::int32_t breakState_ = 0;
  std::int32_t previous_ = -1;
};

}  // namespace vorn::text
