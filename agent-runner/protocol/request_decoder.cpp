// Requests can carry megabytes (a whole file's content, a long diff), so they
// are read by a streaming parser that copies each string once, rather than
// by a document model that lexes character by character. The handler keeps
// the top-level values of known keys only (the last occurrence of a key
// counts); nested values are skipped at any depth without recursion. Typed
// readers then fill the record from those values through a table of keys.
#include "agent-runner/protocol/request_decoder.h"

// Runs of plain string bytes are copied sixteen at a time where SSE2 exists.
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <cmath>
#include <limits>
#include <map>

#include "common/text.h"

namespace vorn {
namespace {

struct FieldError {
  std::string text;
};

// A top-level value: its JSON kind, and its content where the kind has one.
struct TopValue {
  enum Kind { kNull, kBool, kInteger, kUnsigned, kDouble, kString, kStringArray, kOther };
  Kind kind = kNull;
  bool boolean = false;
  std::int64_t integer = 0;
  std::uint64_t unsignedInteger = 0;
  double real = 0;
  std::string text;
  std::vector<std::string> items;
};

void read(const TopValue& v, std::optional<std::string>& out) {
  if (v.kind != TopValue::kString) throw FieldError{"expected a string"};
  out = v.text;
}

void read(const TopValue& v, std::optional<bool>& out) {
  if (v.kind != TopValue::kBool) throw FieldError{"expected a boolean"};
  out = v.boolean;
}

void read(const TopValue& v, std::optional<double>& out) {
  switch (v.kind) {
    case TopValue::kInteger:
      out = static_cast<double>(v.integer);
      return;
    case TopValue::kUnsigned:
      out = static_cast<double>(v.unsignedInteger);
      return;
    case TopValue::kDouble:
      if (!std::isfinite(v.real)) throw FieldError{"number out of range"};
      out = v.real;
      return;
    default:
      throw FieldError{"expected a number"};
  }
}

void read(const TopValue& v, std::optional<std::int64_t>& out) {
  if (v.kind == TopValue::kInteger) {
    out = v.integer;
  } else if (v.kind == TopValue::kUnsigned) {
    if (v.unsignedInteger > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      throw FieldError{"integer does not fit 64 bits"};
    }
    out = static_cast<std::int64_t>(v.unsignedInteger);
  } else if (v.kind == TopValue::kDouble) {
    double d = v.real;
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

void read(const TopValue& v, std::optional<std::vector<std::string>>& out) {
  if (v.kind != TopValue::kStringArray) throw FieldError{"expected an array of strings"};
  out = v.items;
}

struct FieldReader {
  const char* key;
  void (*read)(const TopValue&, RunnerRequest&);
};

#define VORN_FIELD(name)                                                \
  FieldReader {                                                         \
#name, [](const TopValue& v, RunnerRequest& r) { read(v, r.name); } \
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

bool isKnownKey(std::string_view key) {
  if (key == "op") return true;
  for (const auto& field : kOptionalFields) {
    if (key == field.key) return true;
  }
  return false;
}

// Receives the parser's events. Depth 1 is the request object itself; a
// known key's value is kept, arrays of strings item by item.
class TopLevelHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TopLevelHandler> {
 public:
  std::map<std::string, TopValue, std::less<>> values;
  const char* error = nullptr;  // set when the handler stopped the parse

  bool Null() {
    return scalar([](TopValue&) {}, TopValue::kNull);
  }
  bool Bool(bool b) {
    return scalar([b](TopValue& v) { v.boolean = b; }, TopValue::kBool);
  }
  bool Int(int i) { return Int64(i); }
  bool Uint(unsigned u) { return Uint64(u); }
  bool Int64(std::int64_t i) {
    return scalar([i](TopValue& v) { v.integer = i; }, TopValue::kInteger);
  }
  bool Uint64(std::uint64_t u) {
    if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return Int64(static_cast<std::int64_t>(u));
    }
    return scalar([u](TopValue& v) { v.unsignedInteger = u; }, TopValue::kUnsigned);
  }
  bool Double(double d) {
    return scalar([d](TopValue& v) { v.real = d; }, TopValue::kDouble);
  }

  bool String(const char* s, rapidjson::SizeType length, bool) {
    std::string_view text(s, length);
    // Also catches an escaped lone low surrogate, which the parser encodes.
    if (!text::isValidUtf8(text)) return stop("invalid UTF-8 in a string");
    if (depth_ == 2 && current_ && collecting_) {
      current_->items.emplace_back(text);
      return true;
    }
    return scalar([text](TopValue& v) { v.text = text; }, TopValue::kString);
  }

  bool Key(const char* s, rapidjson::SizeType length, bool) {
    std::string_view key(s, length);
    if (!text::isValidUtf8(key)) return stop("invalid UTF-8 in a key");
    if (depth_ != 1) return true;
    current_ = nullptr;
    if (isKnownKey(key)) {
      current_ = &values[std::string(key)];
      *current_ = TopValue{};
    }
    return true;
  }

  bool StartObject() {
    if (depth_ == 0) {
      ++depth_;
      return true;
    }
    if (depth_ == 1 && current_) current_->kind = TopValue::kOther;
    if (depth_ == 2 && current_) spoilCollection();
    ++depth_;
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return leave(); }

  bool StartArray() {
    if (depth_ == 0) return stop("the request must be a JSON object");
    if (depth_ == 1 && current_) {
      current_->kind = TopValue::kStringArray;
      collecting_ = true;
    }
    if (depth_ == 2 && current_) spoilCollection();
    ++depth_;
    return true;
  }
  bool EndArray(rapidjson::SizeType) { return leave(); }

 private:
  template <class Fill>
  bool scalar(Fill fill, TopValue::Kind kind) {
    if (depth_ == 0) return stop("the request must be a JSON object");
    if (!current_) return true;
    if (depth_ == 1) {
      current_->kind = kind;
      fill(*current_);
    } else if (depth_ == 2) {
      spoilCollection();
    }
    return true;
  }

  // An array member that is not a string makes the whole array the wrong type.
  void spoilCollection() {
    if (!collecting_) return;
    current_->kind = TopValue::kOther;
    current_->items.clear();
    collecting_ = false;
  }

  bool leave() {
    --depth_;
    if (depth_ == 1) collecting_ = false;
    return true;
  }

  bool stop(const char* why) {
    error = why;
    return false;
  }

  std::size_t depth_ = 0;
  TopValue* current_ = nullptr;
  bool collecting_ = false;
};

RunnerRequest buildRequest(const TopLevelHandler& handler) {
  RunnerRequest request;
  auto op = handler.values.find("op");
  if (op == handler.values.end() || op->second.kind == TopValue::kNull) {
    throw FieldError{"key 'op' is required"};
  }
  if (op->second.kind != TopValue::kString) throw FieldError{"key 'op': expected a string"};
  request.op = op->second.text;
  for (const auto& field : kOptionalFields) {
    auto it = handler.values.find(field.key);
    if (it == handler.values.end() || it->second.kind == TopValue::kNull) continue;
    try {
      field.read(it->second, request);
    } catch (const FieldError& e) {
      throw FieldError{std::string("key '") + field.key + "': " + e.text};
    }
  }
  return request;
}

// JSON allows no raw control character but blank, tab and line breaks,
// inside strings or out. Checked before parsing: a NUL would end the
// parser's input early, and its vector scan of strings lets 0x1A to 0x1F
// through.
std::size_t forbiddenControlByte(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return i;
  }
  return std::string_view::npos;
}

std::string describeParseError(const rapidjson::ParseResult& result) {
  return std::string(rapidjson::GetParseError_En(result.Code())) + " (at byte " +
         std::to_string(result.Offset()) + ")";
}

}  // namespace

std::variant<RunnerRequest, DecodeError> decodeRequest(std::string_view bytes) {
  if (auto at = forbiddenControlByte(bytes); at != std::string_view::npos) {
    return DecodeError{"control character " + std::to_string(static_cast<int>(bytes[at])) +
                       " outside an escape (at byte " + std::to_string(at) + ")"};
  }
  // Every string and key is checked for UTF-8 by the handler, faster than
  // the parser's own check; outside strings only ASCII is valid JSON anyway.
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag;
  // The parser's string copy ends at a NUL and loads sixteen aligned bytes at
  // a time, so the input gets a terminator and a block of padding.
  constexpr std::size_t kPadding = 16;
  std::string terminated;
  terminated.reserve(bytes.size() + kPadding);
  terminated.append(bytes).append(kPadding, '\0');
  rapidjson::StringStream stream(terminated.c_str());
  rapidjson::Reader reader;
  TopLevelHandler handler;
  rapidjson::ParseResult result = reader.Parse<kFlags>(stream, handler);
  if (handler.error) return DecodeError{handler.error};
  if (result.IsError()) return DecodeError{describeParseError(result)};
  try {
    return buildRequest(handler);
  } catch (const FieldError& e) {
    return DecodeError{e.text};
  } catch (const std::exception& e) {
    return DecodeError{text::toValidUtf8(e.what())};
  }
}

}  // namespace vorn
