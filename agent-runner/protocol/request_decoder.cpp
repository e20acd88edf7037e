// The one translation unit of the runner that includes nlohmann/json, so the
// heavy header is compiled once. Each known key maps to a reader in a table.
#include "agent-runner/protocol/request_decoder.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "common/text.h"

namespace vorn {
namespace {

using json = nlohmann::json;

struct FieldError {
  std::string text;
};

void read(const json& v, std::optional<std::string>& out) {
  if (!v.is_string()) throw FieldError{"expected a string"};
  out = v.get<std::string>();
}

void read(const json& v, std::optional<bool>& out) {
  if (!v.is_boolean()) throw FieldError{"expected a boolean"};
  out = v.get<bool>();
}

void read(const json& v, std::optional<double>& out) {
  if (!v.is_number()) throw FieldError{"expected a number"};
  double d = v.get<double>();
  if (!std::isfinite(d)) throw FieldError{"number out of range"};
  out = d;
}

void read(const json& v, std::optional<std::int64_t>& out) {
  if (v.is_number_integer() && !v.is_number_unsigned()) {
    out = v.get<std::int64_t>();
  } else if (v.is_number_unsigned()) {
    auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      throw FieldError{"integer does not fit 64 bits"};
    }
    out = static_cast<std::int64_t>(u);
  } else if (v.is_number_float()) {
    double d = v.get<double>();
    // An integer literal past the 64-bit range arrives here rounded, and
    // -9223372036854775809 rounds to exactly -2^63: a double of magnitude 2^63
    // cannot tell a fitting value from an overflow, so both ends refuse it.
    if (!std::isfinite(d) || std::trunc(d) != d || d <= -9223372036854775808.0 ||
        d >= 9223372036854775808.0) {
      throw FieldError{"expected an integer that fits 64 bits"};
    }
    out = static_cast<std::int64_t>(d);
  } else {
    throw FieldError{"expected an integer"};
  }
}

void read(const json& v, std::optional<std::vector<std::string>>& out) {
  if (!v.is_array()) throw FieldError{"expected an array of strings"};
  std::vector<std::string> items;
  items.reserve(v.size());
  for (const auto& item : v) {
    if (!item.is_string()) throw FieldError{"expected an array of strings"};
    items.push_back(item.get<std::string>());
  }
  out = std::move(items);
}

struct FieldReader {
  const char* key;
  void (*read)(const json&, RunnerRequest&);
};

#define VORN_FIELD(name)                                            \
  FieldReader {                                                     \
#name, [](const json& v, RunnerRequest& r) { read(v, r.name); } \
  }

constexpr FieldReader kOptionalFields[] = {
    VORN_FIELD(workspace_root), VORN_FIELD(extra_roots),   VORN_FIELD(path),
    VORN_FIELD(paths),          VORN_FIELD(content),       VORN_FIELD(diff),
    VORN_FIELD(dry_run),        VORN_FIELD(message),       VORN_FIELD(command),
    VORN_FIELD(timeout),        VORN_FIELD(allow_network), VORN_FIELD(name),
    VORN_FIELD(branch),         VORN_FIELD(remote),        VORN_FIELD(set_upstream),
    VORN_FIELD(worktree),       VORN_FIELD(staged),        VORN_FIELD(scope),
    VORN_FIELD(base_branch),    VORN_FIELD(count),         VORN_FIELD(worktree_path),
    VORN_FIELD(prune),          VORN_FIELD(no_ff),
};

#undef VORN_FIELD

// nlohmann's messages carry an "[json.exception...] " prefix and may quote
// the offending token, which can be megabytes long or not UTF-8; keep the
// explanation only.
std::string describeParseError(const json::exception& e) {
  std::string what = e.what();
  if (auto close = what.find("] "); what.rfind("[json.exception", 0) == 0 && close != what.npos) {
    what.erase(0, close + 2);
  }
  if (auto quote = what.find("; last read:"); quote != what.npos) what.erase(quote);
  constexpr std::size_t kMaxLength = 300;
  if (what.size() > kMaxLength) what.resize(kMaxLength);
  return text::toValidUtf8(what);
}

RunnerRequest decodeObject(const json& doc) {
  if (!doc.is_object()) throw FieldError{"the request must be a JSON object"};
  RunnerRequest request;
  auto op = doc.find("op");
  if (op == doc.end() || op->is_null()) throw FieldError{"key 'op' is required"};
  if (!op->is_string()) throw FieldError{"key 'op': expected a string"};
  request.op = op->get<std::string>();
  for (const auto& field : kOptionalFields) {
    auto it = doc.find(field.key);
    if (it == doc.end() || it->is_null()) continue;
    try {
      field.read(*it, request);
    } catch (const FieldError& e) {
      throw FieldError{std::string("key '") + field.key + "': " + e.text};
    }
  }
  return request;
}

}  // namespace

std::variant<RunnerRequest, DecodeError> decodeRequest(std::string_view bytes) {
  // No JSON text holds a raw NUL, but nlohmann's lexer takes one for the end
  // of input and would accept whatever came before it.
  if (bytes.find('\0') != std::string_view::npos) {
    return DecodeError{"the request contains a NUL byte"};
  }
  try {
    return decodeObject(json::parse(bytes));
  } catch (const FieldError& e) {
    return DecodeError{e.text};
  } catch (const json::exception& e) {
    return DecodeError{describeParseError(e)};
  } catch (const std::exception& e) {
    return DecodeError{text::toValidUtf8(e.what())};
  }
}

}  // namespace vorn
