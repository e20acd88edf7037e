// git_restore: chosen paths back to their state in HEAD.
#pragma once

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// `restore --source=HEAD [--staged] [--worktree] -- <paths>` (both flags
/// unless `staged` / `worktree` is false); when that fails, `checkout HEAD
/// -- <paths>`, which restores index and working tree alike.
vorn::RunnerResponse gitRestore(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
