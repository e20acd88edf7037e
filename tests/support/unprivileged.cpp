#include "tests/support/unprivileged.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace vorn::testing {
namespace {

constexpr uid_t kNobody = 65534;

void handOver(const std::string& folder) {
  namespace fs = std::filesystem;
  if (::geteuid() != 0) return;
  (void)::lchown(folder.c_str(), kNobody, kNobody);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    (void)::lchown(entry.path().c_str(), kNobody, kNobody);
  }
}

void dropPrivileges() {
  if (::geteuid() != 0) return;
  gid_t group = kNobody;
  if (::setgroups(1, &group) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
      ::setresuid(kNobody, kNobody, kNobody) != 0) {
    ADD_FAILURE() << "cannot drop to nobody";
    ::_exit(1);
  }
}

void privateGitConfiguration(const std::string& folder) {
  std::string home = folder + "/home";
  std::filesystem::create_directories(home);
  std::ofstream(home + "/gitconfig") << "[user]\n\tname = Vorn Test\n\temail = test@vorn.invalid\n"
                                        "[init]\n\tdefaultBranch = main\n";
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("GIT_CONFIG_GLOBAL", (home + "/gitconfig").c_str(), 1);
  ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
  ::setenv("LC_ALL", "C", 1);
}

// The same steps as a sandboxed child's read-only view, taken here by the
// test's own hand so that a fault there cannot hide behind itself: a copy
// of `folder`, everything made read-only, the copy put back.
void privateReadOnlyMounts(const std::string& folder) {
  struct MountAttributes {
    std::uint64_t set, clear, propagation, userNamespace;
  } readOnly{MOUNT_ATTR_RDONLY, 0, 0, 0};
  int copy = -1;
  bool done =
      ::unshare(CLONE_NEWNS) == 0 &&
      ::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0 &&
      (copy = static_cast<int>(::syscall(SYS_open_tree, AT_FDCWD, folder.c_str(),
                                         OPEN_TREE_CLONE | AT_RECURSIVE))) >= 0 &&
      ::syscall(SYS_mount_setattr, AT_FDCWD, "/", AT_RECURSIVE, &readOnly, sizeof readOnly) == 0 &&
      ::syscall(SYS_move_mount, copy, "", AT_FDCWD, folder.c_str(), MOVE_MOUNT_F_EMPTY_PATH) == 0;
  if (!done) {
    ADD_FAILURE() << "cannot set up private read-only mounts: " << std::strerror(errno);
    ::_exit(1);
  }
  ::close(copy);
}

// Runs `body` in a child prepared by `prepare`; the parent waits for it.
bool inChild(const std::string& folder, const std::function<void()>& prepare,
             const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return false;
  }
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    prepare();
    privateGitConfiguration(folder);
    body();
    std::fflush(stdout);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  EXPECT_TRUE(passed) << "the child's part failed (see its output above)";
  return passed;
}

}  // namespace

bool asUnprivileged(const std::string& folder, const std::function<void()>& body) {
  handOver(folder);
  return inChild(folder, dropPrivileges, body);
}

bool asRootInPrivateMounts(const std::string& folder, const std::function<void()>& body) {
  if (::geteuid() != 0) {
    ADD_FAILURE() << "asRootInPrivateMounts needs root";
    return false;
  }
  return inChild(
      folder, [&] { privateReadOnlyMounts(folder); }, body);
}

bool asCaller(Caller caller, const std::string& folder, const std::function<void()>& body) {
  return caller == Caller::kUnprivileged ? asUnprivileged(folder, body)
                                         : asRootInPrivateMounts(folder, body);
}

}  // namespace vorn::testing
