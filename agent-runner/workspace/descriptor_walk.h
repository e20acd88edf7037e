// Resolving a path beneath the allowed roots one component at a time, from
// a root's descriptor, never letting the kernel follow a link. Each link is
// read where it stands and placed again beneath a root (absolute targets
// included), so the folder a walk ends in is one that was reached from a
// root at the moment of the walk: what the operation then does relative to
// it happens inside, whatever is renamed meanwhile.
#pragma once

#include <sys/stat.h>

#include <string>
#include <variant>
#include <vector>

#include "agent-runner/workspace/root_set.h"
#include "common/status.h"
#include "common/unique_fd.h"

namespace vorn {

/// What a walk does with a symbolic link in the last place.
enum class LastLink {
  kFollow,  // resolve it like any other (writing through a link)
  kKeep,    // stop at it (deleting the link itself)
};

/// Where a walk ended, inside the roots.
struct Reached {
  UniqueFd folder;                // O_PATH descriptor of the deepest folder reached
  std::string folderText;         // its path, for error descriptions
  std::vector<std::string> tail;  // below `folder`: empty when the path is a root
                                  // itself; else its first entry exists only
                                  // when `there`, and the others never do
  bool there = false;             // tail is one name and something stands at it
  struct stat st {};              // what stands there (the link itself under kKeep)
  bool danglingOutside = false;   // tail[0] is a link to a missing path outside
                                  // every root (there is set)

  /// `folderText` joined with `tail[0]`.
  std::string firstText() const;
};

/// A path that leads outside every root, or through a ".git" entry.
struct Refused {};

using Walk = std::variant<Reached, Refused, Status>;

/// Walks `candidate` (standardised, absolute, inside a root as written; see
/// RootSet::candidate) from the first root that contains it. Under kKeep a
/// link in the last place is the answer, unless it leads to something that
/// exists outside the roots (then Refused, as for every walk). Failures of
/// the system (a file in the way, a loop of links, no permission) come back
/// as a Status naming the path where they happened.
Walk walkBeneath(RootSet& roots, const std::string& candidate, LastLink last);

}  // namespace vorn
