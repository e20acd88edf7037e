// Lines from a file descriptor, with bounded memory: a line longer than the
// limit is read to its end but not kept.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

class LineReader {
 public:
  /// Reads `fd` (not owned); a line longer than `maxLineBytes` is not kept.
  LineReader(int fd, std::size_t maxLineBytes) : fd_(fd), maxLineBytes_(maxLineBytes) {}

  struct Line {
    std::string_view text;   ///< valid until the next call
    bool oversized = false;  ///< the line was longer than the limit; `text` is empty
  };

  /// The next line without its "\n" (or "\r\n"); the last line of the input
  /// needs no terminator. Nothing at end of input or when reading fails.
  std::optional<Line> next();

 private:
  bool fill();

  int fd_;
  std::size_t maxLineBytes_;
  std::string buffer_;
  std::size_t start_ = 0;    // where the current line begins in buffer_
  std::size_t scanned_ = 0;  // buffer_ before this holds no "\n" of the current line
  bool oversized_ = false;
};

}  // namespace vorn
