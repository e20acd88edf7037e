// Requests can carry megabytes (a whole file's content, a long diff), so they
// are read by a streaming parser, in place: strings are unescaped inside the
// request's own buffer, and the record copies each kept string once from
// there. The handler keeps the top-level values of known keys only (the last
// occurrence of a key counts); nested values are skipped at any depth without
// recursion. Numbers reach the handler as their text and are converted
// exactly (json_number.h). Typed readers then fill the record from those
// values through a table of keys.
#include "agent-runner/protocol/request_decoder.h"

// Runs of plain string bytes are copied sixteen at a time where SSE2 exists.
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <map>

#include "agent-runner/protocol/json_number.h"
#include "common/text.h"

namespace vorn {
namespace {

struct FieldError {
  std::string text;
};

// A top-level value: its JSON kind, and its content where the kind has one,
// as views into the request's buffer (a number's content is its text).
struct TopValue {
  enum Kind { kNull, kBool, kNumber, kString, kStringArray, kOther };
  Kind kind = kNull;
  bool boolean = false;
  std::string_view text;
  std::vector<std::string_view> items;
};

void read(const TopValue& v, std::optional<std::string>& out) {
  if (v.kind != TopValue::kString) throw FieldError{"expected a string"};
  out.emplace(v.text);
}

void read(const TopValue& v, std::optional<bool>& out) {
  if (v.kind != TopValue::kBool) throw FieldError{"expected a boolean"};
  out = v.boolean;
}

template <class T>
T numberOrThrow(const std::variant<T, NumberError>& converted) {
  if (auto* error = std::get_if<NumberError>(&converted)) throw FieldError{error->text};
  return std::get<T>(converted);
}

void read(const TopValue& v, std::optional<double>& out) {
  if (v.kind != TopValue::kNumber) throw FieldError{"expected a number"};
  out = numberOrThrow(jsonNumberToDouble(v.text));
}

void read(const TopValue& v, std::optional<std::int64_t>& out) {
  if (v.kind != TopValue::kNumber) throw FieldError{"expected an integer"};
  out = numberOrThrow(jsonNumberToInteger(v.text));
}

void read(const TopValue& v, std::optional<std::vector<std::string>>& out) {
  if (v.kind != TopValue::kStringArray) throw FieldError{"expected an array of strings"};
  out.emplace(v.items.begin(), v.items.end());
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
  // Every number arrives as its text (kParseNumbersAsStringsFlag).
  bool RawNumber(const char* s, rapidjson::SizeType length, bool) {
    std::string_view text(s, length);
    return scalar([text](TopValue& v) { v.text = text; }, TopValue::kNumber);
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
  request.op = std::string(op->second.text);
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

// Room past the text for the parser's terminator and its sixteen-byte loads.
constexpr std::size_t kPadding = 16;

std::string describeParseError(const rapidjson::ParseResult& result) {
  return std::string(rapidjson::GetParseError_En(result.Code())) + " (at byte " +
         std::to_string(result.Offset()) + ")";
}

}  // namespace

std::variant<RunnerRequest, DecodeError> decodeRequest(std::string_view bytes) {
  std::string buffer;
  buffer.reserve(bytes.size() + kPadding);
  buffer.append(bytes);
  return decodeRequestInPlace(std::move(buffer));
}

std::variant<RunnerRequest, DecodeError> decodeRequestInPlace(std::string&& bytes) {
  std::string buffer = std::move(bytes);  // freed on return, whatever the outcome
  if (auto at = forbiddenControlByte(buffer); at != std::string_view::npos) {
    return DecodeError{"control character " + std::to_string(static_cast<int>(buffer[at])) +
                       " outside an escape (at byte " + std::to_string(at) + ")"};
  }
  // The parser ends at a NUL and loads sixteen aligned bytes at a time, so
  // the text gets a terminator and a block of padding.
  buffer.append(kPadding, '\0');
  // Every string and key is checked for UTF-8 by the handler, faster than
  // the parser's own check; outside strings only ASCII is valid JSON anyway.
  constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag |
                              rapidjson::kParseNumbersAsStringsFlag;
  rapidjson::InsituStringStream stream(buffer.data());
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
