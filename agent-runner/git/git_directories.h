// Where a working tree's repository lives, found on disk the way git finds
// it (a ".git" folder, or a ".git" file "gitdir: <dir>" for a linked
// worktree, whose git directory names the shared one in "commondir"), so
// that neither a git run's confinement nor a delivery's lock costs a git run.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace VornAgentRunnerMain {

/// The git directories a git run acts on.
struct GitDirectories {
  std::vector<std::string> own;         // the git directory and the common directory
  std::vector<std::string> alternates;  // object stores borrowed from elsewhere (read only)
};

/// For a git run in `directory`: the nearest ".git" at or above it, the
/// common directory its git directory names in "commondir", and the object
/// stores listed in the common directory's objects/info/alternates.
/// Nothing found: empty lists.
GitDirectories findGitDirectories(const std::string& directory);

/// A working tree and its repository, links resolved.
struct RepositoryLocation {
  std::string top;        // the top of the working tree
  std::string commonDir;  // the common git directory, absolute
};

/// The working tree that holds `path` and its common git directory. When
/// nothing on disk answers, git is asked (`rev-parse`). Nothing when there is
/// no repository.
std::optional<RepositoryLocation> locateRepository(const std::string& path);

/// Whether `path` is the top of a working tree of the repository whose
/// common git directory is `commonDir`: it holds a ".git" file naming a git
/// directory that leads back to `commonDir`. A clone of its own, a plain
/// folder or a stale ".git" file is not.
bool isWorktreeOf(const std::string& path, const std::string& commonDir);

}  // namespace VornAgentRunnerMain
