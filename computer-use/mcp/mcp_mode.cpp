#include "computer-use/mcp/mcp_mode.h"

#include <cstdlib>

#include "common/mcp/stdio_server.h"
#include "computer-use/mcp/helper_tools.h"

namespace ComputerUseMcp {
namespace {

const vorn::mcp::ServerInfo kServer{
    .name = "vorn-computer-use",
    .version = "1.0.0",
    .instructions =
        "Drives the user's desktop: list_windows finds a window, observe reads its elements "
        "into references held under a state id, perform acts on them (press, focus, set "
        "text); keypress and click_xy type and click; screenshot shows a window."};

std::optional<std::string> fromProcess(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

int serveMcp(vorn::platform::Platform& platform) {
  return vorn::mcp::serveStdio(kServer, helperTools(platform, fromProcess));
}

}  // namespace ComputerUseMcp
