// The child runs on a stack of its own inside our address space while we
// wait (CLONE_VFORK), so it must not allocate, take locks or touch what the
// sanitizers watch: raw system calls only, errors left in shared memory.
// Signals stay blocked in the parent across the clone, and the child puts
// every caught signal back to its default before unblocking, so no handler
// of ours ever runs on the child's side.
#include "agent-runner/confinement/confined_spawn.h"

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "agent-runner/confinement/landlock.h"

namespace vorn::confinement {
namespace {

constexpr std::size_t kStackSize = std::size_t{64} << 10;
constexpr int kKernelSignals = 64;

enum class Step { kNone, kDirectory, kConfine, kExec, kSetup };

struct ChildState {
  const SpawnPlan* plan;
  int error;
  Step step;
};

// The kernel's own layout of struct sigaction (x86-64 and arm64 alike).
struct KernelSigaction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  std::uint64_t mask;
};

__attribute__((no_sanitize("address", "undefined"))) void defaultSignals() {
  for (int sig = 1; sig <= kKernelSignals; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    KernelSigaction old{};
    if (::syscall(SYS_rt_sigaction, sig, nullptr, &old, sizeof old.mask) != 0) continue;
    bool caught = old.handler != SIG_DFL && old.handler != SIG_IGN;
    if (!caught && sig != SIGPIPE) continue;
    KernelSigaction fresh{};
    fresh.handler = SIG_DFL;
    (void)::syscall(SYS_rt_sigaction, sig, &fresh, nullptr, sizeof fresh.mask);
  }
  std::uint64_t none = 0;
  (void)::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);
}

__attribute__((no_sanitize("address", "undefined"))) int fail(ChildState* state, Step step) {
  state->error = errno;
  state->step = step;
  ::syscall(SYS_exit_group, 127);
  return 127;
}

__attribute__((no_sanitize("address", "undefined"))) int childMain(void* argument) {
  auto* state = static_cast<ChildState*>(argument);
  const SpawnPlan& plan = *state->plan;
  defaultSignals();
  if (::syscall(SYS_dup3, plan.stdoutFd, STDOUT_FILENO, 0) < 0) return fail(state, Step::kSetup);
  if (::syscall(SYS_dup3, plan.stderrFd, STDERR_FILENO, 0) < 0) return fail(state, Step::kSetup);
  if (plan.directory && ::syscall(SYS_chdir, plan.directory) != 0) {
    return fail(state, Step::kDirectory);
  }
  // A group of its own, as for every child: a stop reaches what it started.
  (void)::syscall(SYS_setpgid, 0, 0);
  if (int err = restrictSelf(plan.rulesetFd); err != 0) {
    errno = err;
    return fail(state, Step::kConfine);
  }
  ::syscall(SYS_execve, plan.executable, plan.argv, plan.envp);
  return fail(state, Step::kExec);
}

std::string describe(const SpawnPlan& plan, Step step, int err) {
  std::string why = std::strerror(err);
  switch (step) {
    case Step::kDirectory:
      return "cannot enter directory '" + std::string(plan.directory) + "': " + why;
    case Step::kConfine:
      return "cannot confine '" + std::string(plan.executable) + "': " + why;
    default:
      return "cannot run '" + std::string(plan.executable) + "': " + why;
  }
}

class ChildStack {
 public:
  ChildStack()
      : base_(::mmap(nullptr, kStackSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0)) {}
  ~ChildStack() {
    if (valid()) ::munmap(base_, kStackSize);
  }
  ChildStack(const ChildStack&) = delete;
  ChildStack& operator=(const ChildStack&) = delete;
  bool valid() const { return base_ != MAP_FAILED; }
  void* top() const { return static_cast<char*>(base_) + kStackSize; }

 private:
  void* base_;
};

}  // namespace

SpawnOutcome spawnConfined(const SpawnPlan& plan) {
  ChildStack stack;
  if (!stack.valid()) return {-1, describe(plan, Step::kSetup, errno)};
  ChildState state{&plan, 0, Step::kNone};
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t pid = ::clone(childMain, stack.top(), CLONE_VM | CLONE_VFORK | SIGCHLD, &state);
  int cloneError = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid < 0) return {-1, describe(plan, Step::kSetup, cloneError)};
  if (state.step == Step::kNone) return {pid, {}};
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return {-1, describe(plan, state.step, state.error)};
}

}  // namespace vorn::confinement
