#include "computer-use/protocol/schema_documents.h"

#include <string>

#include "common/schema/json_schema.h"
#include "computer-use/protocol/operation_table.h"

namespace ComputerUseHelperMain {
namespace {

using nlohmann::json;
using vorn::schema::OtherKeys;

json reference(std::string_view name) { return {{"$ref", "#/$defs/" + std::string(name)}}; }

json failure() { return vorn::schema::objectSchema(failureAnswerFields(), OtherKeys::kRefused); }

json answerSchema(const Operation& operation) {
  json success = vorn::schema::objectSchema(operation.shape.answer, OtherKeys::kRefused);
  json schema{{"description", std::string(operation.shape.description)},
              {"anyOf", json::array({std::move(success), reference("failure")})}};
  if (auto needs = describe(operation.prerequisite); !needs.empty()) {
    schema["description"] = schema["description"].get<std::string>() + " " + std::string(needs);
  }
  return schema;
}

// An answer given before any operation runs: `ok` false, this `error`.
json refusalBeforeDispatch(std::string_view error, std::string_view description, bool withOp) {
  json properties{{"ok", {{"const", false}}}, {"error", {{"const", std::string(error)}}}};
  json required = json::array({"ok", "error"});
  if (withOp) {
    properties["op"] = {{"type", "string"}};
    required.push_back("op");
  }
  return {{"description", std::string(description)},
          {"type", "object"},
          {"properties", std::move(properties)},
          {"required", std::move(required)},
          {"additionalProperties", false}};
}

}  // namespace

json requestDocument() {
  return vorn::schema::requestDocument(
      operationTable(),
      "One request to vorn-computer-use: a JSON object whose op names the operation. "
      "Unknown keys are ignored; a value of the wrong type counts as absent.",
      "urn:vorn:schema:computer-use:request", "vorn-computer-use request");
}

json answerDocument() {
  vorn::schema::NamedSchemas answers;
  for (const auto& operation : operationTable()) {
    answers.emplace_back(operation.shape.name, answerSchema(operation));
  }
  answers.emplace_back("failure", failure());
  answers.emplace_back("unknown_op",
                       refusalBeforeDispatch("unknown_op", "A request naming no operation.", true));
  answers.emplace_back(
      "invalid_json",
      refusalBeforeDispatch("invalid_json", "A request that is no JSON object.", false));
  answers.emplace_back("encode_failed",
                       refusalBeforeDispatch(
                           "encode_failed", "An answer that could not be written as JSON.", false));
  return vorn::schema::choiceDocument(
      std::move(answers), "anyOf",
      "One answer of vorn-computer-use. $defs holds each operation's answers by its name.",
      "urn:vorn:schema:computer-use:answer", "vorn-computer-use answer");
}

}  // namespace ComputerUseHelperMain
