#include "common/mcp/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

namespace vorn::mcp {

std::optional<ProtocolStreams> takeStandardStreams() {
  ProtocolStreams streams{UniqueFd(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3)),
                          UniqueFd(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3))};
  UniqueFd nothing(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!streams.input.valid() || !streams.output.valid() || !nothing.valid()) return std::nullopt;
  if (::dup2(nothing.get(), STDIN_FILENO) < 0) return std::nullopt;
  if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    ::dup2(streams.input.get(), STDIN_FILENO);  // as it was
    return std::nullopt;
  }
  return streams;
}

}  // namespace vorn::mcp
