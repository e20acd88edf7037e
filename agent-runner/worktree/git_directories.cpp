// A delivery runs half a dozen git commands; asking git where the repository
// lives would add one more to each. The layout is simple and stable: a
// ".git" folder, or a ".git" file "gitdir: <dir>" for a linked worktree,
// whose git directory names the shared one in "commondir".
#include "agent-runner/worktree/git_directories.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/process_io.h"
#include "common/unique_fd.h"

namespace VornAgentRunnerMain {
namespace {

constexpr double kAskTimeout = 5;
// ".git" and "commondir" hold one path each.
constexpr std::size_t kMaxPointerFile = 64 * 1024;

// The first line of `text`, without its line ending.
std::string firstLineOf(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  return std::string(line);
}

std::optional<std::string> firstLine(const std::string& file) {
  vorn::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  auto read = vorn::readAll(fd.get(), kMaxPointerFile);
  if (read.failed || read.tooLarge || read.bytes.empty()) return std::nullopt;
  return firstLineOf(read.bytes);
}

// `target` as read from a file in `base`: absolute, or relative to `base`.
std::string resolvedAgainst(const std::string& base, const std::string& target) {
  return target.starts_with('/') ? target : base + "/" + target;
}

std::optional<std::string> realPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  ::free(resolved);
  return result;
}

// The git directory a ".git" entry in `top` stands for.
std::optional<std::string> gitDirOf(const std::string& top) {
  std::string dotGit = top + "/.git";
  struct stat st;
  if (::stat(dotGit.c_str(), &st) != 0) return std::nullopt;
  if (S_ISDIR(st.st_mode)) return dotGit;
  auto line = firstLine(dotGit);
  if (!line || !line->starts_with("gitdir: ")) return std::nullopt;
  return resolvedAgainst(top, line->substr(8));
}

std::optional<std::string> commonDirOf(const std::string& gitDir) {
  auto common = firstLine(gitDir + "/commondir");
  return realPath(common ? resolvedAgainst(gitDir, *common) : gitDir);
}

std::optional<GitDirectories> askGit(const std::string& path) {
  auto run = runGit({"rev-parse", "--path-format=absolute", "--git-common-dir", "--show-toplevel"},
                    path, kAskTimeout);
  std::string_view lines = run.stdout_text ? *run.stdout_text : "";
  std::size_t feed = lines.find('\n');
  if (!run.ok || feed == std::string_view::npos) return std::nullopt;
  std::string common = firstLineOf(lines), top = firstLineOf(lines.substr(feed + 1));
  auto resolved = realPath(common);
  if (!resolved) return std::nullopt;
  return GitDirectories{top, *resolved};
}

}  // namespace

// Like git, from the real path: a link in `path` does not change the answer.
std::optional<GitDirectories> locateGitDirectories(const std::string& path) {
  std::string start = realPath(path).value_or(vorn::standardizePath(path));
  for (std::string dir = start; !dir.empty(); dir = vorn::parentPath(dir)) {
    if (auto gitDir = gitDirOf(dir)) {
      if (auto common = commonDirOf(*gitDir)) return GitDirectories{dir, *common};
      break;
    }
    if (dir == "/") break;
  }
  return askGit(path);
}

bool isWorktreeOf(const std::string& path, const std::string& commonDir) {
  struct stat st;
  if (::lstat((path + "/.git").c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  auto gitDir = gitDirOf(path);
  auto common = gitDir ? commonDirOf(*gitDir) : std::nullopt;
  return common && *common == commonDir;
}

}  // namespace VornAgentRunnerMain
