// Any bytes must decode or fail with a description, and every answer built
// from the outcome must encode to valid JSON text. A second, independent JSON
// parser is the reference: what it rejects must be refused, and what is
// accepted must carry the same values in every field, numbers included.
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

void expectPresence(const json& doc, const char* key, bool present) {
  auto it = doc.find(key);
  if ((it != doc.end() && !it->is_null()) != present) std::abort();
}

void expectSame(const json& doc, const char* key, const std::optional<std::string>& value) {
  expectPresence(doc, key, value.has_value());
  if (value && doc[key].get<std::string>() != *value) std::abort();
}

void expectSame(const json& doc, const char* key, const std::optional<bool>& value) {
  expectPresence(doc, key, value.has_value());
  if (value && doc[key].get<bool>() != *value) std::abort();
}

void expectSame(const json& doc, const char* key,
                const std::optional<std::vector<std::string>>& value) {
  expectPresence(doc, key, value.has_value());
  if (value && doc[key].get<std::vector<std::string>>() != *value) std::abort();
}

// The reference rounds a decimal once, as strtod does: an exact reading
// must land on the same double.
void expectSame(const json& doc, const char* key, const std::optional<double>& value) {
  expectPresence(doc, key, value.has_value());
  if (value && doc[key].get<double>() != *value) std::abort();
}

// A count the reference holds as an integer must be that integer; one it
// holds as a double (written with a fraction or an exponent) must round to
// it, since the exact value does.
void expectSame(const json& doc, const char* key, const std::optional<std::int64_t>& value) {
  expectPresence(doc, key, value.has_value());
  if (!value) return;
  const json& number = doc[key];
  if (number.is_number_integer() && number.get<std::int64_t>() != *value) std::abort();
  if (number.is_number_unsigned() &&
      (*value < 0 || number.get<std::uint64_t>() != static_cast<std::uint64_t>(*value))) {
    std::abort();
  }
  if (number.is_number_float() && number.get<double>() != static_cast<double>(*value)) {
    std::abort();
  }
}

void compareWithReference(std::string_view bytes, const vorn::RunnerRequest* request) {
  json doc = json::parse(bytes, nullptr, false);
  if (doc.is_discarded()) {
    if (request) std::abort();  // accepted what is not JSON
    return;
  }
  if (!request) return;
  if (!doc.is_object() || doc["op"].get<std::string>() != request->op) std::abort();
  const auto& r = *request;
#define VORN_SAME(field) expectSame(doc, #field, r.field)
  VORN_SAME(workspace_root), VORN_SAME(extra_roots), VORN_SAME(path), VORN_SAME(paths);
  VORN_SAME(content), VORN_SAME(diff), VORN_SAME(dry_run), VORN_SAME(message);
  VORN_SAME(command), VORN_SAME(timeout), VORN_SAME(allow_network), VORN_SAME(name);
  VORN_SAME(branch), VORN_SAME(remote), VORN_SAME(set_upstream), VORN_SAME(worktree);
  VORN_SAME(staged), VORN_SAME(scope), VORN_SAME(base_branch), VORN_SAME(count);
  VORN_SAME(worktree_path), VORN_SAME(prune), VORN_SAME(no_ff);
#undef VORN_SAME
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
