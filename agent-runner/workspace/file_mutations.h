// The changes the file operations make on disk, each answering a Status
// whose description names the path and the system's error.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "common/status.h"
#include "common/unique_fd.h"

namespace vorn {

/// Creates `path` and its missing parents; an existing directory (or a link
/// to one) is fine, anything else standing in the way is a failure.
Status makeDirectories(const std::string& path);

/// Whether a write must reach the disk before it counts as done.
enum class Durability {
  kSynced,     // the file and its folder are synced: a crash cannot lose it
  kTransient,  // a scratch file that lives for one request: no syncs
};

/// Replaces `path` with `content` atomically: a temporary file in the same
/// folder, written (and synced), renamed over `path` (then the folder
/// synced). A replaced file keeps its mode; the temporary file never survives
/// a failure. `path` must not be a symbolic link (callers resolve it).
Status writeFileAtomically(const std::string& path, std::string_view content,
                           Durability durability = Durability::kSynced);

/// The same, relative to the open folder `folder` (any descriptor, O_PATH
/// included; `folderText` names it in errors): the temporary file is made
/// in `folder`, renamed over `name` there, and `folder` is synced. Whatever
/// `name` is renamed to or from meanwhile, nothing is written elsewhere.
Status writeFileAtomicallyAt(int folder, const std::string& folderText, const std::string& name,
                             std::string_view content, Durability durability = Durability::kSynced);

/// Makes `names` one inside the other, the first in `folder` (`folderText`
/// in errors), never through a link; an existing folder on the way is
/// taken as it is. Answers the deepest one's descriptor (O_PATH). With
/// `undoOnFailure`, a failure removes again the folders this call made.
std::variant<UniqueFd, Status> makeDirectoriesAt(int folder, const std::string& folderText,
                                                 std::span<const std::string> names,
                                                 bool undoOnFailure);

/// Removes `name` in `folder` itself, as removeItem does.
Status removeItemAt(int folder, const std::string& folderText, const std::string& name);

/// Removes the item at `path` itself: a link as a link, a directory with
/// everything in it (links inside are never followed). Missing is success.
Status removeItem(const std::string& path);

/// Follows `path` through symbolic links to the first path that is not a
/// link (it need not exist). Nothing when the chain loops or runs too long.
std::optional<std::string> followLinks(const std::string& path);

}  // namespace vorn
