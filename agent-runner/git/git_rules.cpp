#include "agent-runner/git/git_rules.h"

#include <algorithm>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {

OrAnswer<std::string> repositoryPreamble(const vorn::RunnerRequest& request) {
  std::string root = resolveRoot(request.workspace_root);
  if (root.empty()) return vorn::failure("workspace_root is required");
  // Cut short at the NUL, the root would name another folder.
  if (vorn::holdsNul(root)) return vorn::failure("path_outside_workspace");
  if (!isGitRepo(root)) return vorn::failure("No git repository found");
  return root;
}

double timeLimit(const std::optional<double>& requested, double fallback, double minimum) {
  return std::max(requested.value_or(fallback), minimum);
}

double standardGitTimeout(const vorn::RunnerRequest& request) {
  return timeLimit(request.timeout, 30, 5);
}

std::string repositoryRelativePath(const std::string& path, const std::string& root) {
  std::string slashForm = root.ends_with('/') ? root : root + "/";
  if (path.starts_with(slashForm)) return path.substr(slashForm.size());
  if (path == root) return ".";
  return path;
}

OrAnswer<RepositoryPaths> repositoryAndPaths(const vorn::RunnerRequest& request) {
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  RepositoryPaths result{std::move(std::get<std::string>(preamble)), {}};
  std::vector<std::string> targets;
  if (request.paths) {
    targets = *request.paths;
  } else if (request.path) {
    targets = {*request.path};
  }
  if (targets.empty()) return vorn::failure("paths are required");
  PathAuthorizer authorizer(result.root, {});
  for (const auto& target : targets) {
    auto path = authorizer.authorize(target);
    if (!path) return vorn::failure("path_outside_workspace");
    result.paths.push_back(repositoryRelativePath(*path, result.root));
  }
  return result;
}

std::string gitFailureText(const vorn::RunnerResponse& run, std::string_view fixed) {
  if (run.stderr_text) return *run.stderr_text;
  if (run.error) return *run.error;
  return std::string(fixed);
}

std::string firstNonEmptyOutput(std::initializer_list<const std::optional<std::string>*> candidates,
                                std::string_view fixed) {
  for (const auto* candidate : candidates) {
    if (!*candidate) continue;
    auto trimmed = vorn::text::trim(**candidate);
    if (!trimmed.empty()) return std::string(trimmed);
  }
  return std::string(fixed);
}

vorn::RunnerResponse gitFailure(const vorn::RunnerResponse& run, std::string text,
                                std::optional<std::vector<std::string>> affectedPaths) {
  return vorn::failure(std::move(text), {.stdoutText = run.stdout_text,
                                         .stderrText = run.stderr_text,
                                         .exitStatus = run.exit_status,
                                         .affectedPaths = std::move(affectedPaths)});
}

vorn::RunnerResponse gitSuccess(const vorn::RunnerResponse& run, std::string message,
                                std::optional<std::vector<std::string>> affectedPaths) {
  return vorn::success({.affectedPaths = std::move(affectedPaths),
                        .message = std::move(message),
                        .stdoutText = run.stdout_text,
                        .stderrText = run.stderr_text,
                        .exitStatus = 0});
}

std::string firstPresentTrimmed(const std::optional<std::string>& first,
                                const std::optional<std::string>& second) {
  const auto& chosen = first ? first : second;
  return chosen ? std::string(vorn::text::trim(*chosen)) : std::string();
}

}  // namespace VornAgentRunnerMain
