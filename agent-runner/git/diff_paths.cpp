#include "agent-runner/git/diff_paths.h"

#include <algorithm>

namespace VornAgentRunnerMain {
namespace {

std::optional<std::string_view> newSidePath(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.starts_with("+++ b/")) return line.substr(6);
  if (line.starts_with("+++ ") && !line.starts_with("+++ /dev/null")) return line.substr(4);
  return std::nullopt;
}

// Git's C quoting: the usual one-letter escapes and three octal digits.
std::optional<char> unescape(std::string_view s, std::size_t& i) {
  static constexpr std::string_view kLetters = "abtnvfr\"\\";
  static constexpr std::string_view kValues = "\a\b\t\n\v\f\r\"\\";
  if (i >= s.size()) return std::nullopt;
  if (auto k = kLetters.find(s[i]); k != std::string_view::npos) {
    ++i;
    return kValues[k];
  }
  if (i + 3 > s.size()) return std::nullopt;
  int value = 0;
  for (int d = 0; d < 3; ++d, ++i) {
    if (s[i] < '0' || s[i] > '7') return std::nullopt;
    value = value * 8 + (s[i] - '0');
  }
  if (value > 0377) return std::nullopt;
  return static_cast<char>(value);
}

}  // namespace

std::vector<std::string> collectAffectedPaths(std::string_view diff) {
  std::vector<std::string> paths;
  std::size_t start = 0;
  while (start < diff.size()) {
    std::size_t end = diff.find('\n', start);
    if (end == std::string_view::npos) end = diff.size();
    if (auto path = newSidePath(diff.substr(start, end - start))) paths.emplace_back(*path);
    start = end + 1;
  }
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  return paths;
}

std::optional<std::string> unquoteDiffPath(std::string_view path) {
  if (path.size() < 2 || path.front() != '"') return std::nullopt;
  std::string name;
  std::size_t i = 1;
  while (i < path.size()) {
    char c = path[i++];
    if (c == '"') {
      // Anything after the closing quote (a timestamp after a tab) is not
      // part of the name.
      if (name.starts_with("b/")) name.erase(0, 2);
      return name;
    }
    if (c != '\\') {
      name += c;
      continue;
    }
    auto escaped = unescape(path, i);
    if (!escaped) return std::nullopt;
    name += *escaped;
  }
  return std::nullopt;
}

std::vector<std::string> skippedPatchNames(std::string_view verboseOutput) {
  static constexpr std::string_view kOpen = "Skipped patch '";
  static constexpr std::string_view kClose = "'.";
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < verboseOutput.size()) {
    std::size_t end = verboseOutput.find('\n', start);
    if (end == std::string_view::npos) end = verboseOutput.size();
    std::string_view line = verboseOutput.substr(start, end - start);
    if (line.starts_with(kOpen) && line.ends_with(kClose) &&
        line.size() >= kOpen.size() + kClose.size()) {
      names.emplace_back(line.substr(kOpen.size(), line.size() - kOpen.size() - kClose.size()));
    }
    start = end + 1;
  }
  return names;
}

}  // namespace VornAgentRunnerMain
