// git_deliver: an agent's finished worktree merged into the user's checkout.
#pragma once

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Commits what is pending in the worktree, and when its branch has commits
/// the primary branch lacks, merges it into the primary checkout (--no-ff
/// unless `no_ff` is false); with `prune`, removes the worktree after a
/// successful merge only. Stops at the first failed step; a conflicted merge
/// is left as git leaves it, nothing reset. The whole run after the checks
/// holds the RepositoryLock, so deliveries into one repository take turns.
vorn::RunnerResponse gitDeliver(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
