// apply_diff: a unified diff checked or applied to the working tree by git.
#pragma once

#include <string>

#include "agent-runner/git/git_rules.h"

namespace VornAgentRunnerMain {

struct ApplyDiffRequest {
  RepositoryRequest repository;
  std::string diff;  // not blank
  bool dryRun = false;
};

/// Authorises every new-file path of the diff, writes it to a scratch file
/// in the workspace root, runs `git apply [--check] <file>` there and
/// removes the file whatever happened. Reports "Diff applied" / "Diff is
/// valid" (with git's first words) or git's complaint, listing the affected
/// paths either way. From a workspace root below the repository's top, a
/// diff git would skip in part is refused instead of being reported as
/// applied. Takes the diff over: its final line feed is added in place.
GitReport applyDiff(ApplyDiffRequest&& request);

}  // namespace VornAgentRunnerMain
