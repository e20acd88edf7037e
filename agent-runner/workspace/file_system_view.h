// The few file-system facts path authorisation needs, behind an interface so
// the rules can be tested against an in-memory tree.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn {

/// What stands at a path, the path itself not followed.
enum class PathKind {
  kMissing,       // nothing
  kDanglingLink,  // a symbolic link whose target does not exist
  kLink,          // a symbolic link to something that exists
  kPresent,       // anything else
};

class FileSystemView {
 public:
  virtual ~FileSystemView() = default;
  /// What stands at `path`; one look for anything but a link.
  virtual PathKind kind(const std::string& path) const = 0;
  /// True when something exists at `path`, following symbolic links (a
  /// dangling link does not exist).
  bool exists(const std::string& path) const {
    PathKind k = kind(path);
    return k == PathKind::kLink || k == PathKind::kPresent;
  }
  /// The path with every symbolic link resolved, for an existing path.
  virtual std::optional<std::string> realPath(const std::string& path) const = 0;
  /// The home directory of `user`, or of the current user when empty.
  virtual std::optional<std::string> homeDirectory(std::string_view user) const = 0;
};

/// The real file system of this process (relative paths against its working
/// directory; the current user's home from HOME, else the password database).
const FileSystemView& posixFileSystem();

}  // namespace vorn
