#include "computer-use/platform/linux/proc.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string_view>

#include "common/text.h"

namespace vorn::platform::linux_proc {
namespace {

std::optional<std::string> readProcFile(std::int32_t pid, const char* name) {
  if (pid <= 0) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) return std::nullopt;
  return content;
}

}  // namespace

std::optional<std::uint64_t> processStartTime(std::int32_t pid) {
  auto stat = readProcFile(pid, "stat");
  if (!stat) return std::nullopt;
  // The command name in parentheses may hold blanks and parentheses itself;
  // the fields after the last ')' start with the state (field 3).
  auto close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::string_view rest = std::string_view(*stat).substr(close + 1);
  for (int field = 3; field < 22; ++field) {
    auto space = rest.find(' ', 1);
    if (space == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(space);
  }
  rest.remove_prefix(1);
  std::uint64_t ticks = 0;
  auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), ticks);
  if (error != std::errc() || end == rest.data()) return std::nullopt;
  return ticks;
}

std::optional<std::string> processName(std::int32_t pid) {
  auto comm = readProcFile(pid, "comm");
  if (!comm) return std::nullopt;
  if (!comm->empty() && comm->back() == '\n') comm->pop_back();
  if (comm->empty()) return std::nullopt;
  return text::toValidUtf8(*comm);
}

}  // namespace vorn::platform::linux_proc
