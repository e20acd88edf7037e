// JSON-RPC 2.0 messages as the protocol uses them: one message per line,
// classified into requests, notifications and responses, and answers written
// as single lines.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vorn::mcp {

namespace error_code {
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;
inline constexpr int kUnsupportedProtocolVersion = -32022;
}  // namespace error_code

/// A request id exactly as the client wrote it: a string, or a number kept as
/// its literal text. Two ids are equal when their JSON texts are.
class RequestId {
 public:
  static RequestId fromString(std::string_view text);
  static RequestId fromNumberLiteral(std::string literal) { return RequestId(std::move(literal)); }
  /// A string or integer found inside a message (a cancellation's
  /// `requestId`); nothing for any other value.
  static std::optional<RequestId> fromValue(const nlohmann::json& value);

  /// The id as JSON text, ready to stand in an answer.
  const std::string& json() const { return json_; }
  bool operator==(const RequestId&) const = default;

 private:
  explicit RequestId(std::string json) : json_(std::move(json)) {}
  std::string json_;
};

struct Request {
  RequestId id;
  std::string method;
  nlohmann::json params;  ///< an object (empty when the message had none)
};

struct Notification {
  std::string method;
  nlohmann::json params;  ///< an object (empty when the message had none)
};

/// A client's answer to a request of ours.
struct Response {
  RequestId id;
  nlohmann::json result;  ///< null when the answer is an error
  nlohmann::json error;   ///< null when the answer is a result
};

/// A message that must be answered with an error, and the id to answer with
/// (none: the JSON null id).
struct Malformed {
  std::optional<RequestId> id;
  int code = error_code::kInvalidRequest;
  std::string message;
};

/// A message that is to be dropped without an answer: a malformed
/// notification, or a response that names no request.
struct Unanswerable {
  std::string reason;
};

using Message = std::variant<Request, Notification, Response, Malformed, Unanswerable>;

/// Classifies one line of input. Never throws.
Message readMessage(std::string_view line);

/// The answer line carrying `result` (no line feed).
std::string resultLine(const RequestId& id, const nlohmann::json& result);

/// The error answer line; `id` none writes the JSON null id.
std::string errorLine(const std::optional<RequestId>& id, int code, std::string_view message,
                      const nlohmann::json& data = nullptr);

/// A notification line of ours.
std::string notificationLine(std::string_view method, const nlohmann::json& params);

/// A request line of ours (to the client).
std::string requestLine(const RequestId& id, std::string_view method, const nlohmann::json& params);

/// `value` as compact JSON text on one line. Text that is not UTF-8 is
/// written with U+FFFD in its place; never throws.
std::string compactJson(const nlohmann::json& value);

}  // namespace vorn::mcp
