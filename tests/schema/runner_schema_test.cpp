// The operation table as its readers see it: the checks the dispatch runs
// agree with the fields the schemas call required, and every operation's
// schemas are ones a protocol client takes as they are.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "agent-runner/protocol/operation_table.h"
#include "agent-runner/protocol/request_checks.h"
#include "agent-runner/protocol/schema_documents.h"
#include "common/mcp/tool_checks.h"
#include "common/schema/json_schema.h"

namespace {

using nlohmann::json;
using namespace VornAgentRunnerMain;
using vorn::schema::Field;
using vorn::schema::Type;

// A required field is one the dispatch refuses a request without (a check
// on it alone, or the repository prerequisite for workspace_root), and the
// other way round; every name a check reads is a field of the operation.
TEST(OperationTable, ChecksAndRequiredFieldsAgree) {
  for (const auto& operation : operationTable()) {
    const auto& name = operation.shape.name;
    std::set<std::string_view> checked;
    for (const auto& check : operation.checks) {
      if (check.prerequisite == Prerequisite::kRepository) checked.insert("workspace_root");
      std::size_t names = 0;
      for (auto field : check.fields) {
        if (field.empty()) continue;
        ++names;
        EXPECT_TRUE(isWireField(field)) << name << ": " << field;
        EXPECT_NE(vorn::schema::findField(operation.shape.request, field), nullptr)
            << name << ": " << field;
      }
      if (names == 1) checked.insert(check.fields[0]);
    }
    std::set<std::string_view> required;
    for (const auto& field : operation.shape.request) {
      if (field.required) required.insert(field.name);
      EXPECT_TRUE(isWireField(field.name)) << name << ": " << field.name;
    }
    EXPECT_EQ(checked, required) << name;
  }
}

// What the protocol front end hands a client: the request as the tool's
// input, the answer as its output; both must pass the portability rules.
TEST(OperationTable, EveryOperationIsAPortableTool) {
  std::vector<vorn::mcp::Tool> tools;
  for (const auto& operation : operationTable()) {
    std::vector<Field> answer(commonAnswerFields().begin(), commonAnswerFields().end());
    answer.insert(answer.end(), operation.shape.answer.begin(), operation.shape.answer.end());
    tools.push_back(
        {.name = std::string(operation.shape.name),
         .description = std::string(operation.shape.description),
         .inputSchema = vorn::schema::toolInputSchema(operation.shape),
         .outputSchema = vorn::schema::objectSchema(answer, vorn::schema::OtherKeys::kRefused),
         .handler = [](const json&, vorn::mcp::CallContext&) { return vorn::mcp::ToolResult{}; }});
  }
  auto status = vorn::mcp::checkTools(tools);
  EXPECT_TRUE(status.ok()) << status.description();
}

// The shapes a protocol client cannot take (a list of types, a schema that
// says nothing) are never generated, whatever a field combines.
TEST(SchemaGenerator, NullableObjectsAndBoundsStayPortable) {
  static constexpr Field kMembers[] = {
      {.name = "ref", .description = "A reference.", .required = true},
      {.name = "title", .description = "Its title.", .nullable = true},
  };
  static constexpr std::string_view kButtons[] = {"left", "right"};
  const Field fields[] = {
      vorn::schema::withMembers({.name = "elements", .type = Type::kObjectList}, kMembers),
      {.name = "button",
       .description = "Which button.",
       .fallback = vorn::schema::Default::of(std::string_view("left")),
       .allowed = kButtons},
      {.name = "limit",
       .type = Type::kInteger,
       .description = "How many.",
       .fallback = vorn::schema::Default::of(std::int64_t{40}),
       .minimum = 1,
       .ceiling = 500},
  };
  json schema = vorn::schema::objectSchema(fields, vorn::schema::OtherKeys::kIgnored);
  vorn::mcp::Tool tool{
      .name = "made_up",
      .description = "A made-up tool.",
      .inputSchema = schema,
      .handler = [](const json&, vorn::mcp::CallContext&) { return vorn::mcp::ToolResult{}; }};
  auto status = vorn::mcp::checkTool(tool);
  EXPECT_TRUE(status.ok()) << status.description();
  const json& item = schema["properties"]["elements"]["items"];
  EXPECT_EQ(item["additionalProperties"], false);
  EXPECT_EQ(item["required"], json::array({"ref"}));
  EXPECT_EQ(item["properties"]["title"]["anyOf"][1], json({{"type", "null"}}));
  const json& limit = schema["properties"]["limit"];
  EXPECT_EQ(limit["minimum"], 1);
  EXPECT_FALSE(limit.contains("maximum"));  // a clamp refuses nothing
  EXPECT_EQ(limit["default"], 40);
  EXPECT_EQ(limit["description"], "How many. Default: 40. More than 500 counts as 500.");
  EXPECT_EQ(schema["properties"]["button"]["enum"], json::array({"left", "right"}));
}

// The documents name their dialect, and each operation can be picked out.
TEST(SchemaDocuments, NameTheDialectAndEveryOperation) {
  for (const json& document : {requestDocument(), answerDocument()}) {
    EXPECT_EQ(document["$schema"], std::string(vorn::schema::kDialect));
    for (const auto& operation : operationTable()) {
      EXPECT_TRUE(document["$defs"].contains(std::string(operation.shape.name)))
          << operation.shape.name;
    }
  }
  json requests = requestDocument();
  const json& write = requests["$defs"]["write_file"];
  EXPECT_EQ(write["required"], json::array({"op", "path", "content"}));
  EXPECT_EQ(write["properties"]["op"]["const"], "write_file");
}

}  // namespace
