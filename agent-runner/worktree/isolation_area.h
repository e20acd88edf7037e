// Where agent worktrees live: the isolation area ".vorn/worktrees" of the
// primary checkout, and the request fields that name a worktree.
#pragma once

#include <string>

#include "agent-runner/git/git_rules.h"
#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/git/git_directories.h"
#include "common/status.h"

namespace VornAgentRunnerMain {

/// Whether `path`, standardised, is the isolation area of `primary` or lies
/// inside it (the test is on the area's slash form, so ".vorn/worktrees-x"
/// is outside).
bool isUnderIsolationArea(const std::string& path, const std::string& primary);

/// The worktree a request names (`worktree_path`, else `path`), authorised
/// against `root` and inside its isolation area; or the answer refusing it:
/// "worktree_path is required", "path_outside_workspace",
/// "worktree_not_in_isolation_area".
OrAnswer<std::string> isolatedWorktreePath(const vorn::RunnerRequest& request,
                                           const std::string& root);

/// The info/exclude line that keeps the ".vorn" folder of `primary` out of
/// what git reports untracked: "/.vorn/" when `primary` is the top of its
/// working tree, else anchored at its place below the top. Nothing when no
/// pattern can name it (a line feed in the path).
std::optional<std::string> isolationAreaPattern(const RepositoryLocation& dirs,
                                                const std::string& primary);

/// Whether the repository's info/exclude holds `pattern` as a line.
bool isExcluded(const RepositoryLocation& dirs, const std::string& pattern);

/// Appends `pattern` as a line of the repository's info/exclude (created,
/// with its folder, when missing), keeping what is there. Call under the
/// RepositoryLock, after isExcluded said no.
vorn::Status addExclude(const RepositoryLocation& dirs, const std::string& pattern);

}  // namespace VornAgentRunnerMain
