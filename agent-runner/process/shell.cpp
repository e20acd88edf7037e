#include "agent-runner/process/shell.h"

#include <algorithm>

#include "agent-runner/process/process_runner.h"
#include "agent-runner/sandbox/sandbox_mode.h"
#include "agent-runner/sandbox/sandboxed_run.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr const char* kShell = "/bin/zsh";

}  // namespace

vorn::RunnerResponse runShell(const ShellCall& call) {
  std::vector<std::string> arguments{"-c", call.command};
  if (vorn::sandbox::enabled()) {
    return vorn::sandbox::runInWorkspace({.allowNetwork = call.allowNetwork}, call.directory,
                                         kShell, arguments, call.directory, call.timeout);
  }
  return runProcess(kShell, arguments, call.directory, call.timeout);
}

vorn::RunnerResponse shell(const vorn::RunnerRequest& request) {
  if (!request.command) return vorn::failure("command is required");
  std::string_view command = vorn::text::trim(*request.command);
  if (command.empty()) return vorn::failure("command is required");
  std::string directory = resolveRoot(request.workspace_root);
  if (vorn::holdsNul(directory)) return vorn::failure("path_outside_workspace");
  return runShell({.command = std::string(command),
                   .directory = std::move(directory),
                   .timeout = std::max(request.timeout.value_or(30.0), 1.0),
                   .allowNetwork = request.allow_network.value_or(false)});
}

}  // namespace VornAgentRunnerMain
