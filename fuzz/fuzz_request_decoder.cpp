// Any bytes must decode or fail with a description, and every answer built
// from the outcome must encode to valid JSON text. A second, independent JSON
// parser is the reference: what it rejects must be refused, and what is
// accepted must carry the same values.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>
#include <variant>

#include "agent-runner/protocol/entry.h"
#include "agent-runner/protocol/request_decoder.h"
#include "common/text.h"

namespace {

using json = nlohmann::json;

void expectSame(const json& doc, const char* key, const std::optional<std::string>& value) {
  auto it = doc.find(key);
  bool present = it != doc.end() && !it->is_null();
  if (present != value.has_value()) std::abort();
  if (present && it->get<std::string>() != *value) std::abort();
}

void compareWithReference(std::string_view bytes, const vorn::RunnerRequest* request) {
  json doc = json::parse(bytes, nullptr, false);
  if (doc.is_discarded()) {
    if (request) std::abort();  // accepted what is not JSON
    return;
  }
  if (!request) return;
  if (!doc.is_object() || doc["op"].get<std::string>() != request->op) std::abort();
  expectSame(doc, "path", request->path);
  expectSame(doc, "content", request->content);
  expectSame(doc, "command", request->command);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto decoded = vorn::decodeRequest(bytes);
  vorn::RunnerResponse answer;
  const vorn::RunnerRequest* request = std::get_if<vorn::RunnerRequest>(&decoded);
  if (auto* error = std::get_if<vorn::DecodeError>(&decoded)) {
    answer = vorn::failure("invalid JSON request: " + error->description);
  } else {
    answer = vorn::success({.path = request->path,
                            .message = request->op,
                            .stdoutText = request->content,
                            .stderrText = request->command});
  }
  if (bytes.find('\0') == std::string_view::npos) compareWithReference(bytes, request);
  std::string text = VornAgentRunnerMain::encodeToString(answer);
  if (!vorn::text::isValidUtf8(text) || text.empty() || text.front() != '{') std::abort();
  return 0;
}
