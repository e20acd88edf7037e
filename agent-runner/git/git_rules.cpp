#include "agent-runner/git/git_rules.h"

#include <algorithm>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {

double limitOf(double requested, GitLimit limit) { return std::max(requested, limit.minimum); }

vorn::OrRefusal<std::string> repositoryPreamble(const std::optional<std::string>& workspaceRoot) {
  std::string root = resolveRoot(workspaceRoot);
  if (root.empty()) return vorn::Refusal{"workspace_root is required"};
  // Cut short at the NUL, the root would name another folder.
  if (vorn::holdsNul(root)) return vorn::Refusal{"path_outside_workspace"};
  if (!isGitRepo(root)) return vorn::Refusal{"No git repository found"};
  return root;
}

std::string repositoryRelativePath(const std::string& path, const std::string& root) {
  std::string slashForm = root.ends_with('/') ? root : root + "/";
  if (path.starts_with(slashForm)) return path.substr(slashForm.size());
  if (path == root) return ".";
  return path;
}

vorn::OrRefusal<std::vector<std::string>> repositoryPaths(const std::vector<std::string>& targets,
                                                          const std::string& root) {
  PathAuthorizer authorizer(root, {});
  std::vector<std::string> paths;
  for (const auto& target : targets) {
    auto path = authorizer.authorize(target);
    if (!path) return vorn::Refusal{"path_outside_workspace"};
    paths.push_back(repositoryRelativePath(*path, root));
  }
  return paths;
}

std::string gitFailureText(const GitRun& run, std::string_view fixed) {
  if (run.refused) return std::string(fixed);
  // Git's own words; a run stopped at its limit has none worth giving.
  if (run.ran() && run.process.overran) return "timeout";
  if (run.ran()) return run.err();
  return outcomeText(run.process);
}

std::string runEndText(const GitRun& run) {
  return run.refused ? std::string() : outcomeText(run.process);
}

std::string firstNonEmptyOutput(std::initializer_list<std::string_view> candidates,
                                std::string_view fixed) {
  for (auto candidate : candidates) {
    auto trimmed = vorn::text::trim(candidate);
    if (!trimmed.empty()) return std::string(trimmed);
  }
  return std::string(fixed);
}

GitReport refused(std::string text, std::optional<std::vector<std::string>> affectedPaths) {
  return {.text = std::move(text), .affectedPaths = std::move(affectedPaths)};
}

GitReport gitFailure(const GitRun& run, std::string text,
                     std::optional<std::vector<std::string>> affectedPaths) {
  GitReport report{.text = std::move(text), .affectedPaths = std::move(affectedPaths)};
  if (run.ran()) {
    report.stdoutText = run.out();
    report.stderrText = run.err();
    report.exitStatus = endStatus(run.process);
  }
  return report;
}

GitReport gitSuccess(const GitRun& run, std::string message,
                     std::optional<std::vector<std::string>> affectedPaths) {
  return {.done = true,
          .text = std::move(message),
          .stdoutText = run.out(),
          .stderrText = run.err(),
          .exitStatus = 0,
          .affectedPaths = std::move(affectedPaths)};
}

}  // namespace VornAgentRunnerMain
