// The helper's process entry: mode selection, one-shot and serve modes.
#pragma once

#include <span>
#include <string_view>

#include "computer-use/platform/platform.h"
#include "computer-use/protocol/xpc_service.h"

namespace ComputerUseHelperMain {

/// The bus name under which the helper serves; `XPC_SERVICE_NAME` is compared
/// against it.
inline constexpr std::string_view kServiceName = VornComputerUseXPCService::kName.busName;

/// The "error" of the usage failure.
inline constexpr std::string_view kUsage =
    "expected JSON on stdin, --json, --serve, or --xpc-service";

/// Requests (one-shot input, serve lines) longer than this are answered
/// "invalid_json" without being kept in memory.
inline constexpr std::size_t kMaxRequestBytes = std::size_t{256} << 20;

/// Whether the process was started as the helper's service: "--xpc-service"
/// among `arguments`, or `XPC_SERVICE_NAME` (trimmed; not empty, not "0")
/// equal to the service name, ending in "vorn-computer-use", or containing the
/// service name.
bool isLaunchdXPCServiceInvocation(std::span<const std::string_view> arguments);

/// Runs the process with its whole command line (program path first): the
/// service when `isLaunchdXPCServiceInvocation` holds (status 1 with one line
/// on standard error when it cannot serve); serve mode with "--serve" (returns 0 at end of
/// input); otherwise one request from the argument after "--json" or from
/// standard input, answered on standard output, returning 0 when the answer
/// has "ok" true, else 1, and 2 with the usage line on standard error when
/// there is no request.
int main(std::span<const std::string_view> arguments, vorn::platform::Platform& platform);

}  // namespace ComputerUseHelperMain
