#include "agent-runner/git/git_directories.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"
#include "common/unique_fd.h"

namespace VornAgentRunnerMain {
namespace {

constexpr std::size_t kMaxSmallFile = 64 * 1024;

std::optional<std::string> readSmallFile(const std::string& path) {
  vorn::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string text(kMaxSmallFile, '\0');
  ssize_t n = ::read(fd.get(), text.data(), text.size());
  if (n < 0) return std::nullopt;
  text.resize(static_cast<std::size_t>(n));
  return text;
}

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

// The git directory that `dotGit` (a ".git" folder or file) stands for.
std::optional<std::string> gitDirectoryOf(const std::string& dotGit, const std::string& folder) {
  struct stat st;
  if (::stat(dotGit.c_str(), &st) != 0) return std::nullopt;
  if (S_ISDIR(st.st_mode)) return dotGit;
  auto text = readSmallFile(dotGit);
  static constexpr std::string_view kPrefix = "gitdir:";
  if (!text || !text->starts_with(kPrefix)) return std::nullopt;
  std::string_view rest(*text);
  rest.remove_prefix(kPrefix.size());
  return placed(rest.substr(0, rest.find('\n')), folder);
}

void addAlternates(const std::string& common, std::vector<std::string>& out) {
  std::string objects = common + "/objects";
  auto text = readSmallFile(objects + "/info/alternates");
  if (!text) return;
  std::string_view rest(*text);
  while (!rest.empty()) {
    std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    line = vorn::text::trim(line);
    if (!line.empty() && line.front() != '#' && line.front() != '"') {
      out.push_back(placed(line, objects));
    }
  }
}

}  // namespace

GitDirectories findGitDirectories(const std::string& directory) {
  GitDirectories found;
  std::string folder = absolute(directory);
  for (;;) {
    if (auto gitDir = gitDirectoryOf(folder == "/" ? "/.git" : folder + "/.git", folder)) {
      std::string common = *gitDir;
      if (auto named = readSmallFile(*gitDir + "/commondir")) {
        common = placed(std::string_view(*named).substr(0, named->find('\n')), *gitDir);
      }
      found.own.push_back(*gitDir);
      if (common != *gitDir) found.own.push_back(common);
      addAlternates(common, found.alternates);
      return found;
    }
    if (folder == "/") return found;
    folder = vorn::parentPath(folder);
  }
}

}  // namespace VornAgentRunnerMain
