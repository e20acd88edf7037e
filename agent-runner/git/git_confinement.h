// What a git run of the runner may touch: writes only beneath its working
// directory (inside the workspace) and the repository's git directories;
// for the runs that read the working tree, reads only there and in what git
// itself needs. A link swapped in meanwhile, a `core.worktree` or an
// `fsmonitor` command from the repository's configuration, a hook: all run
// under the same ruleset, so none of them reaches further.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "agent-runner/confinement/landlock.h"
#include "common/status.h"
#include "common/unique_fd.h"

namespace VornAgentRunnerMain {

/// How far one git subcommand reaches.
struct GitReach {
  vorn::confinement::Scope scope;  // whether its reads are confined too
  bool remotes;                    // talks to remotes (push, fetch)
  bool literalPaths;               // takes request paths: given as literal pathspecs
};

/// The reach of a git run with `args` (by its subcommand, args[0]). Commit,
/// merge and worktree runs (hooks, signing) and push and fetch (remotes,
/// credentials) keep their reads; every other run reads the working tree
/// and is confined in reading too, and takes its paths literally.
GitReach reachOf(const std::vector<std::string>& args);

/// The paths of the local repositories among the remotes a git run in
/// `directory` may push to or fetch from (those whose URL is a path or a
/// file:// URL), as `git remote -v` reports them after URL rewriting.
std::vector<std::string> localRemotePaths(const std::string& directory,
                                          const std::string& remoteListing);

/// The Landlock ruleset for running git with `reach` in `directory`, with
/// `environment` ("NAME=value" entries); git itself is /usr/bin/git unless
/// `gitOnSearchPath` (then the search path's folders are readable). Writes:
/// beneath `directory`, the git directories (git_directories.h), /dev/null,
/// trace files the environment names; push and fetch also the local
/// remotes in `remotes`, ~/.ssh/known_hosts and git's credential cache.
/// Reads, when the reach confines them: those places, borrowed object
/// stores, system programs, libraries and locales, and git's system and
/// user configuration. An invalid descriptor when the kernel has no usable
/// Landlock: the run then goes unconfined.
std::variant<vorn::UniqueFd, vorn::Status> gitRuleset(const GitReach& reach,
                                                      const std::string& directory,
                                                      const std::vector<std::string>& environment,
                                                      bool gitOnSearchPath,
                                                      const std::vector<std::string>& remotes);

}  // namespace VornAgentRunnerMain
