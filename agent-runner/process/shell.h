// The shell operation: one command line through /bin/zsh.
#pragma once

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Runs the trimmed `command` as `/bin/zsh -c <command>` in the resolved
/// workspace root (else the runner's own directory), with max(`timeout` or
/// 30, 1) seconds; answers runProcess's response unchanged.
vorn::RunnerResponse shell(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
