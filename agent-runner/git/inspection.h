// git_status, git_log and git_diff: git's own text, unparsed.
#pragma once

#include <string>

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// `status --porcelain=1 --branch`.
vorn::RunnerResponse gitStatus(const vorn::RunnerRequest& request);

/// `log --oneline -<count>`, the count 10 by default and clamped to 1..100.
vorn::RunnerResponse gitLog(const vorn::RunnerRequest& request);

/// `diff`, `diff --staged` or `diff <base>...HEAD` by `scope`, optionally
/// limited to one authorised `path`. Git's status 1 counts as success;
/// output over 48000 bytes is cut and marked.
vorn::RunnerResponse gitDiff(const vorn::RunnerRequest& request);

/// `text` unchanged when it fits 48000 UTF-8 bytes, else its first 48000
/// characters (grapheme clusters) and "\n…(diff truncated)".
std::string truncateDiff(std::string text);

}  // namespace VornAgentRunnerMain
