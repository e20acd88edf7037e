// The runner's dispatcher: a wire request to its operation's answer.
#pragma once

#include "agent-runner/protocol/operation_table.h"
#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Trims and lowercases `op` and finds the operation; runs its checks in
/// order (the first unmet one answers its refusal), takes its typed request
/// out of `request`, runs it and answers. "unknown op '<op as sent>'" when
/// no operation matches. An operation that starts programs answers
/// "sandbox_unavailable: <what is missing>" before any check, having run
/// nothing, while the sandbox is on and the machine lacks a piece of it.
/// Never throws.
vorn::RunnerResponse handle(vorn::RunnerRequest&& request);

/// The same for a request the caller keeps (a copy is taken).
vorn::RunnerResponse handle(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
