#include "common/process_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/text.h"

namespace vorn {

bool hasArgument(std::span<const std::string_view> arguments, std::string_view wanted) {
  for (auto a : arguments) {
    if (a == wanted) return true;
  }
  return false;
}

std::optional<std::string_view> argumentAfter(std::span<const std::string_view> arguments,
                                              std::string_view flag) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] != flag) continue;
    if (i + 1 < arguments.size()) return arguments[i + 1];
    return std::nullopt;
  }
  return std::nullopt;
}

bool isServiceInvocation(std::span<const std::string_view> arguments, std::string_view serviceName,
                         std::string_view programName) {
  if (hasArgument(arguments, "--xpc-service")) return true;
  const char* raw = std::getenv("XPC_SERVICE_NAME");
  if (raw == nullptr) return false;
  std::string_view name = text::trim(raw);
  if (name.empty() || name == "0") return false;
  return name == serviceName || name.ends_with(programName) ||
         name.find(serviceName) != std::string_view::npos;
}

void writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

ReadAll readAll(int fd, std::size_t maxBytes) {
  ReadAll result;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result.failed = true;
    if (n <= 0) return result;
    if (result.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      result.tooLarge = true;
      return result;
    }
    result.bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace vorn
