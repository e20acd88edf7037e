#include "agent-runner/process/shell.h"

#include <algorithm>

#include "agent-runner/sandbox/sandbox_mode.h"
#include "agent-runner/sandbox/sandboxed_run.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr const char* kShell = "/bin/zsh";

}  // namespace

ProcessRun runShell(const ShellCall& call) {
  std::vector<std::string> arguments{"-c", call.command};
  if (vorn::sandbox::enabled()) {
    return vorn::sandbox::runInWorkspace({.allowNetwork = call.allowNetwork}, call.directory,
                                         kShell, arguments, call.directory, call.timeout);
  }
  return runProcess(kShell, arguments, call.directory, call.timeout);
}

vorn::OrRefusal<ProcessRun> shell(const ShellRequest& request) {
  std::string directory = resolveRoot(request.workspaceRoot);
  if (vorn::holdsNul(directory)) return vorn::Refusal{"path_outside_workspace"};
  return runShell({.command = std::string(vorn::text::trim(request.command)),
                   .directory = std::move(directory),
                   .timeout = std::max(request.timeout, kShellMinimumTimeout),
                   .allowNetwork = request.allowNetwork});
}

}  // namespace VornAgentRunnerMain
