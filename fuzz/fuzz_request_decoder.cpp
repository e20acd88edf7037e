// Any bytes must decode or fail with a description, and every answer built
// from the outcome must encode to valid JSON text.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "agent-runner/protocol/entry.h"
#include "agent-runner/protocol/request_decoder.h"
#include "common/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto decoded = vorn::decodeRequest(bytes);
  vorn::RunnerResponse answer;
  if (auto* error = std::get_if<vorn::DecodeError>(&decoded)) {
    answer = vorn::failure("invalid JSON request: " + error->description);
  } else {
    const auto& request = std::get<vorn::RunnerRequest>(decoded);
    answer = vorn::success({.path = request.path,
                            .message = request.op,
                            .stdoutText = request.content,
                            .stderrText = request.command});
  }
  std::string text = VornAgentRunnerMain::encodeToString(answer);
  if (!vorn::text::isValidUtf8(text) || text.empty() || text.front() != '{') std::abort();
  return 0;
}
