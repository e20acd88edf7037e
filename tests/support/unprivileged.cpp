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
#include <utility>

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
  // The change of user made the process undumpable, which leaves its /proc
  // files root's: a sandbox started from here could not map its ids.
  ::prctl(PR_SET_DUMPABLE, 1);
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

struct MountAttributes {
  std::uint64_t set, clear, propagation, userNamespace;
};

// A detached copy of the mount at `path` (with those beneath it when
// `recursive`), or -1.
int copyOf(const char* path, bool recursive) {
  return static_cast<int>(
      ::syscall(SYS_open_tree, AT_FDCWD, path, OPEN_TREE_CLONE | (recursive ? AT_RECURSIVE : 0)));
}

bool putBack(int copy, const char* path) {
  bool done = copy >= 0 &&
              ::syscall(SYS_move_mount, copy, "", AT_FDCWD, path, MOVE_MOUNT_F_EMPTY_PATH) == 0;
  if (copy >= 0) ::close(copy);
  return done;
}

// Where `path` exists, it is covered by a read-only copy of itself.
bool readOnlyCopy(const char* path) {
  if (::access(path, F_OK) != 0) return errno == ENOENT;
  MountAttributes readOnly{MOUNT_ATTR_RDONLY, 0, 0, 0};
  int copy = copyOf(path, false);
  return copy >= 0 &&
         ::syscall(SYS_mount_setattr, copy, "", AT_EMPTY_PATH, &readOnly, sizeof readOnly) == 0 &&
         putBack(copy, path);
}

// The same steps as a sandboxed child's read-only view, taken here by the
// test's own hand so that a fault there cannot hide behind itself: copies
// of `folder` and /proc, everything made read-only, the copies put back.
// /proc stays writable (a sandbox maps its ids there) but for the
// machine-wide settings beneath /proc/sys and /proc/sysrq-trigger.
void privateReadOnlyMounts(const std::string& folder) {
  MountAttributes readOnly{MOUNT_ATTR_RDONLY, 0, 0, 0};
  int copy = -1, proc = -1;
  bool done =
      ::unshare(CLONE_NEWNS) == 0 &&
      ::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0 &&
      (copy = copyOf(folder.c_str(), true)) >= 0 && (proc = copyOf("/proc", false)) >= 0 &&
      ::syscall(SYS_mount_setattr, AT_FDCWD, "/", AT_RECURSIVE, &readOnly, sizeof readOnly) == 0 &&
      putBack(std::exchange(copy, -1), folder.c_str()) &&
      putBack(std::exchange(proc, -1), "/proc") && readOnlyCopy("/proc/sys") &&
      readOnlyCopy("/proc/sysrq-trigger");
  if (!done) {
    ADD_FAILURE() << "cannot set up private read-only mounts: " << std::strerror(errno);
    ::_exit(1);
  }
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
