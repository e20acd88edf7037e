// The shell operation: one command line through /bin/zsh.
#pragma once

#include <string>

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// One shell run, as the operation reads it from its request.
struct ShellCall {
  std::string command;        // trimmed, not empty
  std::string directory;      // the working directory; "" = the runner's own
  double timeout = 30;        // seconds
  bool allowNetwork = false;  // consulted only in the sandbox
};

/// Runs `call.command` as `/bin/zsh -c <command>` in `call.directory` under
/// `call.timeout` and answers runProcess's response unchanged. While the
/// sandbox is on (sandbox/sandbox_mode.h) the command runs in it, writing
/// only beneath `call.directory` when one is given, reaching the network
/// only with `call.allowNetwork`.
vorn::RunnerResponse runShell(const ShellCall& call);

/// Reads `command` (trimmed; "command is required" when blank), the resolved
/// workspace root (else the runner's own directory), max(`timeout` or 30, 1)
/// seconds and `allow_network` from `request`, and answers runShell's answer.
vorn::RunnerResponse shell(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
