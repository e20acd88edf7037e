// Lexical path rules: tilde expansion and standardisation.
#pragma once

#include <string>
#include <string_view>

#include "agent-runner/workspace/file_system_view.h"

namespace vorn {

/// Replaces a leading "~" or "~user" (alone or before a "/") with that home
/// directory; unknown users and other paths come back unchanged.
std::string expandTilde(std::string_view path, const FileSystemView& fs);

/// Collapses repeated separators, drops "." components, resolves ".." against
/// the component before it where there is one ("/.." is "/"), and removes a
/// trailing separator except from "/". Relative paths stay relative; the
/// empty path stays empty. Purely lexical.
std::string standardizePath(std::string_view path);

/// `path` without its last component ("/a/b" -> "/a", "/a" -> "/",
/// "a" -> ""); `path` must be standardised.
std::string parentPath(std::string_view path);

}  // namespace vorn
