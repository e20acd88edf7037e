// Starting a program confined by a Landlock ruleset. posix_spawn offers no
// step between fork and exec, so this is the same technique by hand: a
// child that shares our memory (CLONE_VM | CLONE_VFORK) and makes only raw
// system calls until it runs the program or exits.
#pragma once

#include <sys/types.h>

#include <string>

namespace vorn::confinement {

/// One child to start. Every pointer stays valid until spawnConfined returns.
struct SpawnPlan {
  const char* executable;  // absolute, not searched
  char* const* argv;       // null-terminated
  char* const* envp;       // null-terminated
  const char* directory;   // the child's working directory; null: ours
  int stdoutFd;            // becomes the child's standard output
  int stderrFd;            // becomes the child's standard error
  int rulesetFd;           // a Landlock ruleset (see landlock.h)
};

/// The started child's pid, or -1 with `description` saying which step
/// failed and why (entering the directory, confining, running the program).
struct SpawnOutcome {
  pid_t pid = -1;
  std::string description;
};

/// Starts `plan`'s program in a new process group of its own, with the
/// signal mask emptied, caught signals and SIGPIPE back to their defaults,
/// and `plan.rulesetFd` applied before exec. The child, when it fails before
/// exec, is reaped here.
SpawnOutcome spawnConfined(const SpawnPlan& plan);

}  // namespace vorn::confinement
