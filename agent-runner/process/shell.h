// The shell operation: one command line through /bin/zsh.
#pragma once

#include <optional>
#include <string>

#include "agent-runner/process/process_runner.h"
#include "common/refusal.h"

namespace VornAgentRunnerMain {

/// A shell run's limit in seconds: when the request names none, and the least.
inline constexpr double kShellTimeout = 30;
inline constexpr double kShellMinimumTimeout = 1;

/// What a shell run needs.
struct ShellRequest {
  std::optional<std::string> workspaceRoot;  // unresolved; none: the runner's own directory
  std::string command;                       // not blank
  double timeout = kShellTimeout;            // seconds; less than the minimum counts as it
  bool allowNetwork = false;                 // for a confinement that can take the network away
};

/// One shell run, once its request is resolved.
struct ShellCall {
  std::string command;    // trimmed, not empty
  std::string directory;  // the working directory; "" = the runner's own
  double timeout = kShellTimeout;
  bool allowNetwork = false;  // consulted only in the sandbox
};

/// Runs `call.command` as `/bin/zsh -c <command>` in `call.directory` under
/// `call.timeout`. While the sandbox is on (sandbox/sandbox_mode.h) the
/// command runs in it, writing only beneath `call.directory` when one is
/// given, reaching the network only with `call.allowNetwork`.
ProcessRun runShell(const ShellCall& call);

/// Runs the trimmed command through runShell in the resolved workspace root
/// (else the runner's own directory) under the request's limit;
/// "path_outside_workspace" for a root holding a NUL byte.
vorn::OrRefusal<ProcessRun> shell(const ShellRequest& request);

}  // namespace VornAgentRunnerMain
