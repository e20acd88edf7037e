// git_stage, git_unstage and git_commit: what goes into the next commit, and
// recording it.
#pragma once

#include <string>
#include <vector>

#include "agent-runner/git/git_rules.h"

namespace VornAgentRunnerMain {

/// Paths of the repository to act on, as the request names them.
struct PathsRequest {
  RepositoryRequest repository;
  std::vector<std::string> paths;  // at least one
};

struct CommitRequest {
  RepositoryRequest repository;
  std::string message;  // not blank
};

/// Stages the paths (`add`), each authorised ("path_outside_workspace") and
/// passed relative to the workspace root.
GitReport gitStage(const PathsRequest& request);

/// Unstages the paths likewise; in a repository without commits through
/// `rm --cached -f`, which keeps the files.
GitReport gitUnstage(const PathsRequest& request);

/// Commits exactly what the index holds with the trimmed message.
GitReport gitCommit(const CommitRequest& request);

}  // namespace VornAgentRunnerMain
