// Tool definitions that some major client would refuse or misread are
// refused before the server starts, each with the place named.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/mcp/tool_checks.h"

namespace {

using nlohmann::json;
using namespace vorn::mcp;

Tool goodTool() {
  return {.name = "write_file",
          .description = "Writes a file.",
          .inputSchema = json::parse(R"({
            "type": "object",
            "properties": {
              "path": {"type": "string"},
              "mode": {"enum": ["a", "b"]},
              "lines": {"type": "array", "items": {"type": "string"}},
              "options": {"type": "object", "properties": {"n": {"type": "integer"}},
                          "additionalProperties": false},
              "either": {"anyOf": [{"type": "string"}, {"type": "null"}]}
            },
            "required": ["path"]
          })"),
          .handler = [](const json&, CallContext&) { return ToolResult{}; }};
}

TEST(ToolChecks, APortableToolPasses) { EXPECT_TRUE(checkTool(goodTool()).ok()); }

TEST(ToolChecks, EachRuleIsEnforcedAndNamesThePlace) {
  struct Breach {
    std::function<void(Tool&)> change;
    std::string expected;  // part of the failure's text
  };
  auto schema = [](const char* text) {
    return [=](Tool& t) { t.inputSchema = json::parse(text); };
  };
  const std::vector<Breach> breaches = {
      {[](Tool& t) { t.name = "Write"; }, "[a-z_]"},
      {[](Tool& t) { t.name = "write-file"; }, "[a-z_]"},
      {[](Tool& t) { t.name = ""; }, "[a-z_]"},
      {[](Tool& t) { t.name = std::string(65, 'a'); }, "[a-z_]"},
      {[](Tool& t) { t.description.clear(); }, "no description"},
      {[](Tool& t) { t.handler = nullptr; }, "no handler"},
      {schema(R"({"properties": {}})"), "inputSchema: must be an object schema"},
      {schema(R"({"type": "array"})"), "inputSchema: must be an object schema"},
      {schema(R"({"type": "object", "oneOf": [{"type": "object"}]})"), "inputSchema.oneOf"},
      {schema(R"({"type": "object", "anyOf": [{"type": "object"}]})"), "inputSchema.anyOf"},
      {schema(R"({"type": "object", "allOf": [{"type": "object"}]})"), "inputSchema.allOf"},
      {schema(R"({"type": "object", "$schema": "https://json-schema.org/draft/2020-12/schema"})"),
       "inputSchema.$schema"},
      {schema(R"({"type": "object", "$defs": {"p": {"type": "string"}}})"), "inputSchema.$defs"},
      {schema(R"({"type": "object", "properties": {"p": {"$ref": "#/$defs/p"}}})"),
       "inputSchema.properties.p.$ref"},
      {schema(R"({"type": "object", "properties": {"p": {"type": ["string", "null"]}}})"),
       "inputSchema.properties.p.type"},
      {schema(R"({"type": "object", "properties": {"p": {"description": "anything"}}})"),
       "inputSchema.properties.p: says nothing"},
      {schema(R"({"type": "object", "properties": {"p": true}})"),
       "inputSchema.properties.p: a schema must be an object"},
      {schema(R"({"type": "object", "properties": {"p": {"type": "array", "items": {}}}})"),
       "inputSchema.properties.p.items"},
      {schema(R"({"type": "object", "properties": {"p": {"anyOf": [{"type": "string"}, {}]}}})"),
       "inputSchema.properties.p.anyOf.1"},
      {schema(R"({"type": "object", "properties": {"p": {"type": "string"}}, "required": ["q"]})"),
       "required: names \"q\""},
      {[](Tool& t) { t.outputSchema = json::parse(R"({"type": "string"})"); },
       "outputSchema: must be an object schema"},
  };
  for (const auto& breach : breaches) {
    Tool tool = goodTool();
    breach.change(tool);
    auto status = checkTool(tool);
    ASSERT_FALSE(status.ok()) << breach.expected;
    EXPECT_NE(status.description().find(breach.expected), std::string::npos)
        << status.description();
  }
}

TEST(ToolChecks, ANameServesOneToolOnly) {
  std::vector<Tool> tools = {goodTool(), goodTool()};
  auto status = checkTools(tools);
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.description().find("named twice"), std::string::npos);
  tools[1].name = "read_file";
  EXPECT_TRUE(checkTools(tools).ok());
}

}  // namespace
