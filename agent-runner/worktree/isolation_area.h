// Where agent worktrees live: the isolation area ".vorn/worktrees" of the
// primary checkout.
#pragma once

#include <string>

#include "agent-runner/git/git_directories.h"
#include "common/refusal.h"
#include "common/status.h"

namespace VornAgentRunnerMain {

/// Whether `path`, standardised, is the isolation area of `primary` or lies
/// inside it (the test is on the area's slash form, so ".vorn/worktrees-x"
/// is outside).
bool isUnderIsolationArea(const std::string& path, const std::string& primary);

/// The worktree path a request names, authorised against `root` and inside
/// its isolation area; or "path_outside_workspace",
/// "worktree_not_in_isolation_area".
vorn::OrRefusal<std::string> isolatedWorktreePath(const std::string& requested,
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
