#include "agent-runner/git/branches.h"

#include <algorithm>

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

GitReport checkout(const BranchRequest& request, const Checkout& form) {
  const auto& [root, timeout] = request.repository;
  auto name = validateBranchName(request.name);
  if (!name) return refused("invalid_branch");
  auto args = form.args;
  args.push_back(*name);
  auto run = runGit(args, root, limitOf(timeout, kStandardGitLimit));
  if (!run.ok()) return gitFailure(run, gitFailureText(run, form.fixedFailure));
  return gitSuccess(run, form.successPrefix + *name);
}

// The branch HEAD is on, when it may be named; a detached HEAD reads "HEAD".
std::optional<std::string> currentBranch(const std::string& root) {
  auto run = runGit({"rev-parse", "--abbrev-ref", "HEAD"}, root, kCurrentBranchTimeout);
  if (!run.ok()) return std::nullopt;
  return validateBranchName(run.out());
}

// The arguments after "push", or why the request is refused.
vorn::OrRefusal<std::vector<std::string>> pushTargets(const PushRequest& request,
                                                      const std::string& remote) {
  const std::string& branch = request.branch;
  if (request.setUpstream) {
    auto name =
        branch.empty() ? currentBranch(request.repository.root) : validateBranchName(branch);
    if (!name) {
      return vorn::Refusal{branch.empty() ? "branch is required for set_upstream"
                                          : "invalid_branch"};
    }
    return std::vector<std::string>{"-u", remote, *name};
  }
  if (branch.empty()) return std::vector<std::string>{};
  auto name = validateBranchName(branch);
  if (!name) return vorn::Refusal{"invalid_branch"};
  return std::vector<std::string>{remote, *name};
}

}  // namespace

GitReport gitBranchCreate(const BranchRequest& request) {
  return checkout(
      request, {{"checkout", "-b"}, "Created and switched to branch ", "git checkout -b failed"});
}

GitReport gitBranchSwitch(const BranchRequest& request) {
  return checkout(request, {{"checkout"}, "Switched to branch ", "git checkout failed"});
}

GitReport gitBranchList(const RepositoryRequest& request) {
  auto run =
      runGit({"branch", "--list"}, request.root, limitOf(request.timeout, kStandardGitLimit));
  if (!run.ok()) return gitFailure(run, gitFailureText(run, "git branch --list failed"));
  return gitSuccess(run, "branch_list");
}

GitReport gitPush(const PushRequest& request) {
  const auto& root = request.repository.root;
  auto remote = validateRemoteName(request.remote);
  if (!remote) return refused("invalid_remote");
  double pushLimit = limitOf(request.repository.timeout, kLongGitLimit);
  // In the sandbox, the network only when the request allows it.
  vorn::sandbox::Policy network{.allowNetwork = request.allowNetwork};
  // Refreshes the remote-tracking branches; whatever happens, the push goes on.
  (void)runGit({"fetch", "--prune", *remote}, root, std::min(pushLimit, kFetchTimeoutCap), {},
               network);
  auto targets = pushTargets(request, *remote);
  if (auto* refusal = std::get_if<vorn::Refusal>(&targets)) return refused(refusal->text);
  std::vector<std::string> args{"push"};
  auto& rest = std::get<std::vector<std::string>>(targets);
  args.insert(args.end(), rest.begin(), rest.end());
  auto run = runGit(args, root, pushLimit, {}, network);
  if (!run.ok()) return gitFailure(run, gitFailureText(run, "git push failed"));
  return gitSuccess(run, "Push succeeded");
}

}  // namespace VornAgentRunnerMain
