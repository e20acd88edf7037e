#include "common/mcp/json_rpc.h"

#include <new>

#include "common/mcp/json_reader.h"

namespace vorn::mcp {

using nlohmann::json;

namespace {

// The id a message carries, when it is one JSON-RPC allows here: a string or
// a number (the protocol forbids null).
std::optional<RequestId> idOf(const JsonDocument& document) {
  auto found = document.value.find("id");
  if (found == document.value.end()) return std::nullopt;
  if (found->is_string()) return RequestId::fromString(found->get_ref<const std::string&>());
  if (found->is_number() && document.numericIdText) {
    return RequestId::fromNumberLiteral(*document.numericIdText);
  }
  return std::nullopt;
}

// Absent and null params are an empty object; anything else but an object is
// not params at all.
std::optional<json> paramsOf(const json& message) {
  auto found = message.find("params");
  if (found == message.end() || found->is_null()) return json::object();
  if (found->is_object()) return *found;
  return std::nullopt;
}

Message classifyCall(const json& message, const std::optional<RequestId>& id, bool hasId) {
  const json& method = message["method"];
  if (!hasId) {
    auto params = paramsOf(message);
    if (!method.is_string() || !params) return Unanswerable{"a malformed notification"};
    return Notification{method.get<std::string>(), std::move(*params)};
  }
  if (!id)
    return Malformed{std::nullopt, error_code::kInvalidRequest,
                     "Invalid request: id must be a string or a number"};
  if (!method.is_string()) {
    return Malformed{id, error_code::kInvalidRequest, "Invalid request: method must be a string"};
  }
  auto params = paramsOf(message);
  if (!params)
    return Malformed{id, error_code::kInvalidParams, "Invalid params: params must be an object"};
  return Request{*id, method.get<std::string>(), std::move(*params)};
}

Message classifyResponse(const json& message, const std::optional<RequestId>& id) {
  bool hasResult = message.contains("result");
  bool hasError = message.contains("error");
  if (!id || hasResult == hasError) return Unanswerable{"a malformed response"};
  return Response{*id, hasResult ? message["result"] : json(),
                  hasError ? message["error"] : json()};
}

Message classify(const JsonDocument& document) {
  const json& message = document.value;
  if (message.is_array()) {
    return Malformed{std::nullopt, error_code::kInvalidRequest,
                     "Invalid request: batches are not accepted; send one message per line"};
  }
  if (!message.is_object()) {
    return Malformed{std::nullopt, error_code::kInvalidRequest,
                     "Invalid request: a message is a JSON object"};
  }
  bool hasId = message.contains("id");
  auto id = idOf(document);
  bool isCall = message.contains("method");
  auto version = message.find("jsonrpc");
  if (version == message.end() || *version != "2.0") {
    if (isCall && !hasId) return Unanswerable{"a notification without jsonrpc \"2.0\""};
    return Malformed{id, error_code::kInvalidRequest, "Invalid request: jsonrpc must be \"2.0\""};
  }
  if (isCall) return classifyCall(message, id, hasId);
  if (message.contains("result") || message.contains("error")) return classifyResponse(message, id);
  return Malformed{id, error_code::kInvalidRequest, "Invalid request: no method"};
}

std::string envelope(std::string_view rest) {
  std::string line = R"({"jsonrpc":"2.0",)";
  line += rest;
  line += '}';
  return line;
}

}  // namespace

RequestId RequestId::fromString(std::string_view text) { return RequestId(compactJson(text)); }

std::optional<RequestId> RequestId::fromValue(const nlohmann::json& value) {
  if (value.is_string()) return fromString(value.get_ref<const std::string&>());
  if (value.is_number_integer()) return RequestId(value.dump());
  return std::nullopt;
}

Message readMessage(std::string_view line) {
  try {
    auto document = readJson(line);
    if (!document) {
      return Malformed{std::nullopt, error_code::kParseError,
                       "Parse error: a line must hold one JSON value in UTF-8"};
    }
    return classify(*document);
  } catch (const std::bad_alloc&) {
    return Malformed{std::nullopt, error_code::kParseError,
                     "Parse error: the message is too large"};
  }
}

std::string compactJson(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string resultLine(const RequestId& id, const json& result) {
  return envelope(R"("id":)" + id.json() + R"(,"result":)" + compactJson(result));
}

std::string errorLine(const std::optional<RequestId>& id, int code, std::string_view message,
                      const json& data) {
  json error = {{"code", code}, {"message", message}};
  if (!data.is_null()) error["data"] = data;
  return envelope(R"("id":)" + (id ? id->json() : std::string("null")) + R"(,"error":)" +
                  compactJson(error));
}

std::string notificationLine(std::string_view method, const json& params) {
  return envelope(R"("method":)" + compactJson(method) + R"(,"params":)" + compactJson(params));
}

std::string requestLine(const RequestId& id, std::string_view method, const json& params) {
  return envelope(R"("id":)" + id.json() + R"(,"method":)" + compactJson(method) + R"(,"params":)" +
                  compactJson(params));
}

}  // namespace vorn::mcp
