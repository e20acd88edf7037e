// The helper's operation table and its dispatcher.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <span>
#include <string>
#include <string_view>

#include "computer-use/platform/platform.h"

namespace ComputerUseHelperMain {

/// A request or result dictionary: a JSON object.
using Dictionary = nlohmann::json;

using Operation = Dictionary (*)(const Dictionary& request, vorn::platform::Platform& platform);

struct OperationEntry {
  std::string_view name;
  Operation run;
};

/// Every operation the helper answers, by its normalised name.
std::span<const OperationEntry> operationTable();

/// The request's "op" when it is a string (else ""), trimmed of white space and
/// line breaks and lowercased.
std::string operationName(const Dictionary& request);

/// Runs the operation `request` names and returns its result dictionary; an
/// unknown name answers "ok" false, "error" "unknown_op" and the normalised
/// "op". Never throws: anything unexpected becomes an "ok" false answer.
Dictionary handle(const Dictionary& request, vorn::platform::Platform& platform);

}  // namespace ComputerUseHelperMain
