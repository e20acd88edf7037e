// The runner's operations, one table as data: the dispatch, the schema
// documents and a protocol front end's tool list all read it.
#pragma once

#include <span>
#include <string_view>

#include "agent-runner/protocol/operation.h"

namespace VornAgentRunnerMain {

/// Every operation the runner answers, by the name a request gives in `op`.
std::span<const Operation> operationTable();

/// The operation named `name` (already trimmed and lowercased), or null.
const Operation* findOperation(std::string_view name);

/// The fields every answer of the runner has (ok, helper, pid, error, message).
std::span<const vorn::schema::Field> commonAnswerFields();

}  // namespace VornAgentRunnerMain
