// Debian 12's kernel headers describe Landlock only up to its second ABI,
// so the rights of later ABIs and the system call numbers are spelt out here
// when the headers lack them; the kernel tells at run time which it knows.
#include "agent-runner/confinement/landlock.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#define SYS_landlock_add_rule 445
#define SYS_landlock_restrict_self 446
#endif

namespace vorn::confinement {
namespace {

constexpr std::uint64_t kReadRights = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
// Every right that changes the file system, by the ABI that brought it.
constexpr std::uint64_t kWriteRightsAbi1 =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
    LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
    LANDLOCK_ACCESS_FS_MAKE_SYM;
constexpr std::uint64_t kReferRight = LANDLOCK_ACCESS_FS_REFER;        // ABI 2
constexpr std::uint64_t kTruncateRight = LANDLOCK_ACCESS_FS_TRUNCATE;  // ABI 3
// The rights that mean anything on a file that is not a folder.
constexpr std::uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                      LANDLOCK_ACCESS_FS_READ_FILE | kTruncateRight;

// The layout every ABI accepts: later ABIs only add fields after this one.
struct RulesetAttributes {
  std::uint64_t handledAccessFs;
};

struct __attribute__((packed)) PathBeneath {
  std::uint64_t allowedAccess;
  std::int32_t parentFd;
};

int askAbi() {
  long version =
      ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return version > 0 ? static_cast<int>(version) : 0;
}

std::uint64_t writeRightsFor(int abi) {
  std::uint64_t rights = kWriteRightsAbi1 | kReferRight;
  if (abi >= 3) rights |= kTruncateRight;
  return rights;
}

}  // namespace

int landlockAbi() {
  static const int abi = askAbi();
  return abi;
}

RulesetBuilder::RulesetBuilder(Scope scope) {
  int abi = landlockAbi();
  if (abi < kMinimumAbi) {
    unavailable_ = true;
    return;
  }
  writeAccess_ = writeRightsFor(abi);
  readAccess_ = scope == Scope::kReadsAndWrites ? kReadRights : 0;
  handled_ = writeAccess_ | readAccess_;
  RulesetAttributes attributes{handled_};
  long fd = ::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  ruleset_.reset(static_cast<int>(fd));
}

void RulesetBuilder::addRule(int fd, std::uint64_t access) {
  if (!ruleset_.valid() || error_ != 0) return;
  struct stat st;
  if (::fstat(fd, &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) access &= kFileRights;
  access &= handled_;
  if (access == 0) return;
  PathBeneath rule{access, fd};
  if (::syscall(SYS_landlock_add_rule, ruleset_.get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0) {
    error_ = errno;
  }
}

void RulesetBuilder::allowPath(const std::string& path, std::uint64_t access) {
  UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (fd.valid()) addRule(fd.get(), access);
}

void RulesetBuilder::allowRead(const std::string& path) { allowPath(path, readAccess_); }

void RulesetBuilder::allowWrite(const std::string& path) {
  allowPath(path, writeAccess_ | readAccess_);
}

void RulesetBuilder::allowWrite(int fd) { addRule(fd, writeAccess_ | readAccess_); }

std::variant<UniqueFd, Status> RulesetBuilder::finish() {
  if (error_ != 0) return Status::fromErrno("landlock", error_);
  return std::move(ruleset_);
}

// Runs in a child that shares our memory: nothing here may be instrumented.
__attribute__((no_sanitize("address", "undefined"))) int restrictSelf(int rulesetFd) noexcept {
  if (::syscall(SYS_prctl, PR_SET_NO_NEW_PRIVS, 1L, 0L, 0L, 0L) != 0) return errno;
  if (::syscall(SYS_landlock_restrict_self, rulesetFd, 0) != 0) return errno;
  return 0;
}

}  // namespace vorn::confinement
