#include "agent-runner/mcp/runner_tools.h"

#include <memory>
#include <string_view>
#include <variant>

#include "agent-runner/process/run_control.h"
#include "agent-runner/protocol/dispatch.h"
#include "agent-runner/protocol/entry.h"
#include "agent-runner/protocol/operation_table.h"
#include "agent-runner/protocol/request_decoder.h"
#include "common/schema/json_schema.h"

namespace VornAgentRunnerMcp {
namespace {

using nlohmann::json;
using vorn::mcp::CallContext;
using vorn::mcp::Tool;
using vorn::mcp::ToolAnnotations;
using vorn::mcp::ToolResult;
using vorn::schema::Field;

constexpr std::string_view kWorkspaceRoot = "workspace_root";
constexpr std::string_view kExtraRoots = "extra_roots";

constexpr Field kCeilingRoot{
    .name = kWorkspaceRoot,
    .description =
        "The folder to act in; it must lie inside one of the server's workspace folders "
        "(relative: from the first; ~ expands). Paths are taken from it and must lie inside "
        "it. None: the first workspace folder."};

// What a client may assume of each tool's effects; unlisted: nothing stated
// but that it may change the workspace.
struct Hints {
  std::string_view name;
  ToolAnnotations annotations;
};
constexpr ToolAnnotations kReads{.readOnly = true, .destructive = false, .openWorld = false};
const Hints kHints[] = {
    {"ping", kReads},
    {"git_status", kReads},
    {"git_log", kReads},
    {"git_diff", kReads},
    {"git_branch_list", kReads},
    {"shell", {.readOnly = false, .destructive = true, .openWorld = true}},
    {"git_push", {.readOnly = false, .destructive = true, .openWorld = true}},
    {"delete_file", {.readOnly = false, .destructive = true, .openWorld = false}},
};

ToolAnnotations annotationsOf(std::string_view name) {
  for (const auto& hint : kHints) {
    if (hint.name == name) return hint.annotations;
  }
  return {.readOnly = false, .openWorld = false};
}

// The request's fields as a client sees them.
std::vector<Field> offeredFields(std::span<const Field> request) {
  std::vector<Field> offered;
  for (const auto& field : request) {
    if (field.name == kExtraRoots) continue;
    offered.push_back(field.name == kWorkspaceRoot ? kCeilingRoot : field);
  }
  return offered;
}

json inputSchemaOf(const VornAgentRunnerMain::Operation& operation) {
  std::vector<Field> offered = offeredFields(operation.shape.request);
  vorn::schema::OperationShape shape = operation.shape;
  shape.request = offered;
  return vorn::schema::toolInputSchema(shape);
}

// The runner request a call's arguments make, decoded as strictly as the
// wire's.
std::variant<vorn::RunnerRequest, vorn::DecodeError> requestOf(std::string_view op,
                                                               const json& arguments) {
  json request = arguments;
  request.erase(std::string(kExtraRoots));
  request["op"] = op;
  return vorn::decodeRequest(request.dump());
}

ToolResult call(const VornAgentRunnerMain::Operation& operation, const WorkspaceCeiling& ceiling,
                const json& arguments, CallContext& context) {
  auto decoded = requestOf(operation.shape.name, arguments);
  if (auto* error = std::get_if<vorn::DecodeError>(&decoded)) {
    return resultOf(vorn::failure("invalid JSON request: " + error->description));
  }
  auto& request = std::get<vorn::RunnerRequest>(decoded);
  if (vorn::schema::findField(operation.shape.request, kWorkspaceRoot)) {
    auto root = workspaceRootWithin(request.workspace_root, ceiling.narrowedBy(context.roots()));
    if (auto* refusal = std::get_if<vorn::Refusal>(&root))
      return resultOf(vorn::failure(refusal->text));
    request.workspace_root = std::move(std::get<std::string>(root));
  }
  VornAgentRunnerMain::RunControl control{
      .stop = context.stopToken(),
      .started = [&context](const std::string& executable, const std::vector<std::string>& args) {
        context.reportProgress(progressWords(executable, args));
      }};
  VornAgentRunnerMain::RunControlScope scope(control);
  return resultOf(VornAgentRunnerMain::handle(std::move(request)));
}

std::string baseName(std::string_view path) {
  auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

std::vector<Tool> runnerTools(const WorkspaceCeiling& ceiling) {
  auto shared = std::make_shared<const WorkspaceCeiling>(ceiling);
  std::vector<Tool> tools;
  for (const auto& operation : VornAgentRunnerMain::operationTable()) {
    bool actsInWorkspace = vorn::schema::findField(operation.shape.request, kWorkspaceRoot);
    tools.push_back({.name = std::string(operation.shape.name),
                     .description = std::string(operation.shape.description),
                     .inputSchema = inputSchemaOf(operation),
                     .outputSchema = nullptr,
                     .annotations = annotationsOf(operation.shape.name),
                     .usesRoots = actsInWorkspace,
                     .handler = [&operation, shared](const json& arguments, CallContext& context) {
                       return call(operation, *shared, arguments, context);
                     }});
  }
  return tools;
}

ToolResult resultOf(const vorn::RunnerResponse& response) {
  std::string text = VornAgentRunnerMain::encodeToString(response);
  json answer = json::parse(text);
  return {.structured = std::move(answer), .text = std::move(text), .isError = !response.ok};
}

std::string progressWords(const std::string& executable,
                          const std::vector<std::string>& arguments) {
  std::string program = baseName(executable);
  std::size_t next = 0;
  if (program == "env" && !arguments.empty()) program = baseName(arguments[next++]);
  if (program == "zsh") return "running the shell command";
  if (program == "git") {
    for (; next < arguments.size(); ++next) {
      if (!arguments[next].starts_with('-')) return "running git " + arguments[next];
    }
  }
  return "running " + program;
}

}  // namespace VornAgentRunnerMcp
