// The git directories a git run acts on, found the way git finds them, so
// that its confinement can let it write there and nowhere else outside the
// working area.
#pragma once

#include <string>
#include <vector>

namespace VornAgentRunnerMain {

struct GitDirectories {
  std::vector<std::string> own;         // the git directory and the common directory
  std::vector<std::string> alternates;  // object stores borrowed from elsewhere (read only)
};

/// For a git run in `directory`: the nearest ".git" at or above it (a
/// folder, or a file naming one with "gitdir:"), the common directory a
/// linked worktree's git directory names in its "commondir" file, and the
/// object stores listed in the common directory's objects/info/alternates.
/// Nothing found: empty lists.
GitDirectories findGitDirectories(const std::string& directory);

}  // namespace VornAgentRunnerMain
