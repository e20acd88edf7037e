// The reach of each git subcommand is a table; the places are lists. What
// is not found on this machine is simply not allowed.
#include "agent-runner/git/git_confinement.h"

#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <string_view>

#include "agent-runner/confinement/landlock.h"
#include "agent-runner/git/git_directories.h"
#include "agent-runner/git/git_user_config.h"
#include "agent-runner/workspace/path_standardize.h"

namespace VornAgentRunnerMain {
namespace {

using vorn::confinement::RulesetBuilder;
using vorn::confinement::Scope;

struct NamedReach {
  std::string_view subcommand;
  GitReach reach;
};

// Subcommands that run hooks, sign, or talk to remotes keep their reads;
// every other (status, add, apply, diff, restore, checkout, ...) reads the
// working tree and is confined in reading too. The literal pathspec setting
// reaches hooks as well, so only the runs that take paths get it.
constexpr NamedReach kReaches[] = {
    {"commit", {Scope::kWrites, false, false}},   {"merge", {Scope::kWrites, false, false}},
    {"worktree", {Scope::kWrites, false, false}}, {"push", {Scope::kWrites, true, false}},
    {"fetch", {Scope::kWrites, true, false}},
};
constexpr GitReach kWorkingTreeReach{Scope::kReadsAndWrites, false, true};

constexpr const char* kSystemReadable[] = {
    "/usr",
    "/bin",
    "/sbin",
    "/lib",
    "/lib32",
    "/lib64",
    "/libx32",
    "/etc/gitattributes",
    "/etc/ld.so.cache",
    "/etc/ld.so.preload",
    "/etc/passwd",
    "/etc/group",
    "/etc/nsswitch.conf",
    "/etc/localtime",
    "/etc/locale.alias",
    "/dev/urandom",
    "/dev/zero",
};

std::string nonEmpty(const std::optional<std::string>& value) { return value.value_or(""); }

// Trace targets the caller's environment names (GIT_TRACE2_EVENT=/path,
// ...): created as git would, and writable.
void allowTraceTargets(RulesetBuilder& rules, const std::vector<std::string>& environment) {
  for (const auto& entry : environment) {
    if (!entry.starts_with("GIT_TRACE")) continue;
    std::size_t equals = entry.find('=');
    if (equals == std::string::npos || entry.compare(equals + 1, 1, "/") != 0) continue;
    std::string target = entry.substr(equals + 1);
    vorn::UniqueFd fd(
        ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (fd.valid()) {
      rules.allowWrite(fd.get());
    } else if (errno == EISDIR) {
      rules.allowWrite(target);  // trace2 writes one file per run into a folder
    }
  }
}

void allowRemoteAccess(RulesetBuilder& rules, const std::vector<std::string>& environment,
                       const std::vector<std::string>& remotes) {
  for (const auto& remote : remotes) rules.allowWrite(remote);
  std::string home = nonEmpty(environmentValue(environment, "HOME"));
  std::string cache = nonEmpty(environmentValue(environment, "XDG_CACHE_HOME"));
  if (!home.empty()) {
    rules.allowWrite(home + "/.ssh/known_hosts");
    if (cache.empty()) cache = home + "/.cache";
  }
  if (!cache.empty()) rules.allowWrite(cache + "/git");
}

// With git found on the search path, its programs may live anywhere there.
void allowSearchPath(RulesetBuilder& rules, const std::vector<std::string>& environment) {
  std::string path = nonEmpty(environmentValue(environment, "PATH"));
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t end = path.find(':', i);
    if (end == std::string::npos) end = path.size();
    if (end > i && path[i] == '/') rules.allowRead(path.substr(i, end - i));
    i = end + 1;
  }
}

bool isLocalUrl(std::string_view url) {
  if (url.starts_with("file://")) return true;
  if (url.find("://") != std::string_view::npos) return false;
  std::size_t colon = url.find(':');
  return colon == std::string_view::npos || url.find('/') < colon;  // else host:path
}

}  // namespace

GitReach reachOf(const std::vector<std::string>& args) {
  std::string_view subcommand = args.empty() ? "" : std::string_view(args.front());
  for (const auto& named : kReaches) {
    if (named.subcommand == subcommand) return named.reach;
  }
  return kWorkingTreeReach;
}

std::vector<std::string> localRemotePaths(const std::string& directory,
                                          const std::string& remoteListing) {
  std::vector<std::string> paths;
  std::string_view rest(remoteListing);
  while (!rest.empty()) {
    std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    std::size_t tab = line.find('\t');
    std::size_t mark = line.rfind(" (");
    if (tab == std::string_view::npos || mark == std::string_view::npos || mark < tab) continue;
    std::string_view url = line.substr(tab + 1, mark - tab - 1);
    if (!isLocalUrl(url)) continue;
    if (url.starts_with("file://")) url.remove_prefix(7);
    std::string path(url);
    paths.push_back(vorn::standardizePath(path.starts_with('/') ? path : directory + "/" + path));
  }
  return paths;
}

std::variant<vorn::UniqueFd, vorn::Status> gitRuleset(const GitReach& reach,
                                                      const std::string& directory,
                                                      const std::vector<std::string>& environment,
                                                      bool gitOnSearchPath,
                                                      const std::vector<std::string>& remotes) {
  RulesetBuilder rules(reach.scope);
  if (rules.unavailable()) return vorn::UniqueFd();
  rules.allowWrite(directory);
  auto gitDirectories = findGitDirectories(directory);
  for (const auto& dir : gitDirectories.own) rules.allowWrite(dir);
  rules.allowWrite("/dev/null");
  allowTraceTargets(rules, environment);
  if (reach.remotes) allowRemoteAccess(rules, environment, remotes);
  if (reach.scope == Scope::kReadsAndWrites) {
    for (const auto& dir : gitDirectories.alternates) rules.allowRead(dir);
    for (const char* path : kSystemReadable) rules.allowRead(path);
    for (const auto& path : gitConfigurationPaths(environment)) rules.allowRead(path);
    if (gitOnSearchPath) allowSearchPath(rules, environment);
  }
  return rules.finish();
}

}  // namespace VornAgentRunnerMain
