#include "agent-runner/git/inspection.h"

#include <algorithm>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/git_rules.h"
#include "agent-runner/git/ref_names.h"
#include "agent-runner/workspace/authorize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr std::int64_t kDefaultLogCount = 10;
constexpr std::int64_t kMaxLogCount = 100;
constexpr std::size_t kDiffLimit = 48000;

// One git run whose output is the answer; failures use the git failure text.
vorn::RunnerResponse report(const vorn::RunnerRequest& request, std::vector<std::string> args,
                            const char* message, const char* fixedFailure) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  auto run = runGit(args, std::get<std::string>(preamble), standardGitTimeout(request));
  if (!run.ok) return gitFailure(run, gitFailureText(run, fixedFailure));
  return gitSuccess(run, message);
}

OrAnswer<std::vector<std::string>> diffArguments(const vorn::RunnerRequest& request,
                                                 const std::string& root) {
  std::string scope = vorn::text::lowercase(vorn::text::trim(request.scope.value_or("unstaged")));
  std::vector<std::string> args{"diff"};
  if (scope == "staged") args.emplace_back("--staged");
  if (scope == "branch") {
    auto base = validateBranchName(request.base_branch.value_or("main"));
    if (!base) return vorn::failure("invalid_base_branch");
    args.push_back(*base + "...HEAD");
  }
  if (request.path && !vorn::text::trim(*request.path).empty()) {
    auto path = authorize(*request.path, root, {});
    if (!path) return vorn::failure("path_outside_workspace");
    args.emplace_back("--");
    args.push_back(repositoryRelativePath(*path, root));
  }
  return args;
}

// `git diff` exits 1 when it was asked to report differences as its status.
bool diffSucceeded(const vorn::RunnerResponse& run) {
  return !run.exit_status || run.ok || *run.exit_status == 1;
}

}  // namespace

vorn::RunnerResponse gitStatus(const vorn::RunnerRequest& request) {
  return report(request, {"status", "--porcelain=1", "--branch"}, "status", "git status failed");
}

vorn::RunnerResponse gitLog(const vorn::RunnerRequest& request) {
  std::int64_t count =
      std::clamp(request.count.value_or(kDefaultLogCount), std::int64_t{1}, kMaxLogCount);
  return report(request, {"log", "--oneline", "-" + std::to_string(count)}, "log",
                "git log failed");
}

std::string truncateDiff(std::string text) {
  if (text.size() <= kDiffLimit) return text;
  text.resize(vorn::text::graphemePrefixLength(text, kDiffLimit));
  return text + "\n\u2026(diff truncated)";
}

vorn::RunnerResponse gitDiff(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  const auto& root = std::get<std::string>(preamble);
  auto args = diffArguments(request, root);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&args)) return *refusal;
  auto run = runGit(std::get<std::vector<std::string>>(args), root, standardGitTimeout(request));
  if (!diffSucceeded(run)) return gitFailure(run, gitFailureText(run, "git diff failed"));
  return vorn::success({.message = "diff",
                        .stdoutText = truncateDiff(run.stdout_text.value_or("")),
                        .stderrText = run.stderr_text,
                        .exitStatus = 0});
}

}  // namespace VornAgentRunnerMain
