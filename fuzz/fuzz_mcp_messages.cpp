// Any bytes as protocol input, one message per line: every line the session
// writes must be one JSON-RPC message in valid UTF-8 on one line, an answer
// must carry exactly one of result and error, and a request's id must come
// back as the request wrote it.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "common/mcp/session.h"
#include "common/text.h"

namespace {

using nlohmann::json;
using namespace vorn::mcp;

void check(bool condition) {
  if (!condition) std::abort();
}

class CheckedLines final : public Output {
 public:
  void send(std::string_view line) override {
    check(line.find('\n') == std::string_view::npos);
    check(vorn::text::isValidUtf8(line));
    json message = json::parse(line, nullptr, /*allow_exceptions=*/false);
    check(message.is_object() && message.value("jsonrpc", "") == "2.0");
    if (message.contains("method")) return;  // a notification or a request of ours
    check(message.contains("id") && (message.contains("result") != message.contains("error")));
    if (expectedId && message.contains("result")) {
      check(line.find(R"("id":)" + *expectedId + ",") != std::string_view::npos);
    }
  }
  std::optional<std::string> expectedId;
};

std::vector<Tool> tools() {
  auto handler = [](const json& arguments, CallContext& context) {
    context.reportProgress("working");
    return ToolResult{
        .structured = {{"arguments", arguments}, {"roots", context.roots().has_value()}}};
  };
  return {{.name = "echo",
           .description = "echo",
           .inputSchema = {{"type", "object"}},
           .handler = handler},
          {.name = "where",
           .description = "roots",
           .inputSchema = {{"type", "object"}},
           .usesRoots = true,
           .handler = handler}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckedLines out;
  Session session(
      {.name = "fuzz", .version = "1"}, tools(), out, [](std::function<void()> job) { job(); },
      [](std::string_view) {}, {.maxCallsInFlight = 4, .rootsWait = std::chrono::milliseconds(0)});
  while (!input.empty()) {
    auto end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    auto message = readMessage(line);
    auto* request = std::get_if<Request>(&message);
    out.expectedId = request ? std::optional(request->id.json()) : std::nullopt;
    if (request) check(json::accept(request->id.json()));
    session.handleLine(line);
  }
  session.endOfInput();
  return 0;
}
