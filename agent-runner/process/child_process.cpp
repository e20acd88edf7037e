// The child's end is learnt from a pidfd in the same poll that drains its
// pipes, so a short command is answered as soon as it ends and a chatty one
// is never blocked on a full pipe. Without pidfd (old kernels) the poll wakes
// every 20 ms to check.
//
// Each child leads a process group of its own, so that an overrun can be
// stopped whole: whatever the child started (a background job, a git hook)
// is signalled with it. The ended child is left a zombie until its outcome
// is read: as long as it is, no new process can take its id as a group id.
#include "agent-runner/process/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "agent-runner/confinement/confined_spawn.h"

extern char** environ;

namespace vorn {
namespace {

constexpr int kFallbackPollMs = 20;
// Measured on 1 GiB of output: 128 KiB pipes and reads keep both cores busy;
// larger ones fall out of cache and halve the throughput.
constexpr std::size_t kReadChunk = std::size_t{1} << 17;
constexpr int kPipeSize = 1 << 17;

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

std::optional<Pipe> makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  // A larger pipe means fewer wake-ups for chatty children; failure is fine.
  (void)::fcntl(fds[1], F_SETPIPE_SZ, kPipeSize);
  return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

UniqueFd openPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
  (void)pid;
  return UniqueFd();
#endif
}

// posix_spawn reports a failed chdir and a failed exec with the same errno;
// the description says which one it was.
std::string describeSpawnError(int err, const std::string& executable,
                               const std::string& directory) {
  struct stat st;
  if (!directory.empty() && (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
    return "cannot enter directory '" + directory + "': " + std::strerror(err);
  }
  return "cannot run '" + executable + "': " + std::strerror(err);
}

// A null-terminated array of C strings, optionally led by `first`.
std::vector<char*> pointersTo(const std::vector<std::string>& items, const char* first) {
  std::vector<char*> pointers;
  pointers.reserve(items.size() + 2);
  if (first) pointers.push_back(const_cast<char*>(first));
  for (const auto& item : items) pointers.push_back(const_cast<char*>(item.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // The runner ignores SIGPIPE for itself; its children get the default
  // back, and an empty signal mask. Other dispositions are inherited as the
  // runner received them. The child leads a new process group (pgroup 0).
  void prepare(int out, int err, const std::string& directory) {
    posix_spawn_file_actions_adddup2(&actions_, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, err, STDERR_FILENO);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions_, directory.c_str());
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setpgroup(&attributes_, 0);
    posix_spawnattr_setflags(
        &attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  }

  int spawn(pid_t& pid, const std::string& executable, const std::vector<std::string>& arguments,
            const std::vector<std::string>* environment) {
    std::vector<char*> argv = pointersTo(arguments, executable.c_str());
    std::vector<char*> envp;
    if (environment) envp = pointersTo(*environment, nullptr);
    return posix_spawn(&pid, executable.c_str(), &actions_, &attributes_, argv.data(),
                       environment ? envp.data() : environ);
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

bool holdsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool anyHoldsNul(const std::vector<std::string>* texts) {
  return texts && std::any_of(texts->begin(), texts->end(),
                              [](const std::string& t) { return holdsNul(t); });
}

// The confined start: the same child as posix_spawn's, with the ruleset
// applied between fork and exec.
std::variant<pid_t, FailedToStart> spawnConfined(const std::string& executable,
                                                 const std::vector<std::string>& arguments,
                                                 const std::string& directory,
                                                 const std::vector<std::string>* environment,
                                                 int out, int err, const Confinement& confinement) {
  std::vector<char*> argv = pointersTo(arguments, executable.c_str());
  std::vector<char*> envp;
  if (environment) envp = pointersTo(*environment, nullptr);
  auto started = confinement::spawnConfined(
      {executable.c_str(), argv.data(), environment ? envp.data() : environ,
       directory.empty() ? nullptr : directory.c_str(), out, err, confinement.landlockRuleset});
  if (started.pid < 0) return FailedToStart{std::move(started.description)};
  return started.pid;
}

int millisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 60000 ? 60000 : static_cast<int>(left);
}

}  // namespace

std::variant<std::unique_ptr<ChildProcess>, FailedToStart> ChildProcess::spawn(
    const std::string& executable, const std::vector<std::string>& arguments,
    const std::string& directory, const std::vector<std::string>* environment, CaptureLimits limits,
    const Confinement* confinement) {
  if (holdsNul(executable) || holdsNul(directory) || anyHoldsNul(&arguments) ||
      anyHoldsNul(environment)) {
    return FailedToStart{"cannot run '" + executable + "': an argument holds a NUL byte"};
  }
  auto out = makePipe();
  auto err = makePipe();
  if (!out || !err) return FailedToStart{std::strerror(errno)};
  pid_t pid = -1;
  if (confinement) {
    auto started = spawnConfined(executable, arguments, directory, environment, out->write.get(),
                                 err->write.get(), *confinement);
    if (auto* failed = std::get_if<FailedToStart>(&started)) return std::move(*failed);
    pid = std::get<pid_t>(started);
  } else {
    SpawnSetup setup;
    setup.prepare(out->write.get(), err->write.get(), directory);
    if (int rc = setup.spawn(pid, executable, arguments, environment); rc != 0) {
      return FailedToStart{describeSpawnError(rc, executable, directory)};
    }
  }
  UniqueFd pidFd = openPidFd(pid);
  return std::unique_ptr<ChildProcess>(
      new ChildProcess(pid, std::move(pidFd), std::move(out->read), std::move(err->read), limits));
}

ChildProcess::ChildProcess(pid_t pid, UniqueFd pidFd, UniqueFd out, UniqueFd err,
                           CaptureLimits limits)
    : pid_(pid),
      pidFd_(std::move(pidFd)),
      out_(std::move(out)),
      err_(std::move(err)),
      stdout_(limits.stdoutClusters, limits.stdoutBytes),
      stderr_(limits.stderrClusters, limits.stderrBytes),
      buffer_(new char[kReadChunk]) {
  for (int fd : {out_.get(), err_.get()}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Every child is waited for. One that outlived SIGKILL and its grace period
// (stuck in the kernel) is left to a detached thread that reaps it later.
ChildProcess::~ChildProcess() {
  if (!hasEnded()) ::kill(pid_, SIGKILL);
  if (hasEnded()) {
    reap();
    return;
  }
  std::thread([pid = pid_] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// Looks without reaping (WNOWAIT): the zombie keeps the group id reserved.
bool ChildProcess::hasEnded() {
  if (ended_) return true;
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
      info.si_pid == pid_) {
    ended_ = true;
    pidFd_.reset();
  }
  return ended_;
}

void ChildProcess::reap() {
  if (reaped_ || !ended_) return;
  while (::waitpid(pid_, &waitStatus_, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
}

void ChildProcess::signalGroup(int sig) {
  if (!reaped_) ::kill(-pid_, sig);
}

std::size_t ChildProcess::readFrom(UniqueFd& fd, text::Utf8PrefixCapture& capture) {
  std::size_t total = 0;
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer_.get(), kReadChunk);
    if (n > 0) {
      capture.append(std::string_view(buffer_.get(), static_cast<std::size_t>(n)));
      total += static_cast<std::size_t>(n);
      if (static_cast<std::size_t>(n) < kReadChunk) return total;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return total;
    fd.reset();  // end of file or a read error: nothing more will come
    return total;
  }
}

std::size_t ChildProcess::pump(int timeoutMs) {
  pollfd fds[3];
  nfds_t count = 0;
  int outIndex = -1, errIndex = -1;
  if (out_.valid()) fds[outIndex = static_cast<int>(count++)] = {out_.get(), POLLIN, 0};
  if (err_.valid()) fds[errIndex = static_cast<int>(count++)] = {err_.get(), POLLIN, 0};
  if (!ended_ && pidFd_.valid()) fds[count++] = {pidFd_.get(), POLLIN, 0};
  if (!ended_ && !pidFd_.valid() && timeoutMs > kFallbackPollMs) timeoutMs = kFallbackPollMs;
  if (::poll(fds, count, timeoutMs) <= 0) return 0;
  std::size_t total = 0;
  if (outIndex >= 0 && fds[outIndex].revents) total += readFrom(out_, stdout_);
  if (errIndex >= 0 && fds[errIndex].revents) total += readFrom(err_, stderr_);
  return total;
}

bool ChildProcess::waitUntil(Clock::time_point deadline) {
  while (!hasEnded()) {
    int timeoutMs = millisecondsUntil(deadline);
    if (timeoutMs == 0) return false;
    pump(timeoutMs);
  }
  return true;
}

void ChildProcess::drainRemaining(Clock::duration bound) {
  auto deadline = Clock::now() + bound;
  while (out_.valid() || err_.valid()) {
    int timeoutMs = millisecondsUntil(deadline);
    if (timeoutMs == 0) break;
    pump(timeoutMs);
  }
  out_.reset();
  err_.reset();
}

ChildOutcome ChildProcess::outcome() {
  reap();
  if (!reaped_) return StillRunning{};
  if (WIFSIGNALED(waitStatus_)) return Signaled{WTERMSIG(waitStatus_)};
  return Exited{WEXITSTATUS(waitStatus_)};
}

std::string ChildProcess::takeStdout() { return stdout_.finish(); }
std::string ChildProcess::takeStderr() { return stderr_.finish(); }

}  // namespace vorn
