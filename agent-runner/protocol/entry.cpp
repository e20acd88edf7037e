#include "agent-runner/protocol/entry.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <variant>

#include "agent-runner/mcp/mcp_mode.h"
#include "agent-runner/protocol/answers.h"
#include "agent-runner/protocol/dispatch.h"
#include "agent-runner/protocol/request_decoder.h"
#include "agent-runner/protocol/response_encoder.h"
#include "agent-runner/protocol/xpc_service.h"
#include "agent-runner/sandbox/sandbox_mode.h"
#include "common/process_io.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr std::string_view kNoRequest =
    "expected JSON request on stdin, --json '<payload>', or --xpc";
constexpr std::string_view kEncodeFailed =
    R"({"ok":false,"error":"encode_failed","helper":"vorn-agent-runner"})";
// A request is a JSON document in memory; beyond this it is refused rather
// than letting a runaway writer exhaust memory.
constexpr std::size_t kMaxRequestBytes = std::size_t{256} << 20;

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

void writeAnswer(const vorn::RunnerResponse& response) {
  vorn::writeAll(STDOUT_FILENO, encodeToString(response) + "\n");
}

int answerDecoded(std::variant<vorn::RunnerRequest, vorn::DecodeError> decoded) {
  if (auto* error = std::get_if<vorn::DecodeError>(&decoded)) {
    writeAnswer(vorn::failure("invalid JSON request: " + error->description));
    return kExitUsage;
  }
  auto response = handle(std::move(std::get<vorn::RunnerRequest>(decoded)));
  writeAnswer(response);
  return response.ok ? kExitOk : kExitFailed;
}

int answerStdin() {
  vorn::ReadAll input = vorn::readAll(STDIN_FILENO, kMaxRequestBytes);
  if (input.tooLarge) {
    writeAnswer(vorn::failure("invalid JSON request: the request is larger than " +
                              std::to_string(kMaxRequestBytes) + " bytes"));
    return kExitUsage;
  }
  if (input.failed || input.bytes.empty()) {
    writeAnswer(vorn::failure(std::string(kNoRequest)));
    return kExitUsage;
  }
  // The text is decoded in its own buffer, which is gone before the
  // operation runs: a request of N bytes costs its text and its record.
  return answerDecoded(vorn::decodeRequestInPlace(std::move(input.bytes)));
}

int serveOverBus() { return VornAgentRunnerXPCService().run(); }

}  // namespace

std::string encodeToString(const vorn::RunnerResponse& response) {
  auto text = vorn::encodeResponse(response);
  return text ? std::move(*text) : std::string(kEncodeFailed);
}

std::string handleJSONText(std::string_view text) {
  if (!vorn::text::isValidUtf8(text)) return encodeToString(vorn::failure("invalid_utf8_request"));
  auto decoded = vorn::decodeRequest(text);
  if (auto* error = std::get_if<vorn::DecodeError>(&decoded)) {
    return encodeToString(vorn::failure("invalid JSON request: " + error->description));
  }
  return encodeToString(handle(std::move(std::get<vorn::RunnerRequest>(decoded))));
}

bool sandboxRequested(std::span<const std::string_view> arguments) {
  auto json = std::find(arguments.begin(), arguments.end(), "--json");
  for (auto it = arguments.begin(); it != arguments.end(); ++it) {
    bool isRequest = json != arguments.end() && it == json + 1;
    if (*it == "--sandbox" && !isRequest) return true;
  }
  return false;
}

bool isLaunchdXPCServiceInvocation(std::span<const std::string_view> arguments) {
  return vorn::isServiceInvocation(arguments, kServiceName, "vorn-agent-runner");
}

int main(std::span<const std::string_view> arguments) {
  if (vorn::hasArgument(arguments, "--ping")) {
    writeAnswer(answerOf(Pong{}));
    return kExitOk;
  }
  if (sandboxRequested(arguments)) vorn::sandbox::enable();
  if (isLaunchdXPCServiceInvocation(arguments)) return serveOverBus();
  if (vorn::hasArgument(arguments, "--mcp")) return VornAgentRunnerMcp::serveMcp(arguments);
  if (auto request = vorn::argumentAfter(arguments, "--json")) {
    return answerDecoded(vorn::decodeRequest(*request));
  }
  return answerStdin();
}

}  // namespace VornAgentRunnerMain
