// The runner's process entry: mode selection, one-shot request handling and
// the text-in, text-out function every transport shares.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "agent-runner/protocol/runner_response.h"
#include "agent-runner/protocol/xpc_service.h"

namespace VornAgentRunnerMain {

/// The bus name under which the runner serves; `XPC_SERVICE_NAME` is
/// compared against it.
inline constexpr std::string_view kServiceName = VornAgentRunnerXPCService::kName.busName;

/// The JSON text of `response`, or the fixed `encode_failed` text. Never fails.
std::string encodeToString(const vorn::RunnerResponse& response);

/// The answer text for one request text, with no line feed. Text that is not
/// UTF-8 answers "invalid_utf8_request". Never fails.
std::string handleJSONText(std::string_view text);

/// Whether the process was started as a service: "--xpc-service" among
/// `arguments`, or `XPC_SERVICE_NAME` naming this service.
bool isLaunchdXPCServiceInvocation(std::span<const std::string_view> arguments);

/// Whether `arguments` ask for the sandbox: "--sandbox" among them, other
/// than as the request text right after the first "--json".
bool sandboxRequested(std::span<const std::string_view> arguments);

/// Runs the process: picks the mode from `arguments` (without the program
/// name) and the environment, turns the sandbox on when asked, answers, and
/// returns the exit status.
int main(std::span<const std::string_view> arguments);

}  // namespace VornAgentRunnerMain
