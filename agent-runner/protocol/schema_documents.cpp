#include "agent-runner/protocol/schema_documents.h"

#include <vector>

#include "agent-runner/protocol/operation_table.h"
#include "common/schema/json_schema.h"

namespace VornAgentRunnerMain {
namespace {

using nlohmann::json;
using vorn::schema::Field;
using vorn::schema::OtherKeys;

json okIs(bool ok) { return {{"properties", {{"ok", {{"const", ok}}}}}}; }

// A success has no error (a false schema for it, which strict validators
// take where a negated "required" is refused); a failure has its error and
// the same text as its message.
json failureRule() {
  json success = okIs(true);
  success["properties"]["error"] = false;
  json failure = okIs(false);
  failure["required"] = {"error", "message"};
  return json::array({std::move(success), std::move(failure)});
}

json answerSchema(const Operation& operation) {
  std::vector<Field> fields(commonAnswerFields().begin(), commonAnswerFields().end());
  fields.insert(fields.end(), operation.shape.answer.begin(), operation.shape.answer.end());
  json schema = vorn::schema::objectSchema(fields, OtherKeys::kRefused);
  schema["description"] = std::string(operation.shape.description);
  schema["oneOf"] = failureRule();
  return schema;
}

json failureBeforeDispatch() {
  json schema = vorn::schema::objectSchema(commonAnswerFields(), OtherKeys::kRefused);
  schema["description"] =
      "A request that named no operation, did not decode, or was not UTF-8 text.";
  schema["properties"]["ok"]["const"] = false;
  schema["required"] = {"ok", "helper", "pid", "error", "message"};
  return schema;
}

json encodeFailed() {
  return {{"description", "The fixed answer when an answer could not be written as JSON."},
          {"const", {{"ok", false}, {"error", "encode_failed"}, {"helper", "vorn-agent-runner"}}}};
}

}  // namespace

json requestDocument() {
  return vorn::schema::requestDocument(
      operationTable(),
      "One request to vorn-agent-runner: a JSON object whose op names the operation. "
      "Unknown keys are ignored; null means absent.",
      "urn:vorn:schema:agent-runner:request", "vorn-agent-runner request");
}

json answerDocument() {
  vorn::schema::NamedSchemas answers;
  for (const auto& operation : operationTable()) {
    answers.emplace_back(operation.shape.name, answerSchema(operation));
  }
  answers.emplace_back("failure", failureBeforeDispatch());
  answers.emplace_back("encode_failed", encodeFailed());
  return vorn::schema::choiceDocument(
      std::move(answers), "anyOf",
      "One answer of vorn-agent-runner. $defs holds each operation's answers by its name.",
      "urn:vorn:schema:agent-runner:answer", "vorn-agent-runner answer");
}

}  // namespace VornAgentRunnerMain
