// Messages written whole to a file descriptor, one per line, under one lock.
#pragma once

#include <mutex>

#include "common/mcp/output.h"

namespace vorn::mcp {

class LineWriter final : public Output {
 public:
  explicit LineWriter(int fd) : fd_(fd) {}
  /// Writes `line` and a line feed in one piece; after the reader has gone,
  /// writes nothing.
  void send(std::string_view line) override;

 private:
  std::mutex mutex_;
  int fd_;
  std::string buffer_;
  bool broken_ = false;
};

}  // namespace vorn::mcp
