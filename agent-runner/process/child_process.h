// One child process from spawn to reaping, with its two output pipes drained
// into bounded captures while it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "common/unique_fd.h"
#include "common/utf8_prefix_capture.h"

namespace vorn {

using Clock = std::chrono::steady_clock;

/// How a child's run ended, as far as the runner knows.
struct Exited {
  int status;
};
struct Signaled {
  int signal;
};
struct StillRunning {};
struct FailedToStart {
  std::string description;
};
using ChildOutcome = std::variant<Exited, Signaled, StillRunning, FailedToStart>;

/// Limits of what is kept of each stream.
struct CaptureLimits {
  std::size_t stdoutClusters = 16000;
  std::size_t stderrClusters = 8000;
  // Bytes bound the memory a single enormous grapheme cluster could take.
  std::size_t stdoutBytes = std::size_t{1} << 20;
  std::size_t stderrBytes = std::size_t{1} << 19;
};

/// What a child is held to from before its program starts.
struct Confinement {
  int landlockRuleset = -1;  // applied between fork and exec (confinement/landlock.h)
};

class ChildProcess {
 public:
  /// Starts `executable` (an absolute path, not searched) with `arguments`
  /// in `directory` ("" = ours), stdout and stderr to pipes, stdin and the
  /// environment inherited (or `environment`, "NAME=value" entries, when
  /// given), signal dispositions and mask reset; under `confinement` when
  /// given. A text holding a NUL byte is never handed over (it would be cut
  /// short there): that child fails to start. On failure the result holds
  /// the system's description.
  static std::variant<std::unique_ptr<ChildProcess>, FailedToStart> spawn(
      const std::string& executable, const std::vector<std::string>& arguments,
      const std::string& directory, const std::vector<std::string>* environment = nullptr,
      CaptureLimits limits = {}, const Confinement* confinement = nullptr);

  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// Drains both pipes until the child ends or `deadline` passes; true when
  /// it has ended. The ended child is reaped only by `outcome()` (or the
  /// destructor), so its process group stays safe to signal until then.
  bool waitUntil(Clock::time_point deadline);

  /// Sends `signal` to the child's process group: the child (which leads a
  /// group of its own) and every process it started that stayed in it. Does
  /// nothing once the child is reaped, when the group id could be reused.
  void signalGroup(int signal);

  /// After the child is reaped: reads what is left in the pipes until end of
  /// file or `bound`, so a descendant holding them cannot delay the answer.
  void drainRemaining(Clock::duration bound);

  /// The outcome and the cut, validated output. Call once, at the end; an
  /// ended child is reaped here.
  ChildOutcome outcome();
  std::string takeStdout();
  std::string takeStderr();

 private:
  ChildProcess(pid_t pid, UniqueFd pidFd, UniqueFd out, UniqueFd err, CaptureLimits limits);
  bool hasEnded();
  void reap();
  std::size_t pump(int timeoutMs);
  std::size_t readFrom(UniqueFd& fd, text::Utf8PrefixCapture& capture);

  pid_t pid_;
  UniqueFd pidFd_;
  UniqueFd out_;
  UniqueFd err_;
  text::Utf8PrefixCapture stdout_;
  text::Utf8PrefixCapture stderr_;
  std::unique_ptr<char[]> buffer_;  // uninitialised: only pages read into are touched
  bool ended_ = false;              // a zombie now: its pid, and so its group id, stay reserved
  bool reaped_ = false;
  int waitStatus_ = 0;
};

}  // namespace vorn
