#include "common/mcp/results.h"

#include "common/mcp/base64.h"
#include "common/mcp/json_rpc.h"
#include "common/mcp/protocol_versions.h"

namespace vorn::mcp {

using nlohmann::json;

namespace {

// The tool list is fixed for the life of the process; clients may keep it
// for an hour. Tool descriptions may name the user's folders: not shared.
constexpr int kListFreshMs = 3'600'000;

json implementation(const ServerInfo& server) {
  return {{"name", server.name}, {"version", server.version}};
}

json capabilities() { return {{"tools", {{"listChanged", false}}}}; }

json annotationsOf(const ToolAnnotations& hints) {
  json out = json::object();
  if (hints.readOnly) out["readOnlyHint"] = *hints.readOnly;
  if (hints.destructive) out["destructiveHint"] = *hints.destructive;
  if (hints.idempotent) out["idempotentHint"] = *hints.idempotent;
  if (hints.openWorld) out["openWorldHint"] = *hints.openWorld;
  return out;
}

json toolEntry(const Tool& tool, std::string_view version) {
  json entry = {
      {"name", tool.name}, {"description", tool.description}, {"inputSchema", tool.inputSchema}};
  if (hasStructuredContent(version) && !tool.outputSchema.is_null()) {
    entry["outputSchema"] = tool.outputSchema;
  }
  json hints = annotationsOf(tool.annotations);
  if (hasToolAnnotations(version) && !hints.empty()) entry["annotations"] = std::move(hints);
  return entry;
}

void markCacheable(json& result, std::string_view version) {
  if (!isStatelessVersion(version)) return;
  result["ttlMs"] = kListFreshMs;
  result["cacheScope"] = "private";
}

}  // namespace

json initializeResult(const ServerInfo& server, std::string_view version) {
  json result = {{"protocolVersion", version},
                 {"capabilities", capabilities()},
                 {"serverInfo", implementation(server)}};
  if (!server.instructions.empty()) result["instructions"] = server.instructions;
  return result;
}

json discoverResult(const ServerInfo& server) {
  json result = {{"supportedVersions", kSupportedVersions}, {"capabilities", capabilities()}};
  if (!server.instructions.empty()) result["instructions"] = server.instructions;
  markCacheable(result, kSupportedVersions.front());
  return result;
}

json toolsListResult(std::span<const Tool> tools, std::string_view version) {
  json list = json::array();
  for (const auto& tool : tools) list.push_back(toolEntry(tool, version));
  json result = {{"tools", std::move(list)}};
  markCacheable(result, version);
  return result;
}

json callToolResult(ToolResult result, std::string_view version) {
  json content = json::array();
  content.push_back(
      {{"type", "text"},
       {"text", result.text ? std::move(*result.text) : compactJson(result.structured)}});
  for (const auto& image : result.images) {
    content.push_back(
        {{"type", "image"}, {"data", base64Encode(image.bytes)}, {"mimeType", image.mimeType}});
  }
  json answer = {{"content", std::move(content)}, {"isError", result.isError}};
  if (hasStructuredContent(version) && result.structured.is_object()) {
    answer["structuredContent"] = std::move(result.structured);
  }
  return answer;
}

json rootsRequiredResult() {
  return {{"resultType", "input_required"},
          {"inputRequests", {{kRootsInputKey, {{"method", "roots/list"}}}}}};
}

void finishResult(json& result, const RequestEra& era, const ServerInfo& server) {
  if (!era.perRequest || !isStatelessVersion(era.version)) return;
  if (!result.contains("resultType")) result["resultType"] = "complete";
  result["_meta"]["io.modelcontextprotocol/serverInfo"] = implementation(server);
}

}  // namespace vorn::mcp
