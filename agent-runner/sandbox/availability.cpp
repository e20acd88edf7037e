#include "agent-runner/sandbox/availability.h"

#include <linux/seccomp.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "agent-runner/confinement/confined_spawn.h"
#include "agent-runner/confinement/landlock.h"
#include "agent-runner/sandbox/sandbox_mode.h"
#include "agent-runner/sandbox/sandboxed_run.h"

namespace vorn::sandbox {
namespace {

constexpr const char* kPretendVariable = "VORN_SANDBOX_PRETEND_MISSING";

bool pretendsMissing(std::string_view feature) {
  const char* listed = ::getenv(kPretendVariable);
  std::string_view rest = listed ? listed : "";
  while (!rest.empty()) {
    std::string_view item = rest.substr(0, rest.find(','));
    if (item == feature) return true;
    rest.remove_prefix(std::min(rest.size(), item.size() + 1));
  }
  return false;
}

std::string pretended() { return std::string("(switched off by ") + kPretendVariable + ")"; }

std::optional<std::string> landlockMissing() {
  using confinement::kScopesAbi;
  if (pretendsMissing("landlock")) return "Landlock ABI 6 " + pretended();
  int abi = confinement::landlockAbi();
  if (abi >= kScopesAbi) return std::nullopt;
  if (abi == 0) return "Landlock ABI 6 (this kernel offers none)";
  return "Landlock ABI 6 (this kernel offers ABI " + std::to_string(abi) + ")";
}

std::optional<std::string> seccompMissing() {
  if (pretendsMissing("seccomp")) return "seccomp filters " + pretended();
  std::uint32_t action = SECCOMP_RET_ERRNO;
  bool offered = ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0 &&
                 ::syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0U, &action) == 0;
  if (offered) return std::nullopt;
  return "seccomp filters";
}

// A child is started in the namespaces and maps its ids, as every sandboxed
// child will: settings that forbid it (a sysctl, a security module, a
// container's own filter) all show here.
std::optional<std::string> namespacesMissing() {
  if (pretendsMissing("namespaces")) return "user namespaces " + pretended();
  IdMaps maps = ownIdMaps();
  confinement::Isolation isolation{};
  isolation.uidMap = maps.uid.c_str();
  isolation.gidMap = maps.gid.c_str();
  int err = confinement::probeIsolation(isolation);
  if (err == 0) return std::nullopt;
  return "user namespaces (" + std::string(std::strerror(err)) + ")";
}

std::optional<std::string> probe() {
  std::string missing;
  for (auto&& found : {landlockMissing(), seccompMissing(), namespacesMissing()}) {
    if (!found) continue;
    if (!missing.empty()) missing += "; ";
    missing += *found;
  }
  if (missing.empty()) return std::nullopt;
  return missing;
}

}  // namespace

std::optional<std::string> missingFeatures() {
  static const std::optional<std::string> missing = probe();
  return missing;
}

std::optional<std::string> refusal() {
  if (!enabled()) return std::nullopt;
  auto missing = missingFeatures();
  if (!missing) return std::nullopt;
  return "sandbox_unavailable: " + *missing;
}

}  // namespace vorn::sandbox
