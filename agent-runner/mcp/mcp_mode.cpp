#include "agent-runner/mcp/mcp_mode.h"

#include <unistd.h>

#include <climits>

#include "agent-runner/mcp/runner_tools.h"
#include "agent-runner/mcp/workspace_ceiling.h"
#include "common/mcp/stdio_server.h"
#include "common/process_io.h"

namespace VornAgentRunnerMcp {
namespace {

constexpr std::string_view kWorkspaceFlag = "--workspace";
constexpr int kExitUsage = 2;

const vorn::mcp::ServerInfo kServer{
    .name = "vorn-agent-runner",
    .version = "1.0.0",
    .instructions =
        "Works inside the user's workspace folders: writes and deletes files, runs shell "
        "commands under a time limit, and runs git, including worktrees of an agent's own. "
        "Every path must lie inside the workspace; each tool answers the runner's JSON answer "
        "(ok, and error on a failure)."};

int refuse(const std::string& words) {
  vorn::writeAll(STDERR_FILENO, "vorn-agent-runner: " + words + "\n");
  return kExitUsage;
}

std::string currentDirectory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

}  // namespace

std::variant<McpOptions, std::string> mcpOptions(std::span<const std::string_view> arguments) {
  McpOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view argument = arguments[i];
    if (argument.starts_with(kWorkspaceFlag) &&
        argument.substr(kWorkspaceFlag.size()).starts_with('=')) {
      options.workspaces.emplace_back(argument.substr(kWorkspaceFlag.size() + 1));
    } else if (argument == kWorkspaceFlag) {
      if (i + 1 == arguments.size()) return "--workspace needs a folder after it";
      options.workspaces.emplace_back(arguments[++i]);
    }
  }
  return options;
}

int serveMcp(std::span<const std::string_view> arguments) {
  auto options = mcpOptions(arguments);
  if (auto* wrong = std::get_if<std::string>(&options)) return refuse(*wrong);
  auto ceiling =
      WorkspaceCeiling::make(std::get<McpOptions>(options).workspaces, currentDirectory());
  if (auto* wrong = std::get_if<std::string>(&ceiling)) return refuse(*wrong);
  return vorn::mcp::serveStdio(kServer, runnerTools(std::get<WorkspaceCeiling>(ceiling)));
}

}  // namespace VornAgentRunnerMcp
