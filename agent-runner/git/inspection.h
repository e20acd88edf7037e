// git_status, git_log and git_diff: git's own text, unparsed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent-runner/git/git_rules.h"

namespace VornAgentRunnerMain {

/// How many commits git_log lists when the request names no count, and the
/// range a count is clamped to.
inline constexpr std::int64_t kDefaultLogCount = 10;
inline constexpr std::int64_t kMinLogCount = 1;
inline constexpr std::int64_t kMaxLogCount = 100;

struct LogRequest {
  RepositoryRequest repository;
  std::int64_t count = kDefaultLogCount;
};

struct DiffRequest {
  RepositoryRequest repository;
  std::string scope;       // "staged", "branch", anything else: the working tree
  std::string baseBranch;  // for the "branch" scope
  std::optional<std::string> path;
};

/// `status --porcelain=1 --branch`.
GitReport gitStatus(const RepositoryRequest& request);

/// `log --oneline -<count>`, the count clamped to 1..100.
GitReport gitLog(const LogRequest& request);

/// `diff`, `diff --staged` or `diff <base>...HEAD` by the trimmed,
/// lowercased scope ("invalid_base_branch"), optionally limited to one
/// authorised path ("path_outside_workspace"). Git's status 1 counts as
/// success; output over 48000 bytes is cut and marked.
GitReport gitDiff(const DiffRequest& request);

/// `text` unchanged when it fits 48000 UTF-8 bytes, else its first 48000
/// characters (grapheme clusters) and "\n…(diff truncated)".
std::string truncateDiff(std::string text);

}  // namespace VornAgentRunnerMain
