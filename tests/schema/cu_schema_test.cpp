// The helper's operation table as its readers see it: every operation is a
// tool a protocol client takes as it is, and the documents name every
// operation.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "common/mcp/tool_checks.h"
#include "common/schema/json_schema.h"
#include "computer-use/protocol/operation_table.h"
#include "computer-use/protocol/schema_documents.h"

namespace {

using nlohmann::json;
using namespace ComputerUseHelperMain;

TEST(HelperOperationTable, EveryOperationIsAPortableTool) {
  std::vector<vorn::mcp::Tool> tools;
  for (const auto& operation : operationTable()) {
    tools.push_back(
        {.name = std::string(operation.shape.name),
         .description = std::string(operation.shape.description),
         .inputSchema = vorn::schema::toolInputSchema(operation.shape),
         .outputSchema =
             vorn::schema::objectSchema(operation.shape.answer, vorn::schema::OtherKeys::kRefused),
         .handler = [](const json&, vorn::mcp::CallContext&) { return vorn::mcp::ToolResult{}; }});
  }
  auto status = vorn::mcp::checkTools(tools);
  EXPECT_TRUE(status.ok()) << status.description();
}

TEST(HelperSchemaDocuments, NameTheDialectAndEveryOperation) {
  for (const json& document : {requestDocument(), answerDocument()}) {
    EXPECT_EQ(document["$schema"], std::string(vorn::schema::kDialect));
    for (const auto& operation : operationTable()) {
      EXPECT_TRUE(document["$defs"].contains(std::string(operation.shape.name)))
          << operation.shape.name;
    }
  }
  // What needs the accessibility bus says so where a model reads it.
  json answers = answerDocument();
  EXPECT_NE(answers["$defs"]["observe"]["description"].get<std::string>().find("accessibility bus"),
            std::string::npos);
  EXPECT_EQ(requestDocument()["$defs"]["observe"]["required"], json::array({"op", "pid"}));
}

}  // namespace
