// The result objects of each method, shaped for the revision a request uses.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "common/mcp/tool.h"

namespace vorn::mcp {

/// The revision and client capabilities a request is served under.
struct RequestEra {
  std::string version;
  /// The request named its revision in `_meta` (no handshake behind it).
  bool perRequest = false;
  nlohmann::json clientCapabilities = nlohmann::json::object();
};

/// The answer to `initialize` agreeing on `version`.
nlohmann::json initializeResult(const ServerInfo& server, std::string_view version);

/// The answer to `server/discover`.
nlohmann::json discoverResult(const ServerInfo& server);

/// The answer to `tools/list`: every tool, in the order given.
nlohmann::json toolsListResult(std::span<const Tool> tools, std::string_view version);

/// The answer to `tools/call` carrying `result`.
nlohmann::json callToolResult(ToolResult result, std::string_view version);

/// The interim answer to a `tools/call` that asks the client for its roots
/// and to send the call again with them (`inputResponses.roots`).
nlohmann::json rootsRequiredResult();

/// The key under which the client returns its roots to a retried call.
inline constexpr std::string_view kRootsInputKey = "roots";

/// Adds what every result of a stateless revision carries (`resultType`,
/// the server's identity in `_meta`); leaves other results as they are.
void finishResult(nlohmann::json& result, const RequestEra& era, const ServerInfo& server);

}  // namespace vorn::mcp
