// The runner's operations as protocol tools: one per entry of the operation
// table, under the same name and description, each call answered with the
// runner's own answer.
#pragma once

#include <string>
#include <vector>

#include "agent-runner/mcp/workspace_ceiling.h"
#include "agent-runner/protocol/runner_response.h"
#include "common/mcp/tool.h"

namespace VornAgentRunnerMcp {

/// Every operation as a tool acting inside `ceiling`. A tool's input schema
/// is its request's fields without `extra_roots` (the ceiling is the only
/// widening) and with `workspace_root` optional; a call's arguments are
/// decoded as strictly as a request, its `workspace_root` must lie inside the
/// ceiling as narrowed by the client's roots, and while it runs a
/// cancellation stops its child's whole process group and progress names
/// the program running.
std::vector<vorn::mcp::Tool> runnerTools(const WorkspaceCeiling& ceiling);

/// The tool result of an answer: the answer object, its text as the
/// one-shot runner writes it, `isError` exactly when `ok` is false.
vorn::mcp::ToolResult resultOf(const vorn::RunnerResponse& response);

/// The progress words for a run of `executable` with `arguments`: "running
/// git <subcommand>", "running the shell command", "running <program>".
std::string progressWords(const std::string& executable, const std::vector<std::string>& arguments);

}  // namespace VornAgentRunnerMcp
