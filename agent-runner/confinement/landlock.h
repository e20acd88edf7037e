// Landlock rulesets: which file hierarchies a child may read and write.
// A ruleset is built in the parent (where failures can be answered) and
// applied in the child between fork and exec, which only needs two system
// calls and so stays async-signal-safe.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

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

/// Builds one ruleset, rule by rule. Paths that do not exist are skipped:
/// a missing rule only ever takes access away.
class RulesetBuilder {
 public:
  /// A builder for `scope`; `unavailable()` when the kernel's Landlock is
  /// missing or older than kMinimumAbi, failed() when it could not be made.
  explicit RulesetBuilder(Scope scope);

  bool unavailable() const { return unavailable_; }

  /// Reading (and listing) beneath `path` (a folder or one file).
  void allowRead(const std::string& path);
  /// Reading and every kind of change beneath `path` (a file: writing it).
  void allowWrite(const std::string& path);
  /// The same for what `fd` (any open descriptor, O_PATH included) names.
  void allowWrite(int fd);

  /// The finished ruleset's descriptor (close-on-exec), an invalid one when
  /// unavailable(), or the first error met while building it.
  std::variant<UniqueFd, Status> finish();

 private:
  void addRule(int fd, std::uint64_t access);
  void allowPath(const std::string& path, std::uint64_t access);

  UniqueFd ruleset_;
  std::uint64_t handled_ = 0;
  std::uint64_t writeAccess_ = 0;
  std::uint64_t readAccess_ = 0;
  bool unavailable_ = false;
  int error_ = 0;
};

/// Confines the calling process (and all it starts later) to the ruleset
/// `rulesetFd`: sets no-new-privileges, then restricts itself. Raw system
/// calls only, so it may run between fork and exec. Answers 0 or an errno.
int restrictSelf(int rulesetFd) noexcept;

}  // namespace vorn::confinement
