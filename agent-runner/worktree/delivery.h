// git_deliver: an agent's finished worktree merged into the user's checkout.
#pragma once

#include <string>

#include "agent-runner/git/git_rules.h"

namespace VornAgentRunnerMain {

struct DeliverRequest {
  RepositoryRequest repository;  // the primary checkout; its limit is the merge's
  std::string worktreePath;      // not blank
  std::string branch;            // trimmed
  std::string message;           // trimmed; "" for the default messages
  bool noFastForward = true;
  bool prune = false;
};

/// Commits what is pending in the worktree, and when its branch has commits
/// the primary branch lacks, merges it into the primary checkout (--no-ff
/// unless `noFastForward` is false); with `prune`, removes the worktree
/// after a successful merge only. Stops at the first failed step; a
/// conflicted merge is left as git leaves it, nothing reset. The whole run
/// after the checks holds the RepositoryLock, so deliveries into one
/// repository take turns.
GitReport gitDeliver(const DeliverRequest& request);

}  // namespace VornAgentRunnerMain
