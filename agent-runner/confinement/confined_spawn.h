// Starting a program confined by a Landlock ruleset. posix_spawn offers no
// step between fork and exec, so this is the same technique by hand: a
// child that shares our memory (CLONE_VM | CLONE_VFORK) and makes only raw
// system calls until it runs the program or exits.
#pragma once

#include <sys/types.h>

#include <string>

#include "agent-runner/confinement/isolation.h"

namespace vorn::confinement {

/// One child to start. Every pointer stays valid until spawnConfined returns.
struct SpawnPlan {
  const char* executable;                // absolute, not searched
  char* const* argv;                     // null-terminated
  char* const* envp;                     // null-terminated
  const char* directory;                 // the child's working directory; null: ours
  int stdoutFd;                          // becomes the child's standard output
  int stderrFd;                          // becomes the child's standard error
  int rulesetFd;                         // a Landlock ruleset (see landlock.h)
  const Isolation* isolation = nullptr;  // the sandbox's; none: the ruleset alone
};

/// The started child's pid, or -1 with `description` saying which step
/// failed and why (entering the directory, confining, running the program).
struct SpawnOutcome {
  pid_t pid = -1;
  std::string description;
};

/// Starts `plan`'s program in a new process group of its own, with the
/// signal mask emptied, caught signals and SIGPIPE back to their defaults,
/// and `plan.rulesetFd` applied before exec. With `plan.isolation`, the
/// child starts in the namespaces of kIsolationCloneFlags and leads a
/// session of its own, and every step of isolation.h is taken; one that
/// fails stops the start ("cannot isolate ..."). The child, when it fails
/// before exec, is reaped here.
SpawnOutcome spawnConfined(const SpawnPlan& plan);

/// Whether a child can start in a user namespace of its own and map its ids
/// there as `isolation` says: 0, or the errno of the step that failed (the
/// clone, or a map). The child does nothing else and is reaped.
int probeIsolation(const Isolation& isolation);

}  // namespace vorn::confinement
