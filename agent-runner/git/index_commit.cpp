#include "agent-runner/git/index_commit.h"

#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr double kHeadProbeTimeout = 5;

// `restore --staged` needs a HEAD to restore from; before the first commit
// the only way out of the index is `rm --cached`.
std::vector<std::string> unstageArguments(const std::string& root) {
  if (runGit({"rev-parse", "--verify", "HEAD"}, root, kHeadProbeTimeout).ok()) {
    return {"restore", "--staged", "--"};
  }
  return {"rm", "--cached", "-f", "--"};
}

GitReport mutateGitIndex(const PathsRequest& request, bool add) {
  const auto& root = request.repository.root;
  auto relative = repositoryPaths(request.paths, root);
  if (auto* refusal = std::get_if<vorn::Refusal>(&relative)) return refused(refusal->text);
  auto& paths = std::get<std::vector<std::string>>(relative);
  std::vector<std::string> args =
      add ? std::vector<std::string>{"add", "--"} : unstageArguments(root);
  args.insert(args.end(), paths.begin(), paths.end());
  auto run = runGit(args, root, limitOf(request.repository.timeout, kStandardGitLimit));
  if (!run.ok()) {
    return gitFailure(run, gitFailureText(run, add ? "git add failed" : "git unstage failed"),
                      std::move(paths));
  }
  std::string count = std::to_string(paths.size());
  return gitSuccess(run, (add ? "Staged " : "Unstaged ") + count + " path(s)", std::move(paths));
}

}  // namespace

GitReport gitStage(const PathsRequest& request) { return mutateGitIndex(request, true); }

GitReport gitUnstage(const PathsRequest& request) { return mutateGitIndex(request, false); }

GitReport gitCommit(const CommitRequest& request) {
  std::string message(vorn::text::trim(request.message));
  auto run = runGit({"commit", "-m", message}, request.repository.root,
                    limitOf(request.repository.timeout, kStandardGitLimit));
  if (!run.ok()) return gitFailure(run, gitFailureText(run, "git commit failed"));
  return gitSuccess(run, "Commit created");
}

}  // namespace VornAgentRunnerMain
