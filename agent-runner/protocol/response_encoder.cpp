// Written by hand rather than through a JSON library because the answer's
// bytes are fixed to the last character: sorted keys, "\/" for every slash,
// lowercase \u00xx for the other control characters.
#include "agent-runner/protocol/response_encoder.h"

#include <cstdio>

#include "common/text.h"

namespace vorn {
namespace {

class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_ += '{'; }
  ~ObjectWriter() { out_ += '}'; }
  ObjectWriter(const ObjectWriter&) = delete;
  ObjectWriter& operator=(const ObjectWriter&) = delete;

  bool valid() const { return valid_; }

  void field(const char* key, const std::optional<std::string>& value) {
    if (!value) return;
    writeKey(key);
    writeString(*value);
  }
  void field(const char* key, const std::optional<std::vector<std::string>>& values) {
    if (!values) return;
    writeKey(key);
    out_ += '[';
    for (std::size_t i = 0; i < values->size(); ++i) {
      if (i > 0) out_ += ',';
      writeString((*values)[i]);
    }
    out_ += ']';
  }
  template <class Integer>
  void field(const char* key, const std::optional<Integer>& value) {
    if (!value) return;
    writeKey(key);
    out_ += std::to_string(*value);
  }
  void boolean(const char* key, bool value) {
    writeKey(key);
    out_ += value ? "true" : "false";
  }

 private:
  void writeKey(const char* key) {
    if (!first_) out_ += ',';
    first_ = false;
    out_ += '"';
    out_ += key;
    out_ += "\":";
  }
  void writeString(const std::string& s) {
    if (!text::isValidUtf8(s)) valid_ = false;
    out_ += '"';
    for (char c : s) writeChar(c);
    out_ += '"';
  }
  void writeChar(char c) {
    switch (c) {
      case '"':
        out_ += "\\\"";
        return;
      case '\\':
        out_ += "\\\\";
        return;
      case '/':
        out_ += "\\/";
        return;
      case '\n':
        out_ += "\\n";
        return;
      case '\r':
        out_ += "\\r";
        return;
      case '\t':
        out_ += "\\t";
        return;
      case '\b':
        out_ += "\\b";
        return;
      case '\f':
        out_ += "\\f";
        return;
      default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out_ += buf;
      return;
    }
    out_ += c;
  }

  std::string& out_;
  bool first_ = true;
  bool valid_ = true;
};

}  // namespace

std::optional<std::string> encodeResponse(const RunnerResponse& r) {
  std::string out;
  bool valid;
  {
    ObjectWriter w(out);
    w.field("affected_paths", r.affected_paths);
    w.field("error", r.error);
    w.field("exit_status", r.exit_status);
    w.field("helper", std::optional<std::string>(r.helper));
    w.field("message", r.message);
    w.boolean("ok", r.ok);
    w.field("path", r.path);
    w.field("pid", std::optional<std::int32_t>(r.pid));
    w.field("stderr", r.stderr_text);
    w.field("stdout", r.stdout_text);
    w.field("written_bytes", r.written_bytes);
    valid = w.valid();
  }
  if (!valid) return std::nullopt;
  return out;
}

}  // namespace vorn
