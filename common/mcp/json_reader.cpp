#include "common/mcp/json_reader.h"

#include <string>
#include <vector>

namespace vorn::mcp {
namespace {

using nlohmann::json;

// Receives nlohmann/json's parse events and builds the document. Containers
// under construction are held by pointer: only the innermost one grows, so
// none of the pointers is invalidated while it is on the stack.
class DocumentBuilder {
 public:
  bool null() { return scalar(nullptr); }
  bool boolean(bool value) { return scalar(value); }
  bool number_integer(json::number_integer_t value) {
    noteId(std::to_string(value));
    return scalar(value);
  }
  bool number_unsigned(json::number_unsigned_t value) {
    noteId(std::to_string(value));
    return scalar(value);
  }
  bool number_float(json::number_float_t value, const std::string& literal) {
    noteId(literal);
    return scalar(value);
  }
  bool string(std::string& value) { return scalar(std::move(value)); }
  bool binary(json::binary_t&) { return false; }  // never produced by the JSON lexer
  bool start_object(std::size_t) { return open(json::object()); }
  bool start_array(std::size_t) { return open(json::array()); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(std::string& name) {
    key_ = std::move(name);
    if (open_.size() == 1 && key_ == "id") document_.numericIdText.reset();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  JsonDocument take() { return std::move(document_); }

 private:
  bool scalar(json value) {
    place(std::move(value));
    return true;
  }
  json* place(json value) {
    if (open_.empty()) {
      document_.value = std::move(value);
      return &document_.value;
    }
    json& container = *open_.back();
    if (container.is_array()) {
      container.push_back(std::move(value));
      return &container.back();
    }
    json& slot = container[key_];
    slot = std::move(value);
    return &slot;
  }
  bool open(json container) {
    if (open_.size() >= kMaxNesting) return false;
    open_.push_back(place(std::move(container)));
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }
  void noteId(std::string literal) {
    if (open_.size() == 1 && open_.back()->is_object() && key_ == "id") {
      document_.numericIdText = std::move(literal);
    }
  }

  JsonDocument document_;
  std::vector<json*> open_;
  std::string key_;
};

}  // namespace

std::optional<JsonDocument> readJson(std::string_view text) {
  DocumentBuilder builder;
  bool parsed = json::sax_parse(text.begin(), text.end(), &builder, json::input_format_t::json,
                                /*strict=*/true, /*ignore_comments=*/false);
  if (!parsed) return std::nullopt;
  return builder.take();
}

}  // namespace vorn::mcp
