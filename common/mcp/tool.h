// What a program offers through the protocol: tools, each a name, a
// description a model reads, an input schema and a handler. The protocol
// core does the rest (framing, revisions, concurrency, progress,
// cancellation, roots).
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::mcp {

/// Who the server is, as told in the handshake and in discovery.
struct ServerInfo {
  std::string name;
  std::string version;
  /// Guidance for the model on using the tools as a whole; empty: none.
  std::string instructions;
};

/// A folder (or file) the client names as the user's workspace.
struct Root {
  std::string uri;                  ///< as the client sent it
  std::string name;                 ///< may be empty
  std::optional<std::string> path;  ///< the absolute path of a file: URI; none for any other
};

/// An image block of a result.
struct Image {
  std::string bytes;  ///< the encoded image (the core writes it in base64)
  std::string mimeType = "image/png";
};

/// What a tool call answers.
struct ToolResult {
  /// The program's own answer object (`structuredContent`).
  nlohmann::json structured = nlohmann::json::object();
  /// The text block; none: `structured` as compact JSON.
  std::optional<std::string> text;
  std::vector<Image> images;
  /// The call failed (the answer says why); the model sees it and may retry.
  bool isError = false;
};

/// What a handler may ask of the call it serves. Valid for the handler's
/// duration; called from the handler's thread.
class CallContext {
 public:
  virtual ~CallContext() = default;
  /// Stops being possible when the client cancels the call or the session
  /// ends. Watch it, or register a `std::stop_callback` on it (a callback runs
  /// on the cancelling thread, or at once when already cancelled).
  virtual std::stop_token stopToken() const = 0;
  /// What the call is doing now, for the progress notifications the client
  /// asked for (none are sent when it did not).
  virtual void reportProgress(std::string message) = 0;
  /// The client's roots when it offers roots (possibly none at all); nothing
  /// when it does not offer them or the tool does not use them.
  virtual const std::optional<std::vector<Root>>& roots() const = 0;
  /// The protocol revision of this call.
  virtual std::string_view protocolVersion() const = 0;
};

/// Runs one call. `arguments` is a JSON object (empty when the client sent
/// none) that has not been checked against the schema: a handler answers bad
/// arguments with `isError`. An exception becomes an `isError` result.
using ToolHandler = std::function<ToolResult(const nlohmann::json& arguments, CallContext&)>;

/// Hints for clients about a tool's effects (unset: not stated).
struct ToolAnnotations {
  std::optional<bool> readOnly;
  std::optional<bool> destructive;
  std::optional<bool> idempotent;
  std::optional<bool> openWorld;
};

struct Tool {
  std::string name;         ///< [a-z_], 1 to 64 characters
  std::string description;  ///< what it does and what it answers, for a model
  /// A JSON Schema object portable to every major client (see tool_checks.h).
  nlohmann::json inputSchema;
  /// The schema of `structured`, or null for none.
  nlohmann::json outputSchema;
  ToolAnnotations annotations;
  /// The handler reads `CallContext::roots()`: a client that offers roots is
  /// asked for them before the call runs.
  bool usesRoots = false;
  ToolHandler handler;
};

}  // namespace vorn::mcp
