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
  auto target = repositoryAndPaths(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&target)) return *refusal;
  auto& [root, paths] = std::get<RepositoryPaths>(target);

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
