#include "agent-runner/process/shell.h"

#include <algorithm>

#include "agent-runner/process/process_runner.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {

vorn::RunnerResponse shell(const vorn::RunnerRequest& request) {
  if (!request.command) return vorn::failure("command is required");
  std::string_view command = vorn::text::trim(*request.command);
  if (command.empty()) return vorn::failure("command is required");
  std::string directory = resolveRoot(request.workspace_root);
  if (vorn::holdsNul(directory)) return vorn::failure("path_outside_workspace");
  double timeout = std::max(request.timeout.value_or(30.0), 1.0);
  return runProcess("/bin/zsh", {"-c", std::string(command)}, directory, timeout);
}

}  // namespace VornAgentRunnerMain
