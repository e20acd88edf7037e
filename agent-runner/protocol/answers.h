// Every answer of the runner is built here, from the values its modules
// return: the one place that knows the answer record.
#pragma once

#include "agent-runner/git/git_rules.h"
#include "agent-runner/process/process_runner.h"
#include "agent-runner/protocol/runner_response.h"
#include "agent-runner/protocol/typed_requests.h"
#include "agent-runner/workspace/file_operations.h"
#include "common/refusal.h"

namespace VornAgentRunnerMain {

/// What ping answers: "pong".
struct Pong {};

/// ping's operation: nothing to do but answer.
Pong ping(const PingRequest& request);

vorn::RunnerResponse answerOf(Pong);

/// A failure with the refusal's text.
vorn::RunnerResponse answerOf(vorn::Refusal refusal);

/// `path` and `affected_paths` [path]; `written_bytes` for a write,
/// "deleted" for a removal.
vorn::RunnerResponse answerOf(FileChange change);

/// Success with both outputs and exit status 0; else the failure
/// "exit_<n>" (with both outputs and exit status n), "timeout" (both
/// outputs) or "spawn_failed: <why>".
vorn::RunnerResponse answerOf(ProcessRun run);

/// `ok` is `done`; the text is the message, or the error and message.
vorn::RunnerResponse answerOf(GitReport report);

/// The answer of whichever value it holds.
template <class T>
vorn::RunnerResponse answerOf(vorn::OrRefusal<T> value) {
  return std::visit([](auto&& held) { return answerOf(std::move(held)); }, std::move(value));
}

/// The Serve (operation.h) of an operation whose typed request
/// `Parse(request, prepared)` makes and whose module function `Run` takes.
template <auto Parse, auto Run>
vorn::RunnerResponse serve(vorn::RunnerRequest& request, const Prepared& prepared) {
  return answerOf(Run(Parse(request, prepared)));
}

}  // namespace VornAgentRunnerMain
