#include "agent-runner/git/git_directories.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/process_io.h"
#include "common/text.h"
#include "common/unique_fd.h"

namespace VornAgentRunnerMain {
namespace {

constexpr double kAskTimeout = 5;
// ".git", "commondir" and "alternates" hold a path or a few each.
constexpr std::size_t kMaxSmallFile = 64 * 1024;

std::optional<std::string> readSmallFile(const std::string& path) {
  vorn::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  auto read = vorn::readAll(fd.get(), kMaxSmallFile);
  if (read.failed || read.tooLarge) return std::nullopt;
  return std::move(read.bytes);
}

std::string_view firstLineOf(std::string_view text) { return text.substr(0, text.find('\n')); }

// `path` as git reads it from a file in `base`: relative ones below `base`.
std::string placed(std::string_view path, const std::string& base) {
  std::string text(vorn::text::trim(path));
  return vorn::standardizePath(text.starts_with('/') ? text : base + "/" + text);
}

std::string absolute(const std::string& directory) {
  if (directory.starts_with('/')) return vorn::standardizePath(directory);
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return vorn::standardizePath(directory);
  return vorn::standardizePath(std::string(cwd) + "/" + directory);
}

std::optional<std::string> realPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  ::free(resolved);
  return result;
}

// The git directory that the ".git" entry of `folder` stands for.
std::optional<std::string> gitDirectoryOf(const std::string& folder) {
  std::string dotGit = folder == "/" ? "/.git" : folder + "/.git";
  struct stat st;
  if (::stat(dotGit.c_str(), &st) != 0) return std::nullopt;
  if (S_ISDIR(st.st_mode)) return dotGit;
  auto text = readSmallFile(dotGit);
  static constexpr std::string_view kPrefix = "gitdir:";
  if (!text || !text->starts_with(kPrefix)) return std::nullopt;
  return placed(firstLineOf(std::string_view(*text).substr(kPrefix.size())), folder);
}

std::string commonDirectoryOf(const std::string& gitDir) {
  auto named = readSmallFile(gitDir + "/commondir");
  return named ? placed(firstLineOf(*named), gitDir) : gitDir;
}

void addAlternates(const std::string& common, std::vector<std::string>& out) {
  std::string objects = common + "/objects";
  auto text = readSmallFile(objects + "/info/alternates");
  if (!text) return;
  std::string_view rest(*text);
  while (!rest.empty()) {
    std::string_view line = firstLineOf(rest);
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    line = vorn::text::trim(line);
    if (!line.empty() && line.front() != '#' && line.front() != '"') {
      out.push_back(placed(line, objects));
    }
  }
}

std::optional<RepositoryLocation> askGit(const std::string& path) {
  auto run = runGit({"rev-parse", "--path-format=absolute", "--git-common-dir", "--show-toplevel"},
                    path, kAskTimeout);
  std::string_view lines = run.stdout_text ? *run.stdout_text : "";
  std::size_t feed = lines.find('\n');
  if (!run.ok || feed == std::string_view::npos) return std::nullopt;
  auto common = realPath(std::string(firstLineOf(lines)));
  if (!common) return std::nullopt;
  return RepositoryLocation{std::string(firstLineOf(lines.substr(feed + 1))), *common};
}

}  // namespace

GitDirectories findGitDirectories(const std::string& directory) {
  GitDirectories found;
  for (std::string folder = absolute(directory);; folder = vorn::parentPath(folder)) {
    if (auto gitDir = gitDirectoryOf(folder)) {
      std::string common = commonDirectoryOf(*gitDir);
      found.own.push_back(*gitDir);
      if (common != *gitDir) found.own.push_back(common);
      addAlternates(common, found.alternates);
      return found;
    }
    if (folder == "/") return found;
  }
}

// Like git, from the real path: a link in `path` does not change the answer.
std::optional<RepositoryLocation> locateRepository(const std::string& path) {
  std::string start = realPath(path).value_or(vorn::standardizePath(path));
  for (std::string dir = start; !dir.empty(); dir = vorn::parentPath(dir)) {
    if (auto gitDir = gitDirectoryOf(dir)) {
      if (auto common = realPath(commonDirectoryOf(*gitDir))) {
        return RepositoryLocation{dir, *common};
      }
      break;
    }
    if (dir == "/") break;
  }
  return askGit(path);
}

bool isWorktreeOf(const std::string& path, const std::string& commonDir) {
  struct stat st;
  if (::lstat((path + "/.git").c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  auto gitDir = gitDirectoryOf(path);
  auto common = gitDir ? realPath(commonDirectoryOf(*gitDir)) : std::nullopt;
  return common && *common == commonDir;
}

}  // namespace VornAgentRunnerMain
