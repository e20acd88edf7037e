// The helper's dispatcher: a request dictionary to the operation the table
// (operation_table.h) names, and its answer.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "computer-use/platform/platform.h"

namespace ComputerUseHelperMain {

/// A request or answer dictionary: a JSON object.
using Dictionary = nlohmann::json;

/// The request's "op" when it is a string (else ""), trimmed of white space and
/// line breaks and lowercased.
std::string operationName(const Dictionary& request);

/// Runs the operation `request` names and returns its answer; an unknown
/// name answers "ok" false, "error" "unknown_op" and the normalised "op".
/// Never throws: anything unexpected becomes an "ok" false answer.
Dictionary handle(const Dictionary& request, vorn::platform::Platform& platform);

}  // namespace ComputerUseHelperMain
