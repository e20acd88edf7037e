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

/// Whether `text` holds a NUL byte: such a text is never handed to the
/// system, which would read it only up to the NUL.
bool holdsNul(std::string_view text);

/// Whether `component` names a repository's administrative entry: ".git",
/// in any letter case (case-folding file systems take ".GIT" for it).
bool isGitAdminName(std::string_view component);

/// Whether any component of `path` is a ".git" entry (isGitAdminName).
bool namesGitAdminEntry(std::string_view path);

/// `path` without its last component ("/a/b" -> "/a", "/a" -> "/",
/// "a" -> ""); `path` must be standardised.
std::string parentPath(std::string_view path);

}  // namespace vorn
