// The one place the helper reads and writes JSON text (nlohmann/json). Its
// parser takes a NUL byte for the end of input and builds nesting on the
// heap without bound, so both are checked before it runs.
#include "computer-use/protocol/json_text.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "common/process_io.h"
#include "common/text.h"

namespace ComputerUseHelperMain {
namespace {

// Whether `text` holds no NUL byte and nests at most `kMaxNesting` deep. The
// brackets inside strings do not count; text that is not JSON passes through
// to the parser, which refuses it.
bool withinLimits(std::string_view text) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\0') return false;
    if (inString) {
      if (c == '\\') {
        ++i;
        if (i < text.size() && text[i] == '\0') return false;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

bool allNumbersFinite(const Dictionary& value) {
  std::vector<const Dictionary*> pending{&value};
  while (!pending.empty()) {
    const Dictionary* v = pending.back();
    pending.pop_back();
    if (v->is_number_float() && !std::isfinite(v->get<double>())) return false;
    if (v->is_structured()) {
      for (const auto& child : *v) pending.push_back(&child);
    }
  }
  return true;
}

Dictionary invalidJson() { return {{"ok", false}, {"error", "invalid_json"}}; }

}  // namespace

std::optional<Dictionary> parseRequest(std::string_view text) {
  if (!vorn::text::isValidUtf8(text) || !withinLimits(text)) return std::nullopt;
  try {
    Dictionary request = Dictionary::parse(text, nullptr, /*allow_exceptions=*/false);
    if (request.is_discarded() || !request.is_object()) return std::nullopt;
    return request;
  } catch (...) {
    // Out of memory for a huge document: not a request we can take.
    return std::nullopt;
  }
}

std::string encodeAnswer(const Dictionary& result) {
  try {
    if (!allNumbersFinite(result)) return std::string(kEncodeFailed);
    // Strict: a string that is not UTF-8 throws instead of being written.
    return result.dump();
  } catch (...) {
    return std::string(kEncodeFailed);
  }
}

AnswerText answerJSONText(std::string_view text, vorn::platform::Platform& platform) {
  try {
    auto request = parseRequest(text);
    Dictionary answer = request ? handle(*request, platform) : invalidJson();
    std::string encoded = encodeAnswer(answer);
    bool ok = encoded != kEncodeFailed && answer.value("ok", false) == true;
    return {std::move(encoded), ok};
  } catch (...) {
    // Only running out of memory gets here; the answer must still be JSON.
    return {std::string(kEncodeFailed), false};
  }
}

std::string handleJSONText(std::string_view text, vorn::platform::Platform& platform) {
  return answerJSONText(text, platform).text;
}

void emit(const Dictionary& result) { vorn::writeAll(STDERR_FILENO, encodeAnswer(result) + "\n"); }

}  // namespace ComputerUseHelperMain
