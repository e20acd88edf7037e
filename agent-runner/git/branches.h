// git_branch_create, git_branch_switch, git_branch_list and git_push.
#pragma once

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// `checkout -b <name>` with the validated `name` (else `branch`).
vorn::RunnerResponse gitBranchCreate(const vorn::RunnerRequest& request);

/// `checkout <name>` with the validated `name` (else `branch`).
vorn::RunnerResponse gitBranchSwitch(const vorn::RunnerRequest& request);

/// `branch --list`, git's output unparsed in `stdout`.
vorn::RunnerResponse gitBranchList(const vorn::RunnerRequest& request);

/// Fetches the validated remote (default "origin", result ignored), then
/// pushes `branch` (else `name`), with `-u` when `set_upstream` is true.
vorn::RunnerResponse gitPush(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
