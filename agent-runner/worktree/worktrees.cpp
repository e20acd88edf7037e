#include "agent-runner/worktree/worktrees.h"

#include <sys/stat.h>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/git_rules.h"
#include "agent-runner/git/ref_names.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/file_mutations.h"
#include "agent-runner/workspace/path_standardize.h"
#include "agent-runner/worktree/isolation_area.h"
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

vorn::RunnerResponse createWorktree(const std::string& root, const std::string& path,
                                    const std::string& branch, double timeout) {
  // Whatever stands here is not a worktree of its own (see the caller).
  if (somethingAt(path)) (void)vorn::removeItem(path);
  auto first = runGit({"worktree", "add", "-b", branch, path, "HEAD"}, root, timeout);
  if (first.ok) return worktreeAnswer(first, "Created worktree on new branch " + branch, path);
  auto second = runGit({"worktree", "add", path, branch}, root, timeout);
  if (second.ok) {
    return worktreeAnswer(second, "Attached worktree to existing branch " + branch, path);
  }
  return addFailure(first, second, path);
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
  // A plain folder here would pass a repository probe only through the
  // primary checkout above it; reusing it would put the agent's work there.
  if (isWorkingTreeTop(path)) {
    return vorn::success({.path = path,
                          .affectedPaths = std::vector<std::string>{path},
                          .message = "Using existing worktree on " + *branch,
                          .exitStatus = 0});
  }
  return createWorktree(root, path, *branch, timeLimit(request.timeout, 60, 15));
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
