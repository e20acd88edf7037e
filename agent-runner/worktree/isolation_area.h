// Where agent worktrees live: the isolation area ".vorn/worktrees" of the
// primary checkout, and the request fields that name a worktree.
#pragma once

#include <string>

#include "agent-runner/git/git_rules.h"
#include "agent-runner/protocol/runner_request.h"

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

}  // namespace VornAgentRunnerMain
