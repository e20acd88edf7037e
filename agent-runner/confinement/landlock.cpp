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
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
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
constexpr std::uint64_t kIoctlRight = LANDLOCK_ACCESS_FS_IOCTL_DEV;    // ABI 5
// The rights that mean anything on a file that is not a folder.
constexpr std::uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                      LANDLOCK_ACCESS_FS_READ_FILE | kTruncateRight | kIoctlRight;
constexpr std::uint64_t kTcpRights = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
constexpr std::uint64_t kScopes = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;

// The ABI 6 layout. An older kernel accepts it as long as the fields it does
// not know are zero, which they are there (see the constructor).
struct RulesetAttributes {
  std::uint64_t handledAccessFs;
  std::uint64_t handledAccessNet;
  std::uint64_t scoped;
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

RulesetBuilder::RulesetBuilder(Scope scope, Restrictions restrictions) {
  int abi = landlockAbi();
  if (abi < kMinimumAbi) {
    unavailable_ = true;
    return;
  }
  writeAccess_ = writeRightsFor(abi);
  readAccess_ = scope == Scope::kReadsAndWrites ? kReadRights : 0;
  ioctlAccess_ = restrictions.deviceIoctl && abi >= kDeviceIoctlAbi ? kIoctlRight : 0;
  handled_ = writeAccess_ | readAccess_ | ioctlAccess_;
  // No rule allows TCP: handling it is refusing it.
  RulesetAttributes attributes{handled_, restrictions.tcp && abi >= kTcpAbi ? kTcpRights : 0,
                               restrictions.scopes && abi >= kScopesAbi ? kScopes : 0};
  long fd = ::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  ruleset_.reset(static_cast<int>(fd));
}

bool RulesetBuilder::addRule(int fd, std::uint64_t access) {
  if (!ruleset_.valid() || error_ != 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) access &= kFileRights;
  access &= handled_;
  if (access == 0) return false;
  PathBeneath rule{access, fd};
  if (::syscall(SYS_landlock_add_rule, ruleset_.get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

// Folders and plain files only: a device is written through its node
// whatever the mount says.
void RulesetBuilder::noteWritable(int fd, const std::string& path) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) return;
  for (const auto& earlier : writable_) {
    if (path == earlier || path.starts_with(earlier + "/")) return;
  }
  std::erase_if(writable_, [&](const std::string& later) { return later.starts_with(path + "/"); });
  writable_.push_back(path);
}

void RulesetBuilder::allowPath(const std::string& path, std::uint64_t access) {
  UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (fd.valid() && addRule(fd.get(), access) && (access & writeAccess_) != 0) {
    noteWritable(fd.get(), path);
  }
}

void RulesetBuilder::allowRead(const std::string& path) { allowPath(path, readAccess_); }

void RulesetBuilder::allowWrite(const std::string& path) {
  allowPath(path, writeAccess_ | readAccess_);
}

void RulesetBuilder::allowWrite(int fd) { addRule(fd, writeAccess_ | readAccess_); }

void RulesetBuilder::allowWrite(int fd, const std::string& path) {
  if (addRule(fd, writeAccess_ | readAccess_)) noteWritable(fd, path);
}

void RulesetBuilder::allowDevice(const std::string& path) { allowPath(path, deviceAccess()); }

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

__attribute__((no_sanitize("address", "undefined"))) int allowBeneath(
    int rulesetFd, const char* path, std::uint64_t access) noexcept {
  long fd = ::syscall(SYS_openat, AT_FDCWD, path, O_PATH | O_CLOEXEC | O_DIRECTORY);
  if (fd < 0) return errno;
  PathBeneath rule{access, static_cast<std::int32_t>(fd)};
  long added = ::syscall(SYS_landlock_add_rule, rulesetFd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
  int err = added == 0 ? 0 : errno;
  ::syscall(SYS_close, fd);
  return err;
}

}  // namespace vorn::confinement
