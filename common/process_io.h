// What both programs' one-shot modes do with their command line and standard
// streams.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vorn {

/// Whether one of `arguments` is exactly `wanted`.
bool hasArgument(std::span<const std::string_view> arguments, std::string_view wanted);

/// The argument after the first one that is exactly `flag`; nothing when
/// `flag` is absent or last.
std::optional<std::string_view> argumentAfter(std::span<const std::string_view> arguments,
                                              std::string_view flag);

/// Whether the process was started as the service `serviceName`: with
/// "--xpc-service" among `arguments`, or with XPC_SERVICE_NAME (trimmed; not
/// empty, not "0") equal to `serviceName`, ending in `programName` or holding
/// `serviceName` anywhere.
bool isServiceInvocation(std::span<const std::string_view> arguments, std::string_view serviceName,
                         std::string_view programName);

/// Writes all of `text` to `fd`, retrying after interruptions; gives up
/// silently when the reader has gone.
void writeAll(int fd, std::string_view text);

/// Everything read from `fd` to its end.
struct ReadAll {
  std::string bytes;
  bool failed = false;    // a read error (what came before it is kept)
  bool tooLarge = false;  // stopped past `maxBytes`; `bytes` is incomplete
};
ReadAll readAll(int fd, std::size_t maxBytes);

}  // namespace vorn
