// apply_diff: a unified diff checked or applied to the working tree by git.
#pragma once

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Authorises every new-file path of `diff`, writes the diff to a scratch
/// file in the workspace root, runs `git apply [--check] <file>` there and
/// removes the file whatever happened. Answers "Diff applied" / "Diff is
/// valid" (with git's first words) or git's complaint, listing the affected
/// paths either way. From a workspace root below the repository's top, a diff
/// git would skip in part is refused instead of being reported as applied.
vorn::RunnerResponse applyDiff(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
