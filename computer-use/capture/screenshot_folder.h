// Where screenshots are written: a private folder under the user's temporary
// directory, and files that appear under their names only when complete.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "common/unique_fd.h"

namespace Capture {

/// The folder's name inside the temporary directory.
inline constexpr std::string_view kFolderName = "vorn-ui-screenshots";

/// The user's temporary directory: TMPDIR when it is an absolute path, else
/// "/tmp"; trailing slashes removed (the root stays "/").
std::string temporaryDirectory();

/// The screenshot folder, held open so that files go into the very folder
/// that was checked, whatever happens to its path meanwhile.
struct ScreenshotFolder {
  std::string path;
  vorn::UniqueFd fd;
};

/// Opens `temporaryDirectory`/vorn-ui-screenshots, creating it (and any
/// missing parent) with mode 0700. The temporary directory is shared, so an
/// existing folder is refused when it is a symbolic link, is not a directory,
/// belongs to another user, or is open to group or others. Failure: a
/// description naming the folder and the reason, valid UTF-8.
std::variant<ScreenshotFolder, std::string> openScreenshotFolder(
    const std::string& temporaryDirectory);

/// A new file in the folder, mode 0600, that shows under its name only once
/// its whole content is written: an unnamed file linked in when finished
/// (nothing is left behind if the process ends first), else a hidden
/// temporary file renamed. Dropping an unfinished destination removes it.
class FileDestination {
 public:
  /// Nothing when the file cannot be created.
  static std::optional<FileDestination> create(const ScreenshotFolder& folder, std::string name);
  FileDestination(FileDestination&& other) noexcept;
  FileDestination& operator=(FileDestination&&) = delete;
  ~FileDestination();

  /// Writes `bytes` and gives the file its name; false when either fails, and
  /// then nothing of it stays in the folder.
  bool finish(std::span<const std::uint8_t> bytes);

 private:
  FileDestination(int folder, vorn::UniqueFd fd, std::string name, std::string temporaryName);
  void discard();

  int folder_;  // owned by the ScreenshotFolder, which outlives this
  vorn::UniqueFd fd_;
  std::string name_;
  std::string temporaryName_;  // empty for an unnamed file
};

/// `path` as a file URL: "file://" + the path with every byte other than
/// letters, digits and "-._~!$&'()*+,:=@/" percent-encoded.
std::string fileUrl(std::string_view path);

}  // namespace Capture
