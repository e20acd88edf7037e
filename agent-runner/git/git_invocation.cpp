#include "agent-runner/git/git_invocation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "agent-runner/git/git_confinement.h"
#include "agent-runner/process/process_runner.h"
#include "agent-runner/workspace/path_standardize.h"

extern char** environ;

namespace VornAgentRunnerMain {
namespace {

constexpr const char* kGit = "/usr/bin/git";
constexpr double kProbeTimeout = 5;

// A caller's shell may carry these for a repository of its own; inherited,
// they would make git act on that repository instead of the workspace's.
constexpr std::string_view kRepositoryLocators[] = {
    "GIT_DIR",
    "GIT_WORK_TREE",
    "GIT_INDEX_FILE",
    "GIT_OBJECT_DIRECTORY",
    "GIT_ALTERNATE_OBJECT_DIRECTORIES",
    "GIT_COMMON_DIR",
    "GIT_NAMESPACE",
};

std::string_view nameOf(std::string_view entry) { return entry.substr(0, entry.find('=')); }

bool isNamedIn(std::string_view name, const std::vector<std::string>& entries) {
  for (const auto& entry : entries) {
    if (nameOf(entry) == name) return true;
  }
  return false;
}

bool isLocator(std::string_view name) {
  for (auto locator : kRepositoryLocators) {
    if (name == locator) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> gitEnvironment(char* const* environment,
                                        const std::vector<std::string>& extra) {
  // No run waits out its limit at a credential prompt nobody can answer.
  std::vector<std::string> overrides{"GIT_TERMINAL_PROMPT=0"};
  overrides.insert(overrides.end(), extra.begin(), extra.end());
  std::vector<std::string> result;
  for (char* const* entry = environment; entry && *entry; ++entry) {
    std::string_view name = nameOf(*entry);
    if (!isLocator(name) && !isNamedIn(name, overrides)) result.emplace_back(*entry);
  }
  result.insert(result.end(), overrides.begin(), overrides.end());
  return result;
}

namespace {

// A run that never started, with nothing to say: the operation answers its
// own fixed failure text.
vorn::RunnerResponse notRun() {
  auto run = vorn::failure("");
  run.error.reset();
  run.message.reset();
  return run;
}

// The local repositories among the remotes, asked of git without tracing:
// an internal question, not one of the operation's runs.
std::vector<std::string> localRemotes(const std::string& directory,
                                      const std::vector<std::string>& environment);

vorn::RunnerResponse runConfined(const std::vector<std::string>& args, const std::string& directory,
                                 double timeout, const std::vector<std::string>& environment) {
  // Asked on every run: git may be installed or removed while a service runs.
  bool onSearchPath = ::access(kGit, X_OK) != 0;
  GitReach reach = reachOf(args);
  std::vector<std::string> remotes;
  if (reach.remotes) remotes = localRemotes(directory, environment);
  auto ruleset = gitRuleset(reach, directory, environment, onSearchPath, remotes);
  if (auto* failed = std::get_if<vorn::Status>(&ruleset)) {
    return vorn::failure("spawn_failed: cannot confine git: " + failed->description());
  }
  const auto& fd = std::get<vorn::UniqueFd>(ruleset);
  vorn::Confinement confinement{fd.get()};
  const vorn::Confinement* held = fd.valid() ? &confinement : nullptr;
  if (!onSearchPath) {
    return runProcessWithEnvironment(environment, kGit, args, directory, timeout, held);
  }
  std::vector<std::string> viaEnv{"git"};
  viaEnv.insert(viaEnv.end(), args.begin(), args.end());
  return runProcessWithEnvironment(environment, "/usr/bin/env", viaEnv, directory, timeout, held);
}

std::vector<std::string> localRemotes(const std::string& directory,
                                      const std::vector<std::string>& environment) {
  std::vector<std::string> untraced;
  for (const auto& entry : environment) {
    if (!entry.starts_with("GIT_TRACE")) untraced.push_back(entry);
  }
  auto listing = runConfined({"remote", "-v"}, directory, kProbeTimeout, untraced);
  return localRemotePaths(directory, listing.stdout_text.value_or(""));
}

}  // namespace

vorn::RunnerResponse runGit(const std::vector<std::string>& args, const std::string& directory,
                            double timeout, const std::vector<std::string>& extraEnvironment) {
  for (const auto& arg : args) {
    if (vorn::holdsNul(arg)) return notRun();  // it would reach git cut short
  }
  std::vector<std::string> extra = extraEnvironment;
  if (reachOf(args).literalPaths) {
    // ":/x", ":(top)x", ":!x" and globs name files of those very names.
    extra.insert(extra.begin(), {"GIT_LITERAL_PATHSPECS=1", "GIT_GLOB_PATHSPECS=0",
                                 "GIT_NOGLOB_PATHSPECS=0", "GIT_ICASE_PATHSPECS=0"});
  }
  return runConfined(args, directory, timeout, gitEnvironment(environ, extra));
}

bool isWorkingTreeTop(const std::string& path) {
  struct stat st;
  return ::stat((path + "/.git").c_str(), &st) == 0;
}

bool isGitRepo(const std::string& path) {
  if (isWorkingTreeTop(path)) return true;
  return runGit({"rev-parse", "--show-toplevel"}, path, kProbeTimeout).ok;
}

}  // namespace VornAgentRunnerMain
