// The runner's JSON Schema documents (draft 2020-12), made from its
// operation table: what the build writes to docs/schema/ and what the
// answer tests validate against.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace VornAgentRunnerMain {

/// The file names the documents are written under.
inline constexpr const char* kRequestSchemaFile = "agent-runner.request.schema.json";
inline constexpr const char* kAnswerSchemaFile = "agent-runner.answer.schema.json";

/// Every operation's request under `$defs/<op>`; the root accepts exactly
/// one of them, told apart by `op` (written as the table names it).
nlohmann::json requestDocument();

/// Every operation's answers under `$defs/<op>` (its own fields and the
/// common ones, nothing else; `error` and `message` exactly when `ok` is
/// false), the failure answered before an operation is found under
/// `$defs/failure`, and the fixed text answered when an answer cannot be
/// encoded under `$defs/encode_failed`. The root accepts any of them.
nlohmann::json answerDocument();

}  // namespace VornAgentRunnerMain
