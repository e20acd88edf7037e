#include "agent-runner/worktree/worktrees.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/git_rules.h"
#include "agent-runner/git/ref_names.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/file_mutations.h"
#include "agent-runner/workspace/path_standardize.h"
#include "agent-runner/git/git_directories.h"
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

vorn::RunnerResponse worktreeAnswer(const vorn::RunnerResponse& run, const std::string& message,
                                    const std::string& path) {
  auto answer = gitSuccess(run, message, std::vector<std::string>{path});
  answer.path = path;
  return answer;
}

// Both attempts failed: the first one's complaint comes first.
vorn::RunnerResponse addFailure(const vorn::RunnerResponse& first,
                                const vorn::RunnerResponse& second, const std::string& path) {
  std::string text = firstNonEmptyOutput({&first.stderr_text, &first.stdout_text,
                                          &second.stderr_text, &second.stdout_text, &first.error},
                                         "git worktree add failed");
  return vorn::failure(std::move(text),
                       {.stdoutText = second.stdout_text ? second.stdout_text : first.stdout_text,
                        .stderrText = second.stderr_text ? second.stderr_text : first.stderr_text,
                        .exitStatus = second.exit_status ? second.exit_status : first.exit_status,
                        .affectedPaths = std::vector<std::string>{path}});
}

vorn::RunnerResponse reuse(const std::string& path, const std::string& branch) {
  return vorn::success({.path = path,
                        .affectedPaths = std::vector<std::string>{path},
                        .message = "Using existing worktree on " + branch,
                        .exitStatus = 0});
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

vorn::RunnerResponse runWorktreeAdd(const std::string& root, const std::string& path,
                                    const std::string& branch, double timeout) {
  auto first = runGit({"worktree", "add", "-b", branch, path, "HEAD"}, root, timeout);
  if (first.ok) return worktreeAnswer(first, "Created worktree on new branch " + branch, path);
  auto second = runGit({"worktree", "add", path, branch}, root, timeout);
  if (second.ok) {
    return worktreeAnswer(second, "Attached worktree to existing branch " + branch, path);
  }
  return addFailure(first, second, path);
}

// Under the lock: nothing is ever removed to make room; the isolation area
// is excluded before the first worktree appears in it.
vorn::RunnerResponse createWorktree(const RepositoryLocation& dirs, const std::string& root,
                                    const std::string& path, const std::string& branch,
                                    double timeout) {
  auto lock = RepositoryLock::acquire(dirs.commonDir);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&lock)) return *refusal;
  auto occupancy = occupancyOf(path, dirs.commonDir);
  if (occupancy.occupant == Occupant::kOurWorktree) return reuse(path, branch);
  if (occupancy.occupant == Occupant::kOther) {
    return vorn::failure("worktree_path_occupied: " + occupancy.why);
  }
  auto pattern = isolationAreaPattern(dirs, root);
  if (pattern && !isExcluded(dirs, *pattern)) {
    if (auto s = addExclude(dirs, *pattern); !s.ok()) {
      return vorn::failure("exclude_failed: " + s.description());
    }
  }
  return runWorktreeAdd(root, path, branch, timeout);
}

std::vector<std::string> removalTargets(const vorn::RunnerRequest& request) {
  if (request.paths && !request.paths->empty()) return *request.paths;
  for (const auto* field : {&request.worktree_path, &request.path}) {
    std::string text = firstPresentTrimmed(*field, std::nullopt);
    if (!text.empty()) return {text};
  }
  return {};
}

std::string removalEntry(const vorn::RunnerResponse& run, const std::string& path,
                         const std::string& primary, bool removed) {
  std::string relative = repositoryRelativePath(path, primary);
  if (removed) return "removed " + relative;
  std::string why = run.stderr_text ? *run.stderr_text : run.error.value_or("error");
  return "failed " + relative + ": " + why;
}

}  // namespace

vorn::RunnerResponse gitWorktreeAdd(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  const auto& root = std::get<std::string>(preamble);
  auto worktree = isolatedWorktreePath(request, root);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&worktree)) return *refusal;
  const auto& path = std::get<std::string>(worktree);
  auto branch = validateBranchName(firstPresentTrimmed(request.branch, request.name));
  if (!branch) return vorn::failure("invalid_branch");
  if (auto s = vorn::makeDirectories(vorn::parentPath(path)); !s.ok()) {
    return vorn::failure("mkdir_failed: " + s.description());
  }
  auto dirs = locateRepository(root);
  if (!dirs) return vorn::failure("No git repository found");
  // Only a worktree of this repository is reused: a plain folder passes a
  // repository probe through the primary checkout above it, and putting the
  // agent's work there would put it in the user's checkout.
  if (isWorktreeOf(path, dirs->commonDir)) return reuse(path, *branch);
  return createWorktree(*dirs, root, path, *branch, timeLimit(request.timeout, 60, 15));
}

vorn::RunnerResponse gitWorktreeRemove(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  const auto& root = std::get<std::string>(preamble);
  auto targets = removalTargets(request);
  if (targets.empty()) return vorn::failure("paths are required");
  std::vector<std::string> paths;
  for (const auto& target : targets) {
    auto path = authorize(target, root, {});
    if (!path) return vorn::failure("path_outside_workspace");
    paths.push_back(std::move(*path));
  }
  auto dirs = locateRepository(root);
  if (!dirs) return vorn::failure("No git repository found");
  auto lock = RepositoryLock::acquire(dirs->commonDir);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&lock)) return *refusal;
  return gitWorktreeRemove(paths, root, timeLimit(request.timeout, 60, 15));
}

vorn::RunnerResponse gitWorktreeRemove(const std::vector<std::string>& paths,
                                       const std::string& primary, double timeout) {
  std::string report;
  bool failed = false;
  for (const auto& path : paths) {
    auto run = runGit({"worktree", "remove", "--force", path}, primary, timeout);
    bool removed = run.ok || !somethingAt(path);
    if (!removed) {
      // Drops the administrative data of worktrees whose folders are gone.
      (void)runGit({"worktree", "prune"}, primary, kPruneTimeout);
      failed = true;
    }
    if (!report.empty()) report += "; ";
    report += removalEntry(run, path, primary, removed);
  }
  if (failed) return vorn::failure(report, {.affectedPaths = paths});
  return vorn::success({.affectedPaths = paths, .message = report, .exitStatus = 0});
}

}  // namespace VornAgentRunnerMain
