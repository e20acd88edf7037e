// Two halves must hold for the same root: the candidate is inside the root as
// written, and the real location of what exists of it is inside the real
// root. The second half stops a link inside the workspace from leading out.
#include "agent-runner/workspace/authorize.h"

#include <limits.h>

#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

bool isInside(const std::string& path, const std::string& root) {
  if (path == root) return true;
  std::string slashForm = root.ends_with('/') ? root : root + "/";
  return path.starts_with(slashForm);
}

struct Anchor {
  std::string path;
  bool isLink;
};

bool isThere(vorn::PathKind kind) {
  return kind == vorn::PathKind::kPresent || kind == vorn::PathKind::kLink;
}

// The deepest ancestor-or-self of `path` the system can name at all: no
// path of PATH_MAX bytes or more exists, so a long path's walk up starts
// below that length and costs linear time, not a look at every ancestor.
std::string nameableStart(const std::string& path) {
  if (path.size() < PATH_MAX) return path;
  std::size_t slash = path.rfind('/', PATH_MAX - 1);
  if (slash == std::string::npos) return path.substr(0, PATH_MAX - 1);
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The candidate itself when it exists, else its deepest existing ancestor.
std::optional<Anchor> findAnchor(const std::string& candidate, const vorn::FileSystemView& fs) {
  std::string current = nameableStart(candidate);
  vorn::PathKind kind = fs.kind(current);
  while (!isThere(kind)) {
    std::string parent = vorn::parentPath(current);
    if (parent == current || parent.empty()) return std::nullopt;
    current = std::move(parent);
    kind = fs.kind(current);
  }
  return Anchor{std::move(current), kind == vorn::PathKind::kLink};
}

}  // namespace

std::string resolveRoot(const std::optional<std::string>& root, const vorn::FileSystemView& fs) {
  std::string_view trimmed = vorn::text::trim(root ? std::string_view(*root) : "");
  if (trimmed.empty()) return {};
  return vorn::standardizePath(vorn::expandTilde(trimmed, fs));
}

// Extra roots get the same trimming and tilde expansion as the workspace
// root, so "~/notes" means what the caller meant.
PathAuthorizer::PathAuthorizer(std::string workspaceRoot,
                               const std::vector<std::string>& extraRoots,
                               const vorn::FileSystemView& fs)
    : workspaceRoot_(std::move(workspaceRoot)), fs_(fs) {
  rootHoldsNul_ = vorn::holdsNul(workspaceRoot_);
  for (const auto& extra : extraRoots) rootHoldsNul_ = rootHoldsNul_ || vorn::holdsNul(extra);
  if (!workspaceRoot_.empty()) roots_.push_back({vorn::standardizePath(workspaceRoot_), {}});
  for (const auto& extra : extraRoots) {
    if (auto root = resolveRoot(extra, fs); !root.empty()) roots_.push_back({std::move(root), {}});
  }
}

// A root that does not exist is compared as written.
const std::string& PathAuthorizer::realRoot(Root& root) {
  if (!root.real) root.real = fs_.realPath(root.lexical).value_or(root.lexical);
  return *root.real;
}

// An anchor that is not a link lies where its folder really is; only the
// folders' real paths need resolving, once each.
std::optional<std::string> PathAuthorizer::realAnchor(const std::string& anchor, bool isLink) {
  std::string folder = vorn::parentPath(anchor);
  std::string_view name = std::string_view(anchor).substr(folder.size() + (folder == "/" ? 0 : 1));
  if (isLink || folder.empty() || anchor == "/" || name == "..") return fs_.realPath(anchor);
  auto cached = realFolders_.find(folder);
  if (cached == realFolders_.end()) {
    cached = realFolders_.emplace(folder, fs_.realPath(folder)).first;
  }
  if (!cached->second) return std::nullopt;
  const std::string& real = *cached->second;
  return (real == "/" ? real : real + "/") + std::string(name);
}

std::optional<std::string> PathAuthorizer::authorize(std::string_view path) {
  if (rootHoldsNul_ || vorn::holdsNul(path)) return std::nullopt;
  std::string expanded = vorn::expandTilde(vorn::text::trim(path), fs_);
  if (!expanded.starts_with('/')) {
    if (workspaceRoot_.empty()) return std::nullopt;
    expanded = workspaceRoot_ + "/" + expanded;
  }
  std::string candidate = vorn::standardizePath(expanded);
  if (roots_.empty() || vorn::namesGitAdminEntry(candidate)) return std::nullopt;
  auto anchor = findAnchor(candidate, fs_);
  if (!anchor) return std::nullopt;
  auto real = realAnchor(anchor->path, anchor->isLink);
  if (!real || vorn::namesGitAdminEntry(*real)) return std::nullopt;
  for (auto& root : roots_) {
    if (isInside(candidate, root.lexical) && isInside(*real, realRoot(root))) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> authorize(std::string_view path, const std::string& workspaceRoot,
                                     const std::vector<std::string>& extraRoots,
                                     const vorn::FileSystemView& fs) {
  return PathAuthorizer(workspaceRoot, extraRoots, fs).authorize(path);
}

}  // namespace VornAgentRunnerMain
