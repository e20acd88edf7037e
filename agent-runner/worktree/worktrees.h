// git_worktree_add and git_worktree_remove: an agent's own working tree
// inside the isolation area, and its removal.
#pragma once

#include <string>
#include <vector>

#include "agent-runner/git/git_rules.h"
#include "common/status.h"

namespace VornAgentRunnerMain {

struct WorktreeAddRequest {
  RepositoryRequest repository;
  std::string worktreePath;  // not blank
  std::string branch;        // trimmed
};

struct WorktreeRemoveRequest {
  RepositoryRequest repository;
  std::vector<std::string> worktreePaths;  // at least one
};

/// Creates the worktree at the path inside the isolation area on the branch:
/// a new branch from HEAD, else the existing branch, in nothing or an empty
/// folder. A worktree of this repository standing there is reused without
/// running git. Anything else there (a file, a folder that holds anything,
/// another repository) is refused with "worktree_path_occupied: <what>";
/// nothing is ever removed. Creation runs under the RepositoryLock and first
/// adds the isolation area to the repository's info/exclude
/// ("exclude_failed: " when it cannot).
GitReport gitWorktreeAdd(const WorktreeAddRequest& request);

/// Removes the worktrees at the paths, each authorised against the
/// workspace root, under the RepositoryLock.
GitReport gitWorktreeRemove(const WorktreeRemoveRequest& request);

/// Runs `worktree remove --force` for each of `paths` (absolute) in
/// `primary`, going on after failures. Takes no lock: the caller holds it. A
/// path that is gone afterwards counts as removed. Reports the entries
/// "removed <rel>" / "failed <rel>: <why>" joined by "; ", done only when none
/// failed, with `paths` as the affected paths.
GitReport removeWorktrees(const std::vector<std::string>& paths, const std::string& primary,
                          double timeout);

/// "repository_lock_failed: <why>" for a lock that could not be taken.
std::string lockFailureText(const vorn::Status& failure);

}  // namespace VornAgentRunnerMain
