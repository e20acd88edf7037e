// The conventions every git and worktree operation shares: the repository
// preamble, time limits, repository-relative paths and the report built
// from a git run. One place each, so no operation words them differently.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent-runner/git/git_invocation.h"
#include "common/refusal.h"

namespace VornAgentRunnerMain {

/// A git operation's result: done or not, in words, with what git printed
/// in the run it reports and the paths it concerned.
struct GitReport {
  bool done = false;
  std::string text;  // what was done, or why not
  std::optional<std::string> stdoutText;
  std::optional<std::string> stderrText;
  std::optional<int> exitStatus;
  std::optional<std::vector<std::string>> affectedPaths;
  std::optional<std::string> path;
};

/// What every git operation is handed: the repository's working folder
/// (the resolved workspace root) and its time limit in seconds.
struct RepositoryRequest {
  std::string root;
  double timeout = 0;
};

/// A kind of git run's time limit: when the request names none, and the least.
struct GitLimit {
  double fallback;
  double minimum;
};
inline constexpr GitLimit kStandardGitLimit{30, 5};
inline constexpr GitLimit kLongGitLimit{60, 15};  // push, worktree add and remove
inline constexpr GitLimit kMergeLimit{90, 15};    // a delivery's merge

/// max(`requested`, the limit's minimum) seconds.
double limitOf(double requested, GitLimit limit);

/// The resolved workspace root when it is set and inside a git repository;
/// else "workspace_root is required", "path_outside_workspace" (a root
/// holding a NUL byte) or "No git repository found".
vorn::OrRefusal<std::string> repositoryPreamble(const std::optional<std::string>& workspaceRoot);

/// `path` relative to `root`: "src/a.c" for /w/src/a.c under /w, "." for the
/// root itself, `path` unchanged when it lies elsewhere.
std::string repositoryRelativePath(const std::string& path, const std::string& root);

/// Each of `targets` authorised against `root` alone and made relative to
/// it, in order; "path_outside_workspace" at the first refused one.
vorn::OrRefusal<std::vector<std::string>> repositoryPaths(const std::vector<std::string>& targets,
                                                          const std::string& root);

/// Why the run failed, for an answer: git's standard error, "timeout" for a
/// run stopped at its limit (whatever git had printed), "spawn_failed: <why>" for one that never
/// started, and `fixed` for one refused before it started.
std::string gitFailureText(const GitRun& run, std::string_view fixed);

/// The run's end in words ("exit_1", "timeout", ...); "" for success and
/// for a run refused before it started.
std::string runEndText(const GitRun& run);

/// The first candidate that is not blank, trimmed; else `fixed`.
std::string firstNonEmptyOutput(std::initializer_list<std::string_view> candidates,
                                std::string_view fixed);

/// Not done, with `text` and nothing else.
GitReport refused(std::string text, std::optional<std::vector<std::string>> affectedPaths = {});

/// Not done, with `text` and the run's output and exit status (each as far
/// as the run got).
GitReport gitFailure(const GitRun& run, std::string text,
                     std::optional<std::vector<std::string>> affectedPaths = {});

/// Done, with `message`, the run's output and exit status 0.
GitReport gitSuccess(const GitRun& run, std::string message,
                     std::optional<std::vector<std::string>> affectedPaths = {});

}  // namespace VornAgentRunnerMain
