#include "common/mcp/line_writer.h"

#include <unistd.h>

#include <cerrno>

namespace vorn::mcp {

void LineWriter::send(std::string_view line) {
  std::lock_guard lock(mutex_);
  if (broken_) return;
  buffer_.assign(line);
  buffer_ += '\n';
  std::string_view rest = buffer_;
  while (!rest.empty()) {
    ssize_t n = ::write(fd_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      broken_ = true;
      return;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  // A one-off huge answer should not pin its memory for the session's life.
  if (buffer_.capacity() > (std::size_t{1} << 20)) std::string().swap(buffer_);
}

}  // namespace vorn::mcp
