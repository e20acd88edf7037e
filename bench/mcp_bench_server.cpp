// The protocol core serving one trivial tool, for bench/compare-mcp.
#include <csignal>

#include "common/mcp/stdio_server.h"

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  vorn::mcp::Tool ping{
      .name = "ping",
      .description = "Answers {ok: true, stdout: \"pong\"} at once.",
      .inputSchema = {{"type", "object"}, {"properties", nlohmann::json::object()}},
      .handler = [](const nlohmann::json&, vorn::mcp::CallContext&) {
        return vorn::mcp::ToolResult{.structured = {{"ok", true}, {"stdout", "pong"}}};
      }};
  return vorn::mcp::serveStdio({.name = "vorn-mcp-bench", .version = "1"}, {ping});
}
