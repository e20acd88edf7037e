// What a sandboxed child is held to besides its Landlock ruleset: a session
// of its own, new user, mount and IPC namespaces, no capabilities, no
// inherited descriptors, a seccomp filter. Prepared in the runner, applied
// by the child between fork and exec with raw system calls only.
#pragma once

#include <linux/filter.h>
#include <sched.h>

#include <cstdint>

namespace vorn::confinement {

/// The namespaces a sandboxed child starts in: its own user namespace (so
/// it may mount, and holds no capability over this machine), its own mount
/// namespace (a private /dev/shm and /dev/pts) and its own IPC namespace
/// (System V objects and message queues of its own).
inline constexpr int kIsolationCloneFlags = CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWIPC;

/// How many places a sandboxed child may write in besides its own mounts.
inline constexpr int kMaxWritable = 16;

/// One sandboxed child's isolation. Every pointer stays valid until the
/// child has been started.
struct Isolation {
  int stdinFd;                  // becomes standard input (/dev/null: no terminal of the caller)
  const char* uidMap;           // "<uid> <uid> 1": the caller's own user id, and no other
  const char* gidMap;           // the same for the group
  std::uint64_t mountAccess;    // Landlock rights beneath the folders the child mounts
  const sock_fprog* seccomp;    // installed last, just before exec
  const char* const* writable;  // the places that stay writable, none beneath another
  int writableCount;            // at most kMaxWritable
};

/// Step by step inside the child; each answers 0 or an errno.

/// After a clone with kIsolationCloneFlags: maps the caller's user and
/// group ids to themselves (and refuses setgroups, as the kernel asks).
int mapIds(const Isolation& isolation) noexcept;

/// mapIds; then makes every mount read-only but `writable` (Landlock does
/// not cover changing a file's mode, owner, times or extended attributes;
/// a read-only mount refuses them all), mounts a fresh /dev/shm (tmpfs) and
/// /dev/pts (a devpts instance of its own, which /dev/ptmx then serves)
/// where they exist, and allows `mountAccess` beneath those in `rulesetFd`.
int enterNamespaces(const Isolation& isolation, int rulesetFd) noexcept;

/// Marks every descriptor from 3 up close-on-exec, empties every
/// capability set (bounding and ambient included) and locks the secure
/// bits, so that no program it runs, set-user-id root or not, regains any.
int shedPrivileges() noexcept;

/// Installs `isolation.seccomp`. Needs no-new-privileges (restrictSelf).
int installSeccomp(const Isolation& isolation) noexcept;

}  // namespace vorn::confinement
