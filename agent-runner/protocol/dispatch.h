// The runner's operation table and its dispatcher.
#pragma once

#include <span>
#include <string_view>

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

using Operation = vorn::RunnerResponse (*)(const vorn::RunnerRequest&);

struct OperationEntry {
  std::string_view name;
  Operation run;
};

/// Every operation the runner answers, by the name a request gives in `op`.
std::span<const OperationEntry> operationTable();

/// Trims and lowercases `op`, runs the matching operation and returns its
/// answer; "unknown op '<op as sent>'" when none matches. Never throws.
vorn::RunnerResponse handle(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
