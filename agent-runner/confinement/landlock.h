// Landlock rulesets: which file hierarchies a child may read and write.
// A ruleset is built in the parent (where failures can be answered) and
// applied in the child between fork and exec, which only needs two system
// calls and so stays async-signal-safe.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/status.h"
#include "common/unique_fd.h"

namespace vorn::confinement {

/// The Landlock ABI version the running kernel offers; 0 when it has none
/// (not built in, disabled at boot). Asked once per process.
int landlockAbi();

/// The lowest ABI the runner uses: before it, moving a file between two
/// folders is refused under any ruleset, and git cannot store objects.
inline constexpr int kMinimumAbi = 2;

/// What a ruleset restricts. Writes are always restricted; reads only when
/// asked for. Execution follows reading (the kernel reads what it runs).
enum class Scope {
  kWrites,          // reads stay open everywhere
  kReadsAndWrites,  // reads allowed only beneath the rules too
};

/// What a ruleset restricts beyond files, each only where the kernel's ABI
/// knows it (the sandbox asks for an ABI that knows all three).
struct Restrictions {
  bool tcp = false;          // TCP bind and connect refused (ABI 4)
  bool deviceIoctl = false;  // ioctl on devices only where allowDevice says (ABI 5)
  bool scopes = false;       // no abstract unix sockets or signals outside the domain (ABI 6)
};

/// The first ABI that knows the restriction each field names.
inline constexpr int kTcpAbi = 4;
inline constexpr int kDeviceIoctlAbi = 5;
inline constexpr int kScopesAbi = 6;

/// Builds one ruleset, rule by rule. Paths that do not exist are skipped:
/// a missing rule only ever takes access away.
class RulesetBuilder {
 public:
  /// A builder for `scope` and `restrictions`; `unavailable()` when the
  /// kernel's Landlock is missing or older than kMinimumAbi.
  explicit RulesetBuilder(Scope scope, Restrictions restrictions = {});

  bool unavailable() const { return unavailable_; }

  /// Reading (and listing) beneath `path` (a folder or one file).
  void allowRead(const std::string& path);
  /// Reading and every kind of change beneath `path` (a file: writing it).
  void allowWrite(const std::string& path);
  /// The same for what `fd` (any open descriptor, O_PATH included) names.
  void allowWrite(int fd);
  /// The same, with `path` (what `fd` was opened as) noted among writable().
  void allowWrite(int fd, const std::string& path);
  /// Writing and (when restricted) ioctl on the device at `path`, or on every
  /// device beneath it.
  void allowDevice(const std::string& path);

  /// The rights allowDevice grants: what the child gives, in its own mount
  /// namespace, to the folders it mounts there (their files are no devices
  /// of this machine's).
  std::uint64_t deviceAccess() const { return writeAccess_ | readAccess_ | ioctlAccess_; }

  /// The folders and files (not devices) allowWrite let in by path, in
  /// order, none beneath another: where a sandboxed child's otherwise
  /// read-only view of the machine stays writable (isolation.h).
  const std::vector<std::string>& writable() const { return writable_; }

  /// The finished ruleset's descriptor (close-on-exec), an invalid one when
  /// unavailable(), or the first error met while building it.
  std::variant<UniqueFd, Status> finish();

 private:
  bool addRule(int fd, std::uint64_t access);
  void allowPath(const std::string& path, std::uint64_t access);
  void noteWritable(int fd, const std::string& path);

  UniqueFd ruleset_;
  std::uint64_t handled_ = 0;
  std::uint64_t writeAccess_ = 0;
  std::uint64_t readAccess_ = 0;
  std::uint64_t ioctlAccess_ = 0;
  std::vector<std::string> writable_;
  bool unavailable_ = false;
  int error_ = 0;
};

/// Confines the calling process (and all it starts later) to the ruleset
/// `rulesetFd`: sets no-new-privileges, then restricts itself. Raw system
/// calls only, so it may run between fork and exec. Answers 0 or an errno.
int restrictSelf(int rulesetFd) noexcept;

/// Adds to `rulesetFd` the rule that `access` is allowed beneath `path`.
/// Raw system calls only, for the child that mounts folders of its own
/// before it restricts itself. Answers 0 or an errno.
int allowBeneath(int rulesetFd, const char* path, std::uint64_t access) noexcept;

}  // namespace vorn::confinement
