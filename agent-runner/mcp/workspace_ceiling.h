// The folders a protocol client's calls may act in: the `--workspace`
// folders the user started the server with, possibly narrowed by the roots
// the client names, never widened by them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "common/mcp/tool.h"
#include "common/refusal.h"

namespace VornAgentRunnerMcp {

class WorkspaceCeiling {
 public:
  /// The ceiling of `folders` (trimmed, ~ expanded, standardised; a relative
  /// one taken from `currentDirectory`), or of `currentDirectory` alone when
  /// none is given. Words naming the folder when one is not an existing
  /// folder.
  static std::variant<WorkspaceCeiling, std::string> make(const std::vector<std::string>& folders,
                                                          const std::string& currentDirectory);

  /// The ceiling's folders, in the order given.
  const std::vector<std::string>& folders() const { return folders_; }

  /// The folders a call may act in when the client names `roots`: nothing
  /// from the client leaves the ceiling as it is; otherwise each client root
  /// inside a ceiling folder, and each ceiling folder inside a client root,
  /// in the ceiling's order (no root of the client: no folder at all).
  std::vector<std::string> narrowedBy(
      const std::optional<std::vector<vorn::mcp::Root>>& roots) const;

 private:
  explicit WorkspaceCeiling(std::vector<std::string> folders) : folders_(std::move(folders)) {}
  std::vector<std::string> folders_;
};

/// The workspace root a call acts in: `requested` authorised against each
/// of `allowed` in turn like any path (a relative one from that folder,
/// links resolved, ".git" refused), else the refusal
/// "path_outside_workspace: ..."; absent or blank: the first of `allowed`.
vorn::OrRefusal<std::string> workspaceRootWithin(const std::optional<std::string>& requested,
                                                 std::span<const std::string> allowed);

}  // namespace VornAgentRunnerMcp
