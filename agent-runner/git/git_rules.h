// The conventions every git and worktree operation shares: the repository
// preamble, time limits, repository-relative paths and the answers built
// from a git run. One place each, so no operation words them differently.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// A value, or the answer that ends the operation before it.
template <class T>
using OrAnswer = std::variant<T, vorn::RunnerResponse>;

/// The resolved workspace root when it is set and inside a git repository;
/// else "workspace_root is required", "path_outside_workspace" (a root
/// holding a NUL byte) or "No git repository found".
OrAnswer<std::string> repositoryPreamble(const vorn::RunnerRequest& request);

/// max(`requested` or `fallback`, `minimum`) seconds.
double timeLimit(const std::optional<double>& requested, double fallback, double minimum);

/// The standard git limit: max(`timeout` or 30, 5) seconds.
double standardGitTimeout(const vorn::RunnerRequest& request);

/// `path` relative to `root`: "src/a.c" for /w/src/a.c under /w, "." for the
/// root itself, `path` unchanged when it lies elsewhere.
std::string repositoryRelativePath(const std::string& path, const std::string& root);

/// The repository and the paths an operation on named paths acts on.
struct RepositoryPaths {
  std::string root;
  std::vector<std::string> paths;  // repository-relative, in request order
};

/// The repository preamble, then the request's targets (`paths` when present,
/// even empty, else [`path`] when present), each authorised against the root
/// alone: "paths are required" when there are none, "path_outside_workspace"
/// at the first refused one.
OrAnswer<RepositoryPaths> repositoryAndPaths(const vorn::RunnerRequest& request);

/// The run's `stderr` if present, else its `error` if present, else `fixed`.
std::string gitFailureText(const vorn::RunnerResponse& run, std::string_view fixed);

/// The first candidate that is present and not blank, trimmed; else `fixed`.
std::string firstNonEmptyOutput(std::initializer_list<const std::optional<std::string>*> candidates,
                                std::string_view fixed);

/// A failure with `text` and the run's stdout, stderr and exit status.
vorn::RunnerResponse gitFailure(const vorn::RunnerResponse& run, std::string text,
                                std::optional<std::vector<std::string>> affectedPaths = {});

/// Success with `message`, the run's stdout and stderr and exit status 0.
vorn::RunnerResponse gitSuccess(const vorn::RunnerResponse& run, std::string message,
                                std::optional<std::vector<std::string>> affectedPaths = {});

/// The first present of two request fields (`name` else `branch`, say),
/// trimmed; "" when neither is.
std::string firstPresentTrimmed(const std::optional<std::string>& first,
                                const std::optional<std::string>& second);

}  // namespace VornAgentRunnerMain
