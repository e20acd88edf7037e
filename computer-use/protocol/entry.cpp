#include "computer-use/protocol/entry.h"

#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "common/line_reader.h"
#include "common/process_io.h"
#include "common/text.h"
#include "computer-use/mcp/mcp_mode.h"
#include "computer-use/protocol/json_text.h"
#include "computer-use/protocol/xpc_service.h"

namespace ComputerUseHelperMain {
namespace {

using vorn::platform::Platform;

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

int answerOnce(std::string_view request, Platform& platform) {
  AnswerText answer = answerJSONText(request, platform);
  vorn::writeAll(STDOUT_FILENO, answer.text + "\n");
  return answer.ok ? kExitOk : kExitFailed;
}

int answerStdin(Platform& platform) {
  vorn::ReadAll input = vorn::readAll(STDIN_FILENO, kMaxRequestBytes);
  if (input.failed || (input.bytes.empty() && !input.tooLarge)) {
    emit({{"ok", false}, {"error", kUsage}});
    return kExitUsage;
  }
  // Too large to hold: answered as the empty text is, "invalid_json".
  return answerOnce(input.tooLarge ? std::string_view() : std::string_view(input.bytes), platform);
}

int serve(Platform& platform) {
  vorn::LineReader lines(STDIN_FILENO, kMaxRequestBytes);
  while (auto line = lines.next()) {
    if (line->text.empty() && !line->oversized) continue;
    // One write per answer: the caller reads whole lines, and nothing is
    // buffered between two requests.
    vorn::writeAll(STDOUT_FILENO, handleJSONText(line->text, platform) + "\n");
  }
  return kExitOk;
}

int serveOverBus(Platform& platform) { return VornComputerUseXPCService(platform).run(); }

}  // namespace

bool isLaunchdXPCServiceInvocation(std::span<const std::string_view> arguments) {
  return vorn::isServiceInvocation(arguments, kServiceName, "vorn-computer-use");
}

int main(std::span<const std::string_view> arguments, Platform& platform) {
  if (isLaunchdXPCServiceInvocation(arguments)) return serveOverBus(platform);
  if (vorn::hasArgument(arguments, "--mcp")) return ComputerUseMcp::serveMcp(platform);
  if (vorn::hasArgument(arguments, "--serve")) return serve(platform);
  if (auto request = vorn::argumentAfter(arguments, "--json"))
    return answerOnce(*request, platform);
  return answerStdin(platform);
}

}  // namespace ComputerUseHelperMain
