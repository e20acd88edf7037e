// The runner's own JSON writer for its fixed answer record.
#pragma once

#include <optional>
#include <string>

#include "agent-runner/protocol/runner_response.h"

namespace vorn {

/// The compact JSON text of `response`, keys in ascending order, every "/"
/// written as "\/", non-ASCII kept as UTF-8. Empty when a string field is not
/// valid UTF-8 (the caller then answers its fixed fallback).
std::optional<std::string> encodeResponse(const RunnerResponse& response);

}  // namespace vorn
