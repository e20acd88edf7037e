// `vorn-agent-runner --mcp [--workspace DIR]...`: the runner as a Model
// Context Protocol server on its standard streams.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace VornAgentRunnerMcp {

/// What the command line says of the protocol mode.
struct McpOptions {
  /// Every `--workspace DIR` (or `--workspace=DIR`), in order.
  std::vector<std::string> workspaces;
};

/// The options among `arguments` (without the program name); other
/// arguments are left to the modes that read them. Words saying what is
/// wrong when a `--workspace` has no folder after it.
std::variant<McpOptions, std::string> mcpOptions(std::span<const std::string_view> arguments);

/// Serves the protocol until standard input ends: 0; 2 with one line on
/// standard error when the options or the ceiling are unusable.
int serveMcp(std::span<const std::string_view> arguments);

}  // namespace VornAgentRunnerMcp
