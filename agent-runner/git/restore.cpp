#include "agent-runner/git/restore.h"

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/git_rules.h"

namespace VornAgentRunnerMain {
namespace {

std::vector<std::string> restoreArguments(const vorn::RunnerRequest& request,
                                          const std::vector<std::string>& paths) {
  std::vector<std::string> args{"restore", "--source=HEAD"};
  if (request.staged.value_or(true)) args.emplace_back("--staged");
  if (request.worktree.value_or(true)) args.emplace_back("--worktree");
  args.emplace_back("--");
  args.insert(args.end(), paths.begin(), paths.end());
  return args;
}

}  // namespace

vorn::RunnerResponse gitRestore(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  const auto& root = std::get<std::string>(preamble);
  auto targets = requestTargets(request);
  if (targets.empty()) return vorn::failure("paths are required");
  auto relative = authorizedRelativePaths(targets, root);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&relative)) return *refusal;
  auto& paths = std::get<std::vector<std::string>>(relative);

  double timeout = standardGitTimeout(request);
  auto run = runGit(restoreArguments(request, paths), root, timeout);
  if (!run.ok) {
    // Older gits lack `restore`; checkout puts back index and tree alike.
    std::vector<std::string> args{"checkout", "HEAD", "--"};
    args.insert(args.end(), paths.begin(), paths.end());
    run = runGit(args, root, timeout);
    if (!run.ok) return gitFailure(run, gitFailureText(run, "git restore failed"), paths);
  }
  std::string message = "Restored " + std::to_string(paths.size()) + " path(s) from HEAD";
  return gitSuccess(run, std::move(message), std::move(paths));
}

}  // namespace VornAgentRunnerMain
