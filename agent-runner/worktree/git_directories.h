// Where a checkout's repository keeps what all its working trees share,
// found on disk the way git finds it, without a git run.
#pragma once

#include <optional>
#include <string>

namespace VornAgentRunnerMain {

/// A working tree and its repository.
struct GitDirectories {
  std::string top;        // the top of the working tree, links resolved
  std::string commonDir;  // the common git directory, absolute, links resolved
};

/// The git directories of the working tree that holds `path`: the nearest
/// ".git" at or above it (a folder, or a "gitdir: " file), and that git
/// directory's "commondir" when it has one. When nothing on disk answers,
/// git is asked (`rev-parse`). Nothing when there is no repository.
std::optional<GitDirectories> locateGitDirectories(const std::string& path);

/// Whether `path` is the top of a working tree of the repository whose
/// common git directory is `commonDir`: it holds a ".git" file naming a git
/// directory that leads back to `commonDir`. A clone of its own, a plain
/// folder or a stale ".git" file is not.
bool isWorktreeOf(const std::string& path, const std::string& commonDir);

}  // namespace VornAgentRunnerMain
