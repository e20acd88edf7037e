// The few file-system facts path authorisation needs, behind an interface so
// the rules can be tested against an in-memory tree.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn {

class FileSystemView {
 public:
  virtual ~FileSystemView() = default;
  /// True when something exists at `path`, following symbolic links (a
  /// dangling link does not exist).
  virtual bool exists(const std::string& path) const = 0;
  /// True when `path` itself is a symbolic link (not following it).
  virtual bool isSymbolicLink(const std::string& path) const = 0;
  /// The path with every symbolic link resolved, for an existing path.
  virtual std::optional<std::string> realPath(const std::string& path) const = 0;
  /// The home directory of `user`, or of the current user when empty.
  virtual std::optional<std::string> homeDirectory(std::string_view user) const = 0;
};

/// The real file system of this process (relative paths against its working
/// directory; the current user's home from HOME, else the password database).
const FileSystemView& posixFileSystem();

}  // namespace vorn
