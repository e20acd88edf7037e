// Every git action of the runner is a run of the git program through here.
#pragma once

#include <string>
#include <vector>

#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Runs git with exactly `args` in `directory` under `timeout` seconds and
/// returns runProcess's answer unchanged. The program is /usr/bin/git when the
/// runner may execute it, else `/usr/bin/env git`. The environment is the
/// runner's without the variables that would point git at another repository,
/// and with GIT_TERMINAL_PROMPT=0 so a credential prompt fails at once, plus
/// `extraEnvironment` ("NAME=value" entries, which win). Runs that take paths
/// take them literally (GIT_LITERAL_PATHSPECS). The child is held to its
/// Landlock ruleset (git_confinement.h) where the kernel offers one. An
/// argument holding a NUL byte is never passed: the answer is then a failure
/// with no text at all, so the operation answers its own fixed failure text.
vorn::RunnerResponse runGit(const std::vector<std::string>& args, const std::string& directory,
                            double timeout, const std::vector<std::string>& extraEnvironment = {});

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
