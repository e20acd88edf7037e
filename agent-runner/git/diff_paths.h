// Reading a unified diff for the paths it would create or change.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace VornAgentRunnerMain {

/// The names a diff gives, for authorisation, and the paths it changes.
struct DiffNames {
  /// Every name of every "---", "+++", "diff --git", "rename from/to" and
  /// "copy from/to" line, in each form git may read it: as written without
  /// an "a/" or "b/" prefix, with its first component stripped (git apply's
  /// -p1), and unquoted when C-quoted. Each once, sorted.
  std::vector<std::string> named;
  /// The paths the diff creates, changes or removes (collectAffectedPaths).
  std::vector<std::string> affected;
};

/// Reads `diff` line by line (a carriage return before a line feed dropped).
DiffNames readDiffNames(std::string_view diff);

/// The paths `diff` creates, changes or removes, as written: the name of
/// each "+++ b/" line after the prefix, else of each "+++ " line that is not
/// "+++ /dev/null"; the "---" name (without "a/") of a file the diff
/// deletes; "rename from", "rename to" and "copy to" names; and the name a
/// "diff --git" line gives for its file (its first name when the file is
/// deleted), for patches without "---"/"+++" lines (binary, mode changes).
/// Each once, sorted by byte value.
std::vector<std::string> collectAffectedPaths(std::string_view diff);

/// The name git reads from a C-quoted diff path ("\"b/a\\tb\"" is b/a<TAB>b),
/// or nothing when `path` is not quoted or the quoting is malformed.
std::optional<std::string> unquoteDiffPath(std::string_view path);

/// The names `git apply -v` reports as skipped in its standard error (lines
/// "Skipped patch '<name>'."), in order.
std::vector<std::string> skippedPatchNames(std::string_view verboseOutput);

}  // namespace VornAgentRunnerMain
