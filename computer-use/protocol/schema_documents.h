// The helper's JSON Schema documents (draft 2020-12), made from its
// operation table: what the build writes to docs/schema/ and what the
// answer tests validate against.
#pragma once

#include <nlohmann/json.hpp>

namespace ComputerUseHelperMain {

/// The file names the documents are written under.
inline constexpr const char* kRequestSchemaFile = "computer-use.request.schema.json";
inline constexpr const char* kAnswerSchemaFile = "computer-use.answer.schema.json";

/// Every operation's request under `$defs/<op>`; the root accepts exactly
/// one of them, told apart by `op` (written as the table names it).
nlohmann::json requestDocument();

/// Every operation's answers under `$defs/<op>`: its own fields and nothing
/// else, or the three-key failure. `$defs/unknown_op`, `$defs/invalid_json`
/// and `$defs/encode_failed` hold the answers given before an operation
/// runs. The root accepts any of them.
nlohmann::json answerDocument();

}  // namespace ComputerUseHelperMain
