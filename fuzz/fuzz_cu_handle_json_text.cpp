// Any bytes as a request: the answer must be one JSON object text whose "ok"
// agrees with what the exit status test reads from it, whatever the input.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "common/text.h"
#include "computer-use/platform/null_platform.h"
#include "computer-use/protocol/json_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string answer = ComputerUseHelperMain::handleJSONText(bytes, vorn::platform::nullPlatform());
  if (!vorn::text::isValidUtf8(answer)) std::abort();
  auto parsed = nlohmann::json::parse(answer, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object() || !parsed.contains("ok") || !parsed["ok"].is_boolean()) std::abort();
  bool saysOk = answer.find(R"("ok":true)") != std::string::npos;
  if (saysOk != parsed["ok"].get<bool>()) std::abort();
  return 0;
}
