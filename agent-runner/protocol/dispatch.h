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
  bool startsPrograms;  // runs the shell or git: held to the sandbox when it is on
};

/// Every operation the runner answers, by the name a request gives in `op`.
std::span<const OperationEntry> operationTable();

/// Trims and lowercases `op`, runs the matching operation and returns its
/// answer; "unknown op '<op as sent>'" when none matches. An operation that
/// starts programs answers "sandbox_unavailable: <what is missing>" instead,
/// having run nothing, while the sandbox is on and the machine lacks a
/// piece of it. Never throws.
vorn::RunnerResponse handle(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
