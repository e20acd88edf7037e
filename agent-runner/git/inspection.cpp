#include "agent-runner/git/inspection.h"

#include <algorithm>

#include "agent-runner/git/ref_names.h"
#include "agent-runner/workspace/authorize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr std::size_t kDiffLimit = 48000;

// One git run whose output is the report; failures use the git failure text.
GitReport report(const RepositoryRequest& request, const std::vector<std::string>& args,
                 const char* message, const char* fixedFailure) {
  auto run = runGit(args, request.root, limitOf(request.timeout, kStandardGitLimit));
  if (!run.ok()) return gitFailure(run, gitFailureText(run, fixedFailure));
  return gitSuccess(run, message);
}

vorn::OrRefusal<std::vector<std::string>> diffArguments(const DiffRequest& request) {
  const auto& root = request.repository.root;
  std::string scope = vorn::text::lowercase(vorn::text::trim(request.scope));
  std::vector<std::string> args{"diff"};
  if (scope == "staged") args.emplace_back("--staged");
  if (scope == "branch") {
    auto base = validateBranchName(request.baseBranch);
    if (!base) return vorn::Refusal{"invalid_base_branch"};
    args.push_back(*base + "...HEAD");
  }
  if (request.path && !vorn::text::trim(*request.path).empty()) {
    auto path = authorize(*request.path, root, {});
    if (!path) return vorn::Refusal{"path_outside_workspace"};
    args.emplace_back("--");
    args.push_back(repositoryRelativePath(*path, root));
  }
  return args;
}

// `git diff` exits 1 when it was asked to report differences as its status.
// A run that overran or never started reported nothing.
bool diffSucceeded(const GitRun& run) {
  auto status = run.refused ? std::nullopt : endStatus(run.process);
  return status && (*status == 0 || *status == 1);
}

}  // namespace

GitReport gitStatus(const RepositoryRequest& request) {
  return report(request, {"status", "--porcelain=1", "--branch"}, "status", "git status failed");
}

GitReport gitLog(const LogRequest& request) {
  std::int64_t count = std::clamp(request.count, kMinLogCount, kMaxLogCount);
  return report(request.repository, {"log", "--oneline", "-" + std::to_string(count)}, "log",
                "git log failed");
}

std::string truncateDiff(std::string text) {
  if (text.size() <= kDiffLimit) return text;
  text.resize(vorn::text::graphemePrefixLength(text, kDiffLimit));
  return text + "\n\u2026(diff truncated)";
}

GitReport gitDiff(const DiffRequest& request) {
  auto args = diffArguments(request);
  if (auto* refusal = std::get_if<vorn::Refusal>(&args)) return refused(std::move(refusal->text));
  auto run = runGit(std::get<std::vector<std::string>>(args), request.repository.root,
                    limitOf(request.repository.timeout, kStandardGitLimit));
  if (!diffSucceeded(run)) return gitFailure(run, gitFailureText(run, "git diff failed"));
  return {.done = true,
          .text = "diff",
          .stdoutText = truncateDiff(run.out()),
          .stderrText = run.err(),
          .exitStatus = 0};
}

}  // namespace VornAgentRunnerMain
