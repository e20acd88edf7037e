// git_branch_create, git_branch_switch, git_branch_list and git_push.
#pragma once

#include <string>

#include "agent-runner/git/git_rules.h"

namespace VornAgentRunnerMain {

/// A branch to create or switch to, as the request names it (trimmed).
struct BranchRequest {
  RepositoryRequest repository;
  std::string name;
};

struct PushRequest {
  RepositoryRequest repository;
  std::string remote;  // as the request names it
  std::string branch;  // trimmed; "" for git's own choice
  bool setUpstream = false;
  bool allowNetwork = false;  // consulted only in the sandbox
};

/// `checkout -b <name>` with the validated name ("invalid_branch").
GitReport gitBranchCreate(const BranchRequest& request);

/// `checkout <name>` with the validated name ("invalid_branch").
GitReport gitBranchSwitch(const BranchRequest& request);

/// `branch --list`, git's output unparsed in its standard output.
GitReport gitBranchList(const RepositoryRequest& request);

/// Fetches the validated remote ("invalid_remote"; the fetch's result
/// ignored), then pushes the branch, with `-u` when `setUpstream` (the
/// current branch when none is named).
GitReport gitPush(const PushRequest& request);

}  // namespace VornAgentRunnerMain
