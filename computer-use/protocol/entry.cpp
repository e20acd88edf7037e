#include "computer-use/protocol/entry.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "common/text.h"
#include "computer-use/protocol/json_text.h"
#include "computer-use/protocol/line_reader.h"
#include "computer-use/protocol/xpc_service.h"

namespace ComputerUseHelperMain {
namespace {

using vorn::platform::Platform;

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

bool hasArgument(std::span<const std::string_view> arguments, std::string_view wanted) {
  for (auto a : arguments) {
    if (a == wanted) return true;
  }
  return false;
}

void writeAll(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// The request after the first "--json", when an argument follows it.
std::optional<std::string_view> jsonArgument(std::span<const std::string_view> arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--json") {
      if (i + 1 < arguments.size()) return arguments[i + 1];
      return std::nullopt;
    }
  }
  return std::nullopt;
}

struct StdinRead {
  std::string bytes;
  bool failed = false;
  bool tooLarge = false;
};

StdinRead readStdin() {
  StdinRead result;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result.failed = true;
    if (n <= 0) return result;
    if (result.bytes.size() + static_cast<std::size_t>(n) > kMaxRequestBytes) {
      result.tooLarge = true;
      return result;
    }
    result.bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

int statusFor(std::string_view answer) {
  if (answer.find(R"("ok":true)") != std::string_view::npos) return kExitOk;
  if (answer.find(R"("ok": true)") != std::string_view::npos) return kExitOk;
  return kExitFailed;
}

int answerOnce(std::string_view request, Platform& platform) {
  std::string answer = handleJSONText(request, platform);
  writeAll(answer);
  writeAll("\n");
  return statusFor(answer);
}

int answerStdin(Platform& platform) {
  StdinRead input = readStdin();
  if (input.failed || (input.bytes.empty() && !input.tooLarge)) {
    emit({{"ok", false}, {"error", kUsage}});
    return kExitUsage;
  }
  // Too large to hold: answered as the empty text is, "invalid_json".
  return answerOnce(input.tooLarge ? std::string_view() : std::string_view(input.bytes), platform);
}

int serve(Platform& platform) {
  LineReader lines(STDIN_FILENO, kMaxRequestBytes);
  while (auto line = lines.next()) {
    if (line->text.empty() && !line->oversized) continue;
    // One write per answer: the caller reads whole lines, and nothing is
    // buffered between two requests.
    writeAll(handleJSONText(line->text, platform) + "\n");
  }
  return kExitOk;
}

int serveOverBus(Platform& platform) { return VornComputerUseXPCService(platform).run(); }

}  // namespace

bool isLaunchdXPCServiceInvocation(std::span<const std::string_view> arguments) {
  if (hasArgument(arguments, "--xpc-service")) return true;
  const char* raw = std::getenv("XPC_SERVICE_NAME");
  if (raw == nullptr) return false;
  std::string_view name = vorn::text::trim(raw);
  if (name.empty() || name == "0") return false;
  return name == kServiceName || name.ends_with("vorn-computer-use") ||
         name.find(kServiceName) != std::string_view::npos;
}

int main(std::span<const std::string_view> arguments, Platform& platform) {
  if (isLaunchdXPCServiceInvocation(arguments)) return serveOverBus(platform);
  if (hasArgument(arguments, "--serve")) return serve(platform);
  if (auto request = jsonArgument(arguments)) return answerOnce(*request, platform);
  return answerStdin(platform);
}

}  // namespace ComputerUseHelperMain
