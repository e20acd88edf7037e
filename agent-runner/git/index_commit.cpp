#include "agent-runner/git/index_commit.h"

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/git_rules.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr double kHeadProbeTimeout = 5;

// `restore --staged` needs a HEAD to restore from; before the first commit
// the only way out of the index is `rm --cached`.
std::vector<std::string> unstageArguments(const std::string& root) {
  if (runGit({"rev-parse", "--verify", "HEAD"}, root, kHeadProbeTimeout).ok) {
    return {"restore", "--staged", "--"};
  }
  return {"rm", "--cached", "-f", "--"};
}

}  // namespace

vorn::RunnerResponse mutateGitIndex(const vorn::RunnerRequest& request, bool add) {
  auto target = repositoryAndPaths(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&target)) return *refusal;
  auto& [root, paths] = std::get<RepositoryPaths>(target);

  std::vector<std::string> args =
      add ? std::vector<std::string>{"add", "--"} : unstageArguments(root);
  args.insert(args.end(), paths.begin(), paths.end());
  auto run = runGit(args, root, standardGitTimeout(request));
  if (!run.ok) {
    return gitFailure(run, gitFailureText(run, add ? "git add failed" : "git unstage failed"),
                      std::move(paths));
  }
  std::string count = std::to_string(paths.size());
  return gitSuccess(run, (add ? "Staged " : "Unstaged ") + count + " path(s)", std::move(paths));
}

vorn::RunnerResponse gitStage(const vorn::RunnerRequest& request) {
  return mutateGitIndex(request, true);
}

vorn::RunnerResponse gitUnstage(const vorn::RunnerRequest& request) {
  return mutateGitIndex(request, false);
}

vorn::RunnerResponse gitCommit(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  const auto& root = std::get<std::string>(preamble);
  std::string message(vorn::text::trim(request.message.value_or("")));
  if (message.empty()) return vorn::failure("commit message is required");
  auto run = runGit({"commit", "-m", message}, root, standardGitTimeout(request));
  if (!run.ok) return gitFailure(run, gitFailureText(run, "git commit failed"));
  return gitSuccess(run, "Commit created");
}

}  // namespace VornAgentRunnerMain
