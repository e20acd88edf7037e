// What /proc tells about another process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vorn::platform::linux_proc {

/// When process `pid` started, in clock ticks after boot: with the pid, an
/// identity that survives pid reuse. Nothing when no such process runs.
std::optional<std::uint64_t> processStartTime(std::int32_t pid);

/// The process's command name (at most 15 bytes, valid UTF-8); nothing when no
/// such process runs or the name is empty.
std::optional<std::string> processName(std::int32_t pid);

}  // namespace vorn::platform::linux_proc
