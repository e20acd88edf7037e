// git_worktree_add and git_worktree_remove: an agent's own working tree
// inside the isolation area, and its removal.
#pragma once

#include <string>
#include <vector>

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Creates the worktree at `worktree_path` (else `path`) inside the
/// isolation area on `branch` (else `name`): a new branch from HEAD, else the
/// existing branch, in nothing or an empty folder. A worktree of this
/// repository standing there is reused without running git. Anything else
/// there (a file, a folder that holds anything, another repository) is
/// refused with "worktree_path_occupied: <what>"; nothing is ever removed.
/// Creation runs under the RepositoryLock and first adds the isolation area
/// to the repository's info/exclude ("exclude_failed: " when it cannot).
vorn::RunnerResponse gitWorktreeAdd(const vorn::RunnerRequest& request);

/// Removes the worktrees at `paths` (else `worktree_path`, else `path`),
/// each authorised against the workspace root, under the RepositoryLock.
vorn::RunnerResponse gitWorktreeRemove(const vorn::RunnerRequest& request);

/// Runs `worktree remove --force` for each of `paths` (absolute) in
/// `primary`, going on after failures. Takes no lock: the caller holds it. A path that is gone
/// afterwards counts as removed. Answers the entries "removed <rel>" / "failed <rel>: <why>" joined
/// by "; ", ok only when none failed, `affected_paths` = `paths`.
vorn::RunnerResponse gitWorktreeRemove(const std::vector<std::string>& paths,
                                       const std::string& primary, double timeout);

}  // namespace VornAgentRunnerMain
