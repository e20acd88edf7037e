#include "common/line_reader.h"

#include <unistd.h>

#include <cerrno>

namespace vorn {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

std::optional<LineReader::Line> LineReader::next() {
  for (;;) {
    auto end = buffer_.find('\n', scanned_);
    if (end != std::string::npos) {
      std::string_view text(buffer_.data() + start_, end - start_);
      if (text.ends_with('\r')) text.remove_suffix(1);
      Line line{oversized_ ? std::string_view() : text, oversized_};
      start_ = scanned_ = end + 1;
      oversized_ = false;
      return line;
    }
    scanned_ = buffer_.size();
    if (scanned_ - start_ > maxLineBytes_) {
      // Keep reading to the line's end, but not its bytes.
      oversized_ = true;
      buffer_.resize(start_);
      scanned_ = start_;
    }
    if (!fill()) {
      if (start_ == buffer_.size() && !oversized_) return std::nullopt;
      Line line{oversized_ ? std::string_view() : std::string_view(buffer_).substr(start_),
                oversized_};
      start_ = scanned_ = buffer_.size();
      oversized_ = false;
      return line;
    }
  }
}

bool LineReader::fill() {
  // Lines already answered are dropped before reading more.
  buffer_.erase(0, start_);
  scanned_ -= start_;
  start_ = 0;
  std::size_t used = buffer_.size();
  buffer_.resize(used + kChunk);
  for (;;) {
    ssize_t n = ::read(fd_, buffer_.data() + used, kChunk);
    if (n < 0 && errno == EINTR) continue;
    buffer_.resize(used + (n > 0 ? static_cast<std::size_t>(n) : 0));
    return n > 0;
  }
}

}  // namespace vorn
