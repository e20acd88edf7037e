// Every git action of the runner is a run of the git program through here.
#pragma once

#include <string>
#include <vector>

#include "agent-runner/process/process_runner.h"
#include "agent-runner/sandbox/sandboxed_run.h"

namespace VornAgentRunnerMain {

/// One run of git: the process's run, unless git was never started because
/// an argument held a NUL byte (it would reach git cut short).
struct GitRun {
  ProcessRun process;
  bool refused = false;

  /// Git ran and exited with status 0.
  bool ok() const { return !refused && succeeded(process); }
  /// Git was started (whatever became of it): its output is there to read.
  bool ran() const { return !refused && started(process); }
  const std::string& out() const { return process.stdoutText; }
  const std::string& err() const { return process.stderrText; }
};

/// Runs git with exactly `args` in `directory` under `timeout` seconds. The program is /usr/bin/git
/// when the runner may execute it, else `/usr/bin/env git`. The environment is the runner's without
/// the variables that would point git at another repository, and with GIT_TERMINAL_PROMPT=0 so a
/// credential prompt fails at once, plus `extraEnvironment` ("NAME=value" entries, which win). Runs
/// that take paths take them literally (GIT_LITERAL_PATHSPECS). The child is held to its Landlock
/// ruleset (git_confinement.h) where the kernel offers one; a ruleset that cannot be made is a run
/// that failed to start ("cannot confine git: ..."). An argument holding a NUL byte is never
/// passed: the run is `refused`, and the operation answers its own fixed failure text. While the
/// sandbox is on, git runs in it (sandbox/sandboxed_run.h) under `policy`, with the same ruleset
/// less the writes outside that push and fetch get otherwise (local remotes, ~/.ssh/known_hosts,
/// git's cache).
GitRun runGit(const std::vector<std::string>& args, const std::string& directory, double timeout,
              const std::vector<std::string>& extraEnvironment = {},
              const vorn::sandbox::Policy& policy = {});

/// Whether `path` is, or lies inside, a git working tree: true at once when
/// `path`/.git exists, else a `rev-parse --show-toplevel` probe of 5 seconds.
/// Every failure is false.
bool isGitRepo(const std::string& path);

/// Whether `path` is the top of a working tree of its own: it holds a ".git"
/// folder or file. A plain folder inside a checkout is not.
bool isWorkingTreeTop(const std::string& path);

/// The environment git runs with (see runGit), built from `environment`
/// ("NAME=value" entries, null-terminated) and `extra`.
std::vector<std::string> gitEnvironment(char* const* environment,
                                        const std::vector<std::string>& extra = {});

}  // namespace VornAgentRunnerMain
