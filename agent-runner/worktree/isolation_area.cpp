#include "agent-runner/worktree/isolation_area.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/process_io.h"
#include "common/text.h"
#include "common/unique_fd.h"

namespace VornAgentRunnerMain {
namespace {

// An exclude file is a handful of lines; one beyond this is not read whole.
constexpr std::size_t kMaxExcludeFile = std::size_t{16} << 20;

std::string excludeFile(const RepositoryLocation& dirs) { return dirs.commonDir + "/info/exclude"; }

// The exclude file's text; empty when there is none.
std::string excludeText(const RepositoryLocation& dirs) {
  vorn::UniqueFd fd(::open(excludeFile(dirs).c_str(), O_RDONLY | O_CLOEXEC));
  return fd.valid() ? vorn::readAll(fd.get(), kMaxExcludeFile).bytes : std::string();
}

// A path inside an ignore pattern: its wildcard characters taken literally.
std::string literalPattern(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' || c == '*' || c == '?' || c == '[') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

bool isUnderIsolationArea(const std::string& path, const std::string& primary) {
  std::string area = vorn::standardizePath(primary + "/.vorn/worktrees");
  std::string candidate = vorn::standardizePath(path);
  return candidate == area || candidate.starts_with(area + "/");
}

OrAnswer<std::string> isolatedWorktreePath(const vorn::RunnerRequest& request,
                                           const std::string& root) {
  std::string text = firstPresentTrimmed(request.worktree_path, request.path);
  if (text.empty()) return vorn::failure("worktree_path is required");
  auto path = authorize(text, root, {});
  if (!path) return vorn::failure("path_outside_workspace");
  if (!isUnderIsolationArea(*path, root)) return vorn::failure("worktree_not_in_isolation_area");
  return *path;
}

std::optional<std::string> isolationAreaPattern(const RepositoryLocation& dirs,
                                                const std::string& primary) {
  char* real = ::realpath(primary.c_str(), nullptr);
  std::string path = real ? real : primary;
  ::free(real);
  if (path.find('\n') != std::string::npos) return std::nullopt;
  if (path == dirs.top) return "/.vorn/";
  if (!path.starts_with(dirs.top + "/")) return std::nullopt;
  return "/" + literalPattern(std::string_view(path).substr(dirs.top.size() + 1)) + "/.vorn/";
}

bool isExcluded(const RepositoryLocation& dirs, const std::string& pattern) {
  std::string text = excludeText(dirs);
  for (std::string_view rest = text; !rest.empty();) {
    std::size_t feed = rest.find('\n');
    if (rest.substr(0, feed) == pattern) return true;
    rest = feed == std::string_view::npos ? std::string_view() : rest.substr(feed + 1);
  }
  return false;
}

vorn::Status addExclude(const RepositoryLocation& dirs, const std::string& pattern) {
  std::string file = excludeFile(dirs);
  if (::mkdir((dirs.commonDir + "/info").c_str(), 0777) != 0 && errno != EEXIST) {
    return vorn::Status::fromErrno(dirs.commonDir + "/info");
  }
  std::string before = excludeText(dirs);
  std::string line = (before.empty() || before.ends_with('\n') ? "" : "\n") + pattern + "\n";
  vorn::UniqueFd fd(
      ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd.valid() ||
      ::write(fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    return vorn::Status::fromErrno(file);
  }
  return vorn::Status::success();
}

}  // namespace VornAgentRunnerMain
