#include "agent-runner/git/ref_names.h"

#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr std::size_t kMaxBranchLength = 255;

bool containsAny(std::string_view s, std::initializer_list<std::string_view> needles) {
  for (auto needle : needles) {
    if (s.find(needle) != std::string_view::npos) return true;
  }
  return false;
}

bool isBranchScalar(std::int32_t cp) {
  return vorn::text::isAlphanumeric(cp) || cp == '/' || cp == '_' || cp == '-' || cp == '.' ||
         cp == '+' || cp == '@';
}

bool isRemoteScalar(std::int32_t cp) {
  return vorn::text::isAlphanumeric(cp) || cp == '.' || cp == '_' || cp == '-';
}

}  // namespace

std::optional<std::string> validateBranchName(std::string_view text) {
  std::string_view name = vorn::text::trim(text);
  if (name.empty() || name.front() == '-' || name.front() == '.') return std::nullopt;
  if (containsAny(name, {"..", "//", "\\", std::string_view("\0", 1), " "})) return std::nullopt;
  if (!vorn::text::everyCodePoint(name, isBranchScalar)) return std::nullopt;
  if (vorn::text::graphemePrefixLength(name, kMaxBranchLength) != name.size()) return std::nullopt;
  return std::string(name);
}

std::optional<std::string> validateRemoteName(std::string_view text) {
  std::string_view name = vorn::text::trim(text);
  if (name.empty() || name.front() == '-') return std::nullopt;
  if (containsAny(name, {"..", "/", "\\", " "})) return std::nullopt;
  if (!vorn::text::everyCodePoint(name, isRemoteScalar)) return std::nullopt;
  return std::string(name);
}

}  // namespace VornAgentRunnerMain
