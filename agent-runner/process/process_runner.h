// The runner's only way to start a program: runProcess and its wait. A run
// is answered as its outcome; the wire answer is built from it elsewhere.
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "agent-runner/process/child_process.h"

namespace VornAgentRunnerMain {

/// How a run ended and what it printed.
struct ProcessRun {
  /// Exited, ended by a signal, still running after it was stopped at its
  /// limit, or never started.
  vorn::ChildOutcome outcome;
  /// Standard output cut to 16000 and standard error to 8000 grapheme
  /// clusters; "" when not valid UTF-8 or when the child never started.
  std::string stdoutText;
  std::string stderrText;
  /// The child was still running at its limit, or when its caller asked it
  /// to stop, and was stopped: its outcome is then most often the
  /// terminating signal.
  bool overran = false;
};

/// Whether the child exited with status 0.
bool succeeded(const ProcessRun& run);

/// Whether the child started at all.
bool started(const ProcessRun& run);

/// The child's exit status, or the number of the signal that ended it;
/// nothing when it overran or never started.
std::optional<int> endStatus(const ProcessRun& run);

/// The run's end in words: "" for exit status 0, "exit_<n>" (a signal's
/// number for a child ended by one, also by the stop at its limit),
/// "timeout" (a child that outlived even its kill), or
/// "spawn_failed: <description>" (or the failure's own kind, such as
/// "sandbox_unavailable: <what is missing>").
std::string outcomeText(const ProcessRun& run);

/// How a wait for a child ended.
struct Wait {
  bool overran;  // the limit passed (or a stop came) and the child's group was signalled
  bool ended;    // the child has ended and can be reaped
};

/// Waits up to max(`timeout`, 0.1) s for `child` (less when `stop` is
/// requested meanwhile), then SIGTERM and up to 1.5 s, then SIGKILL and up to
/// 1.0 s, draining its pipes all along.
Wait waitForExit(vorn::ChildProcess& child, double timeout, const std::stop_token& stop = {});

/// Runs `executable` (absolute, not searched) with `arguments` in
/// `directory` ("" = the runner's own) under `timeout` seconds, once one of
/// the process's 64 child slots is free (the limit starts then). Under a
/// RunControl (run_control.h) whose stop is requested the run ends early as an
/// overrun, and one asked to start after that fails to start ("cancelled").
ProcessRun runProcess(const std::string& executable, const std::vector<std::string>& arguments,
                      const std::string& directory, double timeout);

/// runProcess with `environment` ("NAME=value" entries) in place of the
/// runner's own, and the child held to `confinement` when given.
ProcessRun runProcessWithEnvironment(const std::vector<std::string>& environment,
                                     const std::string& executable,
                                     const std::vector<std::string>& arguments,
                                     const std::string& directory, double timeout,
                                     const vorn::Confinement* confinement = nullptr);

}  // namespace VornAgentRunnerMain
