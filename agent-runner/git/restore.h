// git_restore: chosen paths back to their state in HEAD.
#pragma once

#include "agent-runner/git/index_commit.h"

namespace VornAgentRunnerMain {

struct RestoreRequest {
  PathsRequest targets;
  bool staged = true;    // restore the index
  bool worktree = true;  // restore the working tree
};

/// `restore --source=HEAD [--staged] [--worktree] -- <paths>` (each
/// authorised, "path_outside_workspace"); when that fails, `checkout HEAD
/// -- <paths>`, which restores index and working tree alike.
GitReport gitRestore(const RestoreRequest& request);

}  // namespace VornAgentRunnerMain
