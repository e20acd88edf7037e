// A flock belongs to the open file description, so two requests of one
// service process exclude each other as two processes do. The wait has no
// bound of its own: every holder's git runs have theirs, and the kernel lets
// go of a holder that dies.
#include "agent-runner/worktree/repository_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "common/status.h"

namespace VornAgentRunnerMain {

std::variant<RepositoryLock, vorn::RunnerResponse> RepositoryLock::acquire(
    const std::string& commonDir) {
  std::string path = commonDir + "/" + kFileName;
  vorn::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd.valid()) {
    return vorn::failure("repository_lock_failed: " + vorn::Status::fromErrno(path).description());
  }
  int rc;
  while ((rc = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    return vorn::failure("repository_lock_failed: " + vorn::Status::fromErrno(path).description());
  }
  return RepositoryLock(std::move(fd));
}

}  // namespace VornAgentRunnerMain
