// Runs in a child that shares the runner's memory (confined_spawn.cpp):
// raw system calls only, nothing the sanitizers watch, no allocation.
#include "agent-runner/confinement/isolation.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/seccomp.h>
#include <linux/securebits.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "agent-runner/confinement/landlock.h"

#ifndef SYS_close_range
#define SYS_close_range 436
#endif
#ifndef SYS_open_tree
#define SYS_open_tree 428
#define SYS_move_mount 429
#endif
#ifndef SYS_mount_setattr
#define SYS_mount_setattr 442
#endif

namespace vorn::confinement {
namespace {

constexpr unsigned kCloseRangeCloexec = 1U << 2;  // CLOSE_RANGE_CLOEXEC
constexpr int kHighestCapability = 63;

#define VORN_CHILD_SIDE __attribute__((no_sanitize("address", "undefined")))

VORN_CHILD_SIDE unsigned long lengthOf(const char* text) {
  unsigned long n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

VORN_CHILD_SIDE int writeProcFile(const char* path, const char* text) {
  long fd = ::syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  unsigned long length = lengthOf(text);
  long written = ::syscall(SYS_write, fd, text, length);
  int err = written == static_cast<long>(length) ? 0 : (written < 0 ? errno : EIO);
  ::syscall(SYS_close, fd);
  return err;
}

// The kernel's struct mount_attr (first version).
struct MountAttributes {
  std::uint64_t set;
  std::uint64_t clear;
  std::uint64_t propagation;
  std::uint64_t userNamespace;
};

VORN_CHILD_SIDE void closeAll(const long* fds, int count) {
  for (int i = 0; i < count; ++i) ::syscall(SYS_close, fds[i]);
}

// Copies of the writable places are taken first (recursively: a place may
// hold mounts of its own, which a copy without them would uncover), the
// whole tree is then made read-only, and the copies, untouched by that, are
// put back where they were.
VORN_CHILD_SIDE int readOnlyView(const Isolation& isolation) {
  if (isolation.writableCount > kMaxWritable) return E2BIG;
  long copies[kMaxWritable];
  int taken = 0;
  for (; taken < isolation.writableCount; ++taken) {
    copies[taken] = ::syscall(SYS_open_tree, AT_FDCWD, isolation.writable[taken],
                              OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE);
    if (copies[taken] < 0) {
      int err = errno;
      closeAll(copies, taken);
      return err;
    }
  }
  MountAttributes readOnly{MOUNT_ATTR_RDONLY, 0, 0, 0};
  int err = 0;
  if (::syscall(SYS_mount_setattr, AT_FDCWD, "/", AT_RECURSIVE, &readOnly, sizeof readOnly) != 0) {
    err = errno;
  }
  for (int i = 0; i < taken && err == 0; ++i) {
    if (::syscall(SYS_move_mount, copies[i], "", AT_FDCWD, isolation.writable[i],
                  MOVE_MOUNT_F_EMPTY_PATH) != 0) {
      err = errno;
    }
  }
  closeAll(copies, taken);
  return err;
}

// A folder of this machine's /dev replaced, in the child's own mount
// namespace, by a fresh file system of the same kind. Where that cannot be
// done the folder stays the machine's and, having no rule, unwritable: a
// failure here costs the child the feature, never its confinement.
VORN_CHILD_SIDE void mountPrivate(const char* folder, const char* type, const char* options,
                                  unsigned long flags, int rulesetFd, std::uint64_t access) {
  if (::syscall(SYS_mount, type, folder, type, flags, options) != 0) return;
  (void)allowBeneath(rulesetFd, folder, access);
}

}  // namespace

VORN_CHILD_SIDE int mapIds(const Isolation& isolation) noexcept {
  // Without setgroups refused, a user namespace may not map groups.
  if (int err = writeProcFile("/proc/self/setgroups", "deny")) return err;
  if (int err = writeProcFile("/proc/self/uid_map", isolation.uidMap)) return err;
  return writeProcFile("/proc/self/gid_map", isolation.gidMap);
}

VORN_CHILD_SIDE int enterNamespaces(const Isolation& isolation, int rulesetFd) noexcept {
  if (int err = mapIds(isolation)) return err;
  if (int err = readOnlyView(isolation)) return err;
  // The mount namespace belongs to the new user namespace, so the kernel
  // has already turned every shared mount into a slave one: nothing
  // mounted here propagates back to the machine.
  mountPrivate("/dev/shm", "tmpfs", "mode=1777", MS_NOSUID | MS_NODEV, rulesetFd,
               isolation.mountAccess);
  mountPrivate("/dev/pts", "devpts", "newinstance,ptmxmode=0666,mode=0600", MS_NOSUID | MS_NOEXEC,
               rulesetFd, isolation.mountAccess);
  return 0;
}

VORN_CHILD_SIDE int shedPrivileges() noexcept {
  // Descriptors the runner did not mark close-on-exec (its callers' or a
  // library's) never reach the program.
  if (::syscall(SYS_close_range, 3U, ~0U, kCloseRangeCloexec) != 0) return errno;
  // Root regains every capability in its bounding set at exec unless
  // NOROOT holds; locked, no program can lift it again.
  constexpr unsigned long kLockedBits = SECBIT_NOROOT | SECBIT_NOROOT_LOCKED |
                                        SECBIT_NO_SETUID_FIXUP | SECBIT_NO_SETUID_FIXUP_LOCKED |
                                        SECBIT_KEEP_CAPS_LOCKED | SECBIT_NO_CAP_AMBIENT_RAISE |
                                        SECBIT_NO_CAP_AMBIENT_RAISE_LOCKED;
  if (::syscall(SYS_prctl, PR_SET_SECUREBITS, kLockedBits, 0L, 0L, 0L) != 0) return errno;
  for (int cap = 0; cap <= kHighestCapability; ++cap) {
    if (::syscall(SYS_prctl, PR_CAPBSET_DROP, cap, 0L, 0L, 0L) != 0 && errno != EINVAL) {
      return errno;
    }
  }
  if (::syscall(SYS_prctl, PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0L, 0L, 0L) != 0) {
    return errno;
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[2] = {};
  if (::syscall(SYS_capset, &header, none) != 0) return errno;
  return 0;
}

VORN_CHILD_SIDE int installSeccomp(const Isolation& isolation) noexcept {
  if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0U, isolation.seccomp) != 0) return errno;
  return 0;
}

}  // namespace vorn::confinement
