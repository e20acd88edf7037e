#include "agent-runner/process/shell.h"

#include <algorithm>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {

vorn::OrRefusal<ProcessRun> shell(const ShellRequest& request) {
  std::string directory = resolveRoot(request.workspaceRoot);
  if (vorn::holdsNul(directory)) return vorn::Refusal{"path_outside_workspace"};
  std::string command(vorn::text::trim(request.command));
  double timeout = std::max(request.timeout, kShellMinimumTimeout);
  return runProcess("/bin/zsh", {"-c", std::move(command)}, directory, timeout);
}

}  // namespace VornAgentRunnerMain
