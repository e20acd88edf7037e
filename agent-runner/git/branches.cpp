#include "agent-runner/git/branches.h"

#include <algorithm>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/git_rules.h"
#include "agent-runner/git/ref_names.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr double kCurrentBranchTimeout = 5;
constexpr double kFetchTimeoutCap = 30;

struct Checkout {
  std::vector<std::string> args;  // the branch name is appended
  const char* successPrefix;
  const char* fixedFailure;
};

vorn::RunnerResponse checkout(const vorn::RunnerRequest& request, const Checkout& form) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  const auto& root = std::get<std::string>(preamble);
  auto name = validateBranchName(firstPresentTrimmed(request.name, request.branch));
  if (!name) return vorn::failure("invalid_branch");
  auto args = form.args;
  args.push_back(*name);
  auto run = runGit(args, root, standardGitTimeout(request));
  if (!run.ok) return gitFailure(run, gitFailureText(run, form.fixedFailure));
  return gitSuccess(run, form.successPrefix + *name);
}

// The branch HEAD is on, when it may be named; a detached HEAD reads "HEAD".
std::optional<std::string> currentBranch(const std::string& root) {
  auto run = runGit({"rev-parse", "--abbrev-ref", "HEAD"}, root, kCurrentBranchTimeout);
  if (!run.ok) return std::nullopt;
  return validateBranchName(run.stdout_text.value_or(""));
}

// The arguments after "push", or the answer that refuses the request.
OrAnswer<std::vector<std::string>> pushTargets(const vorn::RunnerRequest& request,
                                               const std::string& remote, const std::string& root) {
  std::string branch = firstPresentTrimmed(request.branch, request.name);
  if (request.set_upstream.value_or(false)) {
    auto name = branch.empty() ? currentBranch(root) : validateBranchName(branch);
    if (!name) {
      return vorn::failure(branch.empty() ? "branch is required for set_upstream"
                                          : "invalid_branch");
    }
    return std::vector<std::string>{"-u", remote, *name};
  }
  if (branch.empty()) return std::vector<std::string>{};
  auto name = validateBranchName(branch);
  if (!name) return vorn::failure("invalid_branch");
  return std::vector<std::string>{remote, *name};
}

}  // namespace

vorn::RunnerResponse gitBranchCreate(const vorn::RunnerRequest& request) {
  return checkout(
      request, {{"checkout", "-b"}, "Created and switched to branch ", "git checkout -b failed"});
}

vorn::RunnerResponse gitBranchSwitch(const vorn::RunnerRequest& request) {
  return checkout(request, {{"checkout"}, "Switched to branch ", "git checkout failed"});
}

vorn::RunnerResponse gitBranchList(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  auto run =
      runGit({"branch", "--list"}, std::get<std::string>(preamble), standardGitTimeout(request));
  if (!run.ok) return gitFailure(run, gitFailureText(run, "git branch --list failed"));
  return gitSuccess(run, "branch_list");
}

vorn::RunnerResponse gitPush(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  const auto& root = std::get<std::string>(preamble);
  auto remote = validateRemoteName(request.remote.value_or("origin"));
  if (!remote) return vorn::failure("invalid_remote");
  double pushLimit = timeLimit(request.timeout, 60, 15);
  // In the sandbox, the network only when the request allows it.
  vorn::sandbox::Policy network{.allowNetwork = request.allow_network.value_or(false)};
  // Refreshes the remote-tracking branches; whatever happens, the push goes on.
  (void)runGit({"fetch", "--prune", *remote}, root, std::min(pushLimit, kFetchTimeoutCap), {},
               network);
  auto targets = pushTargets(request, *remote, root);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&targets)) return *refusal;
  std::vector<std::string> args{"push"};
  auto& rest = std::get<std::vector<std::string>>(targets);
  args.insert(args.end(), rest.begin(), rest.end());
  auto run = runGit(args, root, pushLimit, {}, network);
  if (!run.ok) return gitFailure(run, gitFailureText(run, "git push failed"));
  return gitSuccess(run, "Push succeeded");
}

}  // namespace VornAgentRunnerMain
