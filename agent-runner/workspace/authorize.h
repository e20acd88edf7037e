// Workspace roots and the authorisation every requested path goes through.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent-runner/workspace/file_system_view.h"

namespace VornAgentRunnerMain {

/// The trimmed, tilde-expanded, standardised root, or "" when absent or blank.
std::string resolveRoot(const std::optional<std::string>& root,
                        const vorn::FileSystemView& fs = vorn::posixFileSystem());

/// The standardised path to act on when `path` lies inside one allowed root
/// (`workspaceRoot`, then `extraRoots`) both as written and with the links of
/// its deepest existing ancestor resolved; nothing when refused. Reads the
/// file system, changes nothing.
std::optional<std::string> authorize(std::string_view path, const std::string& workspaceRoot,
                                     const std::vector<std::string>& extraRoots,
                                     const vorn::FileSystemView& fs = vorn::posixFileSystem());

}  // namespace VornAgentRunnerMain
