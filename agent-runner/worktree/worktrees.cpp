#include "agent-runner/worktree/worktrees.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "agent-runner/git/git_directories.h"
#include "agent-runner/git/git_rules.h"
#include "agent-runner/git/ref_names.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/file_mutations.h"
#include "agent-runner/workspace/path_standardize.h"
#include "agent-runner/worktree/isolation_area.h"
#include "agent-runner/worktree/repository_lock.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr double kPruneTimeout = 30;

bool somethingAt(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

GitReport worktreeReport(const GitRun& run, const std::string& message, const std::string& path) {
  auto report = gitSuccess(run, message, std::vector<std::string>{path});
  report.path = path;
  return report;
}

// Both attempts failed: the first one's complaint comes first.
GitReport addFailure(const GitRun& first, const GitRun& second, const std::string& path) {
  std::string text =
      firstNonEmptyOutput({first.err(), first.out(), second.err(), second.out(), runEndText(first)},
                          "git worktree add failed");
  auto report = gitFailure(second, std::move(text), std::vector<std::string>{path});
  auto earlier = gitFailure(first, "");
  if (!report.stdoutText) report.stdoutText = std::move(earlier.stdoutText);
  if (!report.stderrText) report.stderrText = std::move(earlier.stderrText);
  if (!report.exitStatus) report.exitStatus = earlier.exitStatus;
  return report;
}

GitReport reuse(const std::string& path, const std::string& branch) {
  return {.done = true,
          .text = "Using existing worktree on " + branch,
          .exitStatus = 0,
          .affectedPaths = std::vector<std::string>{path},
          .path = path};
}

// Whether the folder holds nothing; nothing when it cannot be read.
std::optional<bool> isEmptyFolder(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::nullopt;
  bool empty = true;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") empty = false;
  }
  ::closedir(dir);
  return empty;
}

// What stands at a worktree path: nothing, an empty folder, a worktree of
// this repository (all fine), or the reason nothing may be created there.
enum class Occupant { kNothing, kEmptyFolder, kOurWorktree, kOther };
struct Occupancy {
  Occupant occupant;
  std::string why;
};

Occupancy occupancyOf(const std::string& path, const std::string& commonDir) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {Occupant::kNothing, ""};
    return {Occupant::kOther, vorn::Status::fromErrno(path).description()};
  }
  if (!S_ISDIR(st.st_mode)) return {Occupant::kOther, "something other than a folder is there"};
  if (isWorktreeOf(path, commonDir)) return {Occupant::kOurWorktree, ""};
  auto empty = isEmptyFolder(path);
  if (!empty) return {Occupant::kOther, vorn::Status::fromErrno(path).description()};
  if (*empty) return {Occupant::kEmptyFolder, ""};
  if (::lstat((path + "/.git").c_str(), &st) == 0) {
    return {Occupant::kOther, "a checkout of another repository is there"};
  }
  return {Occupant::kOther, "the folder is not empty"};
}

GitReport runWorktreeAdd(const std::string& root, const std::string& path,
                         const std::string& branch, double timeout) {
  auto first = runGit({"worktree", "add", "-b", branch, path, "HEAD"}, root, timeout);
  if (first.ok()) return worktreeReport(first, "Created worktree on new branch " + branch, path);
  auto second = runGit({"worktree", "add", path, branch}, root, timeout);
  if (second.ok()) {
    return worktreeReport(second, "Attached worktree to existing branch " + branch, path);
  }
  return addFailure(first, second, path);
}

// Under the lock: nothing is ever removed to make room; the isolation area
// is excluded before the first worktree appears in it.
GitReport createWorktree(const RepositoryLocation& dirs, const std::string& root,
                         const std::string& path, const std::string& branch, double timeout) {
  auto lock = RepositoryLock::acquire(dirs.commonDir);
  if (auto* failed = std::get_if<vorn::Status>(&lock)) return refused(lockFailureText(*failed));
  auto occupancy = occupancyOf(path, dirs.commonDir);
  if (occupancy.occupant == Occupant::kOurWorktree) return reuse(path, branch);
  if (occupancy.occupant == Occupant::kOther) {
    return refused("worktree_path_occupied: " + occupancy.why);
  }
  auto pattern = isolationAreaPattern(dirs, root);
  if (pattern && !isExcluded(dirs, *pattern)) {
    if (auto s = addExclude(dirs, *pattern); !s.ok()) {
      return refused("exclude_failed: " + s.description());
    }
  }
  return runWorktreeAdd(root, path, branch, timeout);
}

std::string removalEntry(const GitRun& run, const std::string& path, const std::string& primary,
                         bool removed) {
  std::string relative = repositoryRelativePath(path, primary);
  if (removed) return "removed " + relative;
  return "failed " + relative + ": " + gitFailureText(run, "error");
}

}  // namespace

std::string lockFailureText(const vorn::Status& failure) {
  return "repository_lock_failed: " + failure.description();
}

GitReport gitWorktreeAdd(const WorktreeAddRequest& request) {
  const auto& [root, timeout] = request.repository;
  auto worktree = isolatedWorktreePath(request.worktreePath, root);
  if (auto* refusal = std::get_if<vorn::Refusal>(&worktree)) return refused(refusal->text);
  const auto& path = std::get<std::string>(worktree);
  auto branch = validateBranchName(request.branch);
  if (!branch) return refused("invalid_branch");
  if (auto s = vorn::makeDirectories(vorn::parentPath(path)); !s.ok()) {
    return refused("mkdir_failed: " + s.description());
  }
  auto dirs = locateRepository(root);
  if (!dirs) return refused("No git repository found");
  // Only a worktree of this repository is reused: a plain folder passes a
  // repository probe through the primary checkout above it, and putting the
  // agent's work there would put it in the user's checkout.
  if (isWorktreeOf(path, dirs->commonDir)) return reuse(path, *branch);
  return createWorktree(*dirs, root, path, *branch, limitOf(timeout, kLongGitLimit));
}

GitReport gitWorktreeRemove(const WorktreeRemoveRequest& request) {
  const auto& [root, timeout] = request.repository;
  std::vector<std::string> paths;
  for (const auto& target : request.worktreePaths) {
    auto path = authorize(target, root, {});
    if (!path) return refused("path_outside_workspace");
    paths.push_back(std::move(*path));
  }
  auto dirs = locateRepository(root);
  if (!dirs) return refused("No git repository found");
  auto lock = RepositoryLock::acquire(dirs->commonDir);
  if (auto* failed = std::get_if<vorn::Status>(&lock)) return refused(lockFailureText(*failed));
  return removeWorktrees(paths, root, limitOf(timeout, kLongGitLimit));
}

GitReport removeWorktrees(const std::vector<std::string>& paths, const std::string& primary,
                          double timeout) {
  std::string report;
  bool failed = false;
  for (const auto& path : paths) {
    auto run = runGit({"worktree", "remove", "--force", path}, primary, timeout);
    bool removed = run.ok() || !somethingAt(path);
    if (!removed) {
      // Drops the administrative data of worktrees whose folders are gone.
      (void)runGit({"worktree", "prune"}, primary, kPruneTimeout);
      failed = true;
    }
    if (!report.empty()) report += "; ";
    report += removalEntry(run, path, primary, removed);
  }
  if (failed) return refused(report, paths);
  return {.done = true, .text = report, .exitStatus = 0, .affectedPaths = paths};
}

}  // namespace VornAgentRunnerMain
