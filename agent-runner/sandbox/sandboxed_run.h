// Starting one child in the sandbox: its Landlock ruleset (files, TCP,
// device ioctls, scopes), its isolation (session, namespaces, no
// capabilities, no inherited descriptors, seccomp) and its environment.
// The process runner does the rest, as for every child.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "agent-runner/confinement/landlock.h"
#include "agent-runner/process/process_runner.h"
#include "common/status.h"

namespace vorn::sandbox {

/// What one sandboxed run may do beyond the sandbox's fixed rules.
struct Policy {
  bool allowNetwork = false;  // TCP and UDP to any address (a request's allow_network)
};

/// A ruleset builder for a sandboxed child: files restricted as `scope`
/// says; TCP refused unless `policy` allows network; ioctl only on the
/// harmless devices; no abstract unix sockets or signals outside the child's
/// own tree. Writing is already allowed in the private temporary folder and
/// to /dev/null, /dev/zero, /dev/full, /dev/random, /dev/urandom, /dev/tty
/// and /dev/ptmx. Fails when Landlock is missing or the folder cannot be made.
std::variant<confinement::RulesetBuilder, Status> sandboxRules(confinement::Scope scope,
                                                               const Policy& policy);

/// Runs `executable` as runProcessWithEnvironment does, in the sandbox:
/// under `rules` (sandboxRules with the caller's own rules added), with
/// sandboxEnvironment of `environment`, standard input /dev/null, and the
/// isolation of confinement/isolation.h. A run that never started, of kind
/// "sandbox_unavailable" when the machine lacks a piece (availability.h)
/// and "spawn_failed" when the child could not be prepared.
VornAgentRunnerMain::ProcessRun runSandboxed(const Policy& policy,
                                             confinement::RulesetBuilder rules,
                                             const std::vector<std::string>& environment,
                                             const std::string& executable,
                                             const std::vector<std::string>& arguments,
                                             const std::string& directory, double timeout);

/// runSandboxed with the runner's environment, writing allowed beneath
/// `workspace` (nowhere more when it is empty) and the git directories of
/// the repository that holds it: the shell's sandbox.
VornAgentRunnerMain::ProcessRun runInWorkspace(const Policy& policy, const std::string& workspace,
                                               const std::string& executable,
                                               const std::vector<std::string>& arguments,
                                               const std::string& directory, double timeout);

/// A user or group id map that maps the runner's own id, and no other, to
/// itself.
struct IdMaps {
  std::string uid;
  std::string gid;
};
IdMaps ownIdMaps();

}  // namespace vorn::sandbox
