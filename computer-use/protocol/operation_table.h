// The helper's operations, one table as data: the dispatch, the schema
// documents and a protocol front end's tool list all read it.
#pragma once

#include <span>
#include <string_view>

#include "computer-use/protocol/operation.h"

namespace ComputerUseHelperMain {

/// Every operation the helper answers, by the name a request gives in `op`.
std::span<const Operation> operationTable();

/// The operation named `name` (already trimmed and lowercased), or null.
const Operation* findOperation(std::string_view name);

/// The fields a failure of any operation carries (ok, error, message).
std::span<const vorn::schema::Field> failureAnswerFields();

}  // namespace ComputerUseHelperMain
