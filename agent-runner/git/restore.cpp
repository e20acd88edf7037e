#include "agent-runner/git/restore.h"

namespace VornAgentRunnerMain {
namespace {

std::vector<std::string> restoreArguments(const RestoreRequest& request,
                                          const std::vector<std::string>& paths) {
  std::vector<std::string> args{"restore", "--source=HEAD"};
  if (request.staged) args.emplace_back("--staged");
  if (request.worktree) args.emplace_back("--worktree");
  args.emplace_back("--");
  args.insert(args.end(), paths.begin(), paths.end());
  return args;
}

}  // namespace

GitReport gitRestore(const RestoreRequest& request) {
  const auto& [root, timeout] = request.targets.repository;
  auto relative = repositoryPaths(request.targets.paths, root);
  if (auto* refusal = std::get_if<vorn::Refusal>(&relative)) return refused(refusal->text);
  auto& paths = std::get<std::vector<std::string>>(relative);
  double limit = limitOf(timeout, kStandardGitLimit);
  auto run = runGit(restoreArguments(request, paths), root, limit);
  if (!run.ok()) {
    // Older gits lack `restore`; checkout puts back index and tree alike.
    std::vector<std::string> args{"checkout", "HEAD", "--"};
    args.insert(args.end(), paths.begin(), paths.end());
    run = runGit(args, root, limit);
    if (!run.ok()) return gitFailure(run, gitFailureText(run, "git restore failed"), paths);
  }
  std::string message = "Restored " + std::to_string(paths.size()) + " path(s) from HEAD";
  return gitSuccess(run, std::move(message), std::move(paths));
}

}  // namespace VornAgentRunnerMain
