// The allowed roots of one request, each opened once. Everything the file
// operations touch is reached from one of these descriptors, never from a
// path string resolved again.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent-runner/workspace/file_system_view.h"
#include "common/unique_fd.h"

namespace vorn {

class RootSet {
 public:
  /// The roots `workspaceRoot` (already resolved) and then `extraRoots`
  /// (trimmed, tilde-expanded, standardised), empty ones dropped. Nothing is
  /// opened yet.
  RootSet(std::string workspaceRoot, const std::vector<std::string>& extraRoots,
          const FileSystemView& fs = posixFileSystem());

  /// The standardised absolute path a request's `path` names (relative ones
  /// joined to the workspace root), when it lies inside a root as written;
  /// nothing when it does not, when there is no root, or when the path or
  /// any root holds a NUL byte.
  std::optional<std::string> candidate(std::string_view path) const;

  /// A root that contains `path` (standardised, absolute), and the rest of
  /// `path` below it; the first in order whose descriptor opens. As written
  /// only, or (`alsoReal`) also by the root's real location, which is how a
  /// link's target is placed.
  struct Match {
    std::size_t root;
    std::string prefix;  // the root's text that matched
    std::string rest;    // "" for the root itself
  };
  std::optional<Match> find(std::string_view path, bool alsoReal);

  /// The root's folder, opened (O_PATH) on first use; -1 when it cannot be.
  int fd(std::size_t root);

  /// The root's real location (links resolved), looked up on first use.
  const std::string& realPath(std::size_t root);

 private:
  struct Root {
    std::string text;
    UniqueFd fd;
    bool opened = false;
    std::optional<std::string> real;
  };

  std::string workspaceRoot_;
  std::vector<Root> roots_;
  bool holdsNul_ = false;
  const FileSystemView& fs_;
};

}  // namespace vorn
