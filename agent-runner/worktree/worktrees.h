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
/// existing branch. A folder that already is a worktree (it holds its own
/// ".git") is reused without running git; anything else standing there is
/// removed first.
vorn::RunnerResponse gitWorktreeAdd(const vorn::RunnerRequest& request);

/// Removes the worktrees at `paths` (else `worktree_path`, else `path`),
/// each authorised against the workspace root.
vorn::RunnerResponse gitWorktreeRemove(const vorn::RunnerRequest& request);

/// Runs `worktree remove --force` for each of `paths` (absolute) in
/// `primary`, going on after failures. A path that is gone afterwards counts
/// as removed. Answers the entries "removed <rel>" / "failed <rel>: <why>"
/// joined by "; ", ok only when none failed, `affected_paths` = `paths`.
vorn::RunnerResponse gitWorktreeRemove(const std::vector<std::string>& paths,
                                       const std::string& primary, double timeout);

}  // namespace VornAgentRunnerMain
