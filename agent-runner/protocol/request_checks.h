// The checks the dispatch runs before an operation (operation.h), read from
// the wire record by field name.
#pragma once

#include <optional>
#include <string_view>

#include "agent-runner/protocol/operation.h"

namespace VornAgentRunnerMain {

/// Whether the wire record has a field of that name (`op` aside).
bool isWireField(std::string_view name);

/// Runs `checks` in order on `request`: the first unmet requirement's
/// refusal, or a prerequisite's ("workspace_root is required", ...); nothing
/// when all pass, with what the prerequisites found in `prepared`.
std::optional<std::string> firstRefusal(std::span<const Check> checks,
                                        const vorn::RunnerRequest& request, Prepared& prepared);

}  // namespace VornAgentRunnerMain
