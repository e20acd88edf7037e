// Deliveries, worktree creation and worktree removal change what every
// checkout of a repository shares: the primary checkout's index and branch,
// the list of worktrees, the exclude file. One exclusive lock per repository
// makes them take turns, across every runner process and the service.
#pragma once

#include <string>
#include <variant>

#include "agent-runner/protocol/runner_response.h"
#include "common/unique_fd.h"

namespace VornAgentRunnerMain {

class RepositoryLock {
 public:
  /// The lock file, in the repository's common git directory.
  static constexpr const char* kFileName = "vorn-worktrees.lock";

  /// Waits for and takes the exclusive lock of the repository whose common
  /// git directory is `commonDir`: a flock on its lock file, held until the
  /// RepositoryLock goes and released by the kernel if the process ends
  /// first. Children never inherit it. On failure, the answer
  /// "repository_lock_failed: <description>".
  static std::variant<RepositoryLock, vorn::RunnerResponse> acquire(const std::string& commonDir);

 private:
  explicit RepositoryLock(vorn::UniqueFd fd) : fd_(std::move(fd)) {}
  vorn::UniqueFd fd_;
};

}  // namespace VornAgentRunnerMain
