// One delivery is a fixed sequence of git runs; each step either hands the
// next one what it needs or ends the delivery with its answer.
#include "agent-runner/worktree/delivery.h"

#include <sys/stat.h>

#include <charconv>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/git_rules.h"
#include "agent-runner/git/ref_names.h"
#include "agent-runner/git/git_directories.h"
#include "agent-runner/worktree/isolation_area.h"
#include "agent-runner/worktree/repository_lock.h"
#include "agent-runner/worktree/worktrees.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr double kStatusTimeout = 15;
constexpr double kCommitStepTimeout = 30;
constexpr double kBranchLookupTimeout = 5;
constexpr double kCountTimeout = 15;
constexpr double kRecheckTimeout = 10;
constexpr double kPruneTimeout = 60;

struct Delivery {
  std::string primary;
  std::string worktree;
  std::string branch;
  std::string commitMessage;
  std::string mergeMessage;
  std::vector<std::string> affected() const { return {primary, worktree}; }
};

std::string trimmedStdout(const vorn::RunnerResponse& run) {
  return std::string(vorn::text::trim(run.stdout_text.value_or("")));
}

bool containsNothingToCommit(const std::string& text) {
  return vorn::text::lowercase(text).find("nothing to commit") != std::string::npos;
}

OrAnswer<Delivery> checkedDelivery(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  Delivery d{.primary = std::get<std::string>(preamble)};
  auto worktree = isolatedWorktreePath(request, d.primary);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&worktree)) return *refusal;
  d.worktree = std::get<std::string>(worktree);
  struct stat st;
  if (::stat(d.worktree.c_str(), &st) != 0) return vorn::failure("worktree_missing");
  // A plain folder passes a repository probe through the primary checkout
  // above it; committing "there" would commit the user's own pending work.
  if (!isWorkingTreeTop(d.worktree)) return vorn::failure("worktree is not a git checkout");
  auto branch = validateBranchName(firstPresentTrimmed(request.branch, request.name));
  if (!branch) return vorn::failure("invalid_branch");
  d.branch = *branch;
  std::string message(vorn::text::trim(request.message.value_or("")));
  d.commitMessage = message.empty() ? "vorn: agent task changes" : message;
  d.mergeMessage = message.empty() ? "vorn: deliver " + d.branch : message;
  return d;
}

// Commits whatever the worktree holds; nothing on success.
std::optional<vorn::RunnerResponse> commitPending(const Delivery& d) {
  auto status = runGit({"status", "--porcelain=v1", "-uall"}, d.worktree, kStatusTimeout);
  if (trimmedStdout(status).empty()) return std::nullopt;
  auto add = runGit({"add", "-A"}, d.worktree, kCommitStepTimeout);
  if (!add.ok) return gitFailure(add, gitFailureText(add, "git add failed in worktree"));
  auto commit = runGit({"commit", "-m", d.commitMessage}, d.worktree, kCommitStepTimeout);
  if (commit.ok) return std::nullopt;
  std::string combined(
      vorn::text::trim(commit.stderr_text.value_or("") + "\n" + commit.stdout_text.value_or("")));
  if (containsNothingToCommit(combined)) return std::nullopt;
  return gitFailure(commit, combined.empty() ? "git commit failed in worktree" : combined);
}

std::optional<long long> commitsAhead(const Delivery& d, const std::string& primaryBranch) {
  auto run =
      runGit({"rev-list", "--count", primaryBranch + ".." + d.branch}, d.primary, kCountTimeout);
  std::string text = run.stdout_text ? trimmedStdout(run) : "0";
  long long count = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return count;
}

// Nothing ahead and nothing pending: the one answer that changes nothing.
std::optional<vorn::RunnerResponse> nothingToDeliver(const Delivery& d,
                                                     const std::string& primaryBranch) {
  auto ahead = commitsAhead(d, primaryBranch);
  if (ahead && *ahead != 0) return std::nullopt;
  auto status = runGit({"status", "--porcelain=v1"}, d.worktree, kRecheckTimeout);
  if (!trimmedStdout(status).empty()) return std::nullopt;
  return vorn::success(
      {.affectedPaths = d.affected(),
       .message = "Nothing to deliver \u2014 worktree has no commits ahead of " + primaryBranch,
       .stdoutText = status.stdout_text,
       .exitStatus = 0});
}

vorn::RunnerResponse merge(const Delivery& d, const vorn::RunnerRequest& request,
                           const std::string& primaryBranch) {
  std::vector<std::string> args{"merge"};
  if (request.no_ff.value_or(true)) args.emplace_back("--no-ff");
  args.insert(args.end(), {"-m", d.mergeMessage, d.branch});
  auto run = runGit(args, d.primary, timeLimit(request.timeout, 90, 15));
  if (!run.ok) {
    // A conflicted merge stays as git left it, for the user to resolve.
    std::string why =
        firstNonEmptyOutput({&run.stderr_text, &run.stdout_text, &run.error}, "git merge failed");
    return gitFailure(run, "Merge into primary failed: " + why, d.affected());
  }
  std::string report = "Merged " + d.branch + " into " + primaryBranch;
  if (request.prune.value_or(false)) {
    bool pruned = gitWorktreeRemove({d.worktree}, d.primary, kPruneTimeout).ok;
    report += pruned ? " \u00b7 worktree pruned" : " \u00b7 worktree prune skipped/failed";
  }
  return gitSuccess(run, std::move(report), d.affected());
}

}  // namespace

vorn::RunnerResponse gitDeliver(const vorn::RunnerRequest& request) {
  auto checked = checkedDelivery(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&checked)) return *refusal;
  const auto& d = std::get<Delivery>(checked);
  // One delivery at a time per repository, from commit to prune: a merge
  // that meets another's index lock or half-made merge would fail, or leave
  // the user's index staging a reversal of work just merged. After a
  // conflict the next merge refuses at once and leaves the index alone.
  auto dirs = locateRepository(d.primary);
  if (!dirs) return vorn::failure("No git repository found");
  auto lock = RepositoryLock::acquire(dirs->commonDir);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&lock)) return *refusal;
  if (auto failed = commitPending(d)) return *failed;
  auto head = runGit({"rev-parse", "--abbrev-ref", "HEAD"}, d.primary, kBranchLookupTimeout);
  std::string primaryBranch = head.stdout_text ? trimmedStdout(head) : "HEAD";
  if (auto nothing = nothingToDeliver(d, primaryBranch)) return *nothing;
  return merge(d, request, primaryBranch);
}

}  // namespace VornAgentRunnerMain
