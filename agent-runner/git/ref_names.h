// Branch and remote names from requests are checked here before any of them
// reaches git's argument vector.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace VornAgentRunnerMain {

/// The trimmed name when it may be a branch: not empty, no leading "-" or
/// ".", no "..", "//", backslash, NUL or space, only letters, marks, numbers
/// and "/_-.+@", at most 255 characters (grapheme clusters). Nothing else.
std::optional<std::string> validateBranchName(std::string_view text);

/// The trimmed name when it may be a remote: not empty, no leading "-", no
/// "..", "/", backslash or space, only letters, marks, numbers and "._-".
std::optional<std::string> validateRemoteName(std::string_view text);

}  // namespace VornAgentRunnerMain
