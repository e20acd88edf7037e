// Reading a unified diff for the paths it would create or change.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace VornAgentRunnerMain {

/// The paths on the new-file side of `diff`: the rest of each "+++ b/" line
/// after the prefix, else of each "+++ " line that is not "+++ /dev/null",
/// with a carriage return before the line feed dropped; each once, sorted by
/// byte value.
std::vector<std::string> collectAffectedPaths(std::string_view diff);

/// The name git reads from a C-quoted diff path ("\"b/a\\tb\"" is b/a<TAB>b),
/// or nothing when `path` is not quoted or the quoting is malformed.
std::optional<std::string> unquoteDiffPath(std::string_view path);

/// The names `git apply -v` reports as skipped in its standard error (lines
/// "Skipped patch '<name>'."), in order.
std::vector<std::string> skippedPatchNames(std::string_view verboseOutput);

}  // namespace VornAgentRunnerMain
