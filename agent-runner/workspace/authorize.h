// Workspace roots and the authorisation every requested path goes through.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent-runner/workspace/file_system_view.h"

namespace VornAgentRunnerMain {

/// The trimmed, tilde-expanded, standardised root, or "" when absent or blank.
std::string resolveRoot(const std::optional<std::string>& root,
                        const vorn::FileSystemView& fs = vorn::posixFileSystem());

/// Authorises paths against one set of allowed roots (`workspaceRoot`, then
/// `extraRoots`). The roots' real locations and those of the folders already
/// seen are looked up once, so a batch of paths costs few system calls.
class PathAuthorizer {
 public:
  PathAuthorizer(std::string workspaceRoot, const std::vector<std::string>& extraRoots,
                 const vorn::FileSystemView& fs = vorn::posixFileSystem());

  /// The standardised path to act on when `path` lies inside one allowed root
  /// both as written and with the links of its deepest existing ancestor
  /// resolved; nothing when refused. Also refused: a path or any root that
  /// holds a NUL byte, and a path that is, or lies inside, a ".git" entry
  /// (the repository's administrative files), as written or resolved. Reads
  /// the file system, changes nothing.
  std::optional<std::string> authorize(std::string_view path);

 private:
  struct Root {
    std::string lexical;
    std::optional<std::string> real;  // looked up on first use
  };
  const std::string& realRoot(Root& root);
  std::optional<std::string> realAnchor(const std::string& anchor, bool isLink);

  std::string workspaceRoot_;
  bool rootHoldsNul_ = false;
  std::vector<Root> roots_;
  const vorn::FileSystemView& fs_;
  std::map<std::string, std::optional<std::string>, std::less<>> realFolders_;
};

/// One path through a PathAuthorizer of its own.
std::optional<std::string> authorize(std::string_view path, const std::string& workspaceRoot,
                                     const std::vector<std::string>& extraRoots,
                                     const vorn::FileSystemView& fs = vorn::posixFileSystem());

}  // namespace VornAgentRunnerMain
