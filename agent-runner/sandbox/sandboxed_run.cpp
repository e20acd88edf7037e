#include "agent-runner/sandbox/sandboxed_run.h"

#include <fcntl.h>
#include <unistd.h>

#include "agent-runner/git/git_directories.h"
#include "agent-runner/process/process_runner.h"
#include "agent-runner/sandbox/availability.h"
#include "agent-runner/sandbox/private_temp.h"
#include "agent-runner/sandbox/sandbox_environment.h"
#include "agent-runner/sandbox/seccomp_filter.h"

namespace vorn::sandbox {
namespace {

using confinement::RulesetBuilder;
using confinement::Scope;

constexpr const char* kHarmlessDevices[] = {
    "/dev/null", "/dev/zero", "/dev/full", "/dev/random", "/dev/urandom", "/dev/tty", "/dev/ptmx",
};

using VornAgentRunnerMain::ProcessRun;

ProcessRun cannotPrepare(const std::string& executable, const Status& why) {
  return {FailedToStart{"cannot sandbox '" + executable + "': " + why.description()}, {}, {}};
}

ProcessRun unavailable(std::string missing) {
  return {FailedToStart{std::move(missing), "sandbox_unavailable"}, {}, {}};
}

}  // namespace

IdMaps ownIdMaps() {
  std::string uid = std::to_string(::geteuid()), gid = std::to_string(::getegid());
  return {uid + " " + uid + " 1", gid + " " + gid + " 1"};
}

std::variant<RulesetBuilder, Status> sandboxRules(Scope scope, const Policy& policy) {
  auto temp = privateTempFolder();
  if (auto* failed = std::get_if<Status>(&temp)) return *failed;
  RulesetBuilder rules(scope, {.tcp = !policy.allowNetwork, .deviceIoctl = true, .scopes = true});
  if (rules.unavailable()) return Status::failure("no usable Landlock in this kernel");
  rules.allowWrite(std::get<std::string>(temp));
  for (const char* device : kHarmlessDevices) rules.allowDevice(device);
  return rules;
}

ProcessRun runSandboxed(const Policy& policy, RulesetBuilder rules,
                        const std::vector<std::string>& environment, const std::string& executable,
                        const std::vector<std::string>& arguments, const std::string& directory,
                        double timeout) {
  if (auto missing = missingFeatures()) return unavailable(*missing);
  auto filter = seccompFilter(policy.allowNetwork);
  if (auto* failed = std::get_if<Status>(&filter)) return cannotPrepare(executable, *failed);
  auto temp = privateTempFolder();
  if (auto* failed = std::get_if<Status>(&temp)) return cannotPrepare(executable, *failed);
  std::uint64_t mountAccess = rules.deviceAccess();
  std::vector<const char*> writable;
  for (const auto& place : rules.writable()) writable.push_back(place.c_str());
  if (writable.size() > confinement::kMaxWritable) {
    return cannotPrepare(executable,
                         Status::failure("more than " + std::to_string(confinement::kMaxWritable) +
                                         " places to write in"));
  }
  auto ruleset = rules.finish();
  if (auto* failed = std::get_if<Status>(&ruleset)) return cannotPrepare(executable, *failed);
  const auto& rulesetFd = std::get<UniqueFd>(ruleset);
  // Never unconfined: a builder that found no Landlock gives no ruleset.
  if (!rulesetFd.valid()) return unavailable("Landlock");
  UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!devNull.valid()) return cannotPrepare(executable, Status::fromErrno("/dev/null"));
  IdMaps maps = ownIdMaps();
  sock_fprog program = std::get<const SeccompProgram*>(filter)->view();
  confinement::Isolation isolation{devNull.get(),
                                   maps.uid.c_str(),
                                   maps.gid.c_str(),
                                   mountAccess,
                                   &program,
                                   writable.data(),
                                   static_cast<int>(writable.size())};
  Confinement confinement{rulesetFd.get(), &isolation};
  return VornAgentRunnerMain::runProcessWithEnvironment(
      sandboxEnvironment(environment, std::get<std::string>(temp)), executable, arguments,
      directory, timeout, &confinement);
}

ProcessRun runInWorkspace(const Policy& policy, const std::string& workspace,
                          const std::string& executable, const std::vector<std::string>& arguments,
                          const std::string& directory, double timeout) {
  if (auto missing = missingFeatures()) return unavailable(*missing);
  auto rules = sandboxRules(Scope::kWrites, policy);
  if (auto* failed = std::get_if<Status>(&rules)) return cannotPrepare(executable, *failed);
  auto& builder = std::get<RulesetBuilder>(rules);
  if (!workspace.empty()) {
    builder.allowWrite(workspace);
    for (const auto& gitDirectory : VornAgentRunnerMain::findGitDirectories(workspace).own) {
      builder.allowWrite(gitDirectory);
    }
  }
  return runSandboxed(policy, std::move(builder), processEnvironment(), executable, arguments,
                      directory, timeout);
}

}  // namespace vorn::sandbox
