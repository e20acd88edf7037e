// git_stage, git_unstage and git_commit: what goes into the next commit, and
// recording it.
#pragma once

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Stages (`add`) or unstages the request's targets (`paths`, else `path`),
/// each authorised and passed relative to the workspace root. Unstaging in a
/// repository without commits uses `rm --cached -f`, which keeps the files.
vorn::RunnerResponse mutateGitIndex(const vorn::RunnerRequest& request, bool add);

vorn::RunnerResponse gitStage(const vorn::RunnerRequest& request);
vorn::RunnerResponse gitUnstage(const vorn::RunnerRequest& request);

/// Commits exactly what the index holds with the trimmed `message`.
vorn::RunnerResponse gitCommit(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
