// Two halves must hold for the same root: the candidate is inside the root as
// written, and the real location of what exists of it is inside the real
// root. The second half stops a link inside the workspace from leading out.
#include "agent-runner/workspace/authorize.h"

#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

bool isInside(const std::string& path, const std::string& root) {
  if (path == root) return true;
  std::string slashForm = root.ends_with('/') ? root : root + "/";
  return path.starts_with(slashForm);
}

// The candidate itself when it exists, else its deepest existing ancestor.
std::optional<std::string> findAnchor(const std::string& candidate,
                                      const vorn::FileSystemView& fs) {
  std::string current = candidate;
  if (fs.exists(current)) return current;
  for (;;) {
    std::string parent = vorn::parentPath(current);
    if (parent == current || parent.empty()) return std::nullopt;
    if (fs.exists(parent)) return parent;
    current = std::move(parent);
  }
}

// Extra roots get the same trimming and tilde expansion as the workspace
// root, so "~/notes" means what the caller meant.
std::vector<std::string> allowedRoots(const std::string& workspaceRoot,
                                      const std::vector<std::string>& extraRoots,
                                      const vorn::FileSystemView& fs) {
  std::vector<std::string> roots;
  if (!workspaceRoot.empty()) roots.push_back(vorn::standardizePath(workspaceRoot));
  for (const auto& extra : extraRoots) {
    if (auto root = resolveRoot(extra, fs); !root.empty()) roots.push_back(std::move(root));
  }
  return roots;
}

}  // namespace

std::string resolveRoot(const std::optional<std::string>& root, const vorn::FileSystemView& fs) {
  std::string_view trimmed = vorn::text::trim(root ? std::string_view(*root) : "");
  if (trimmed.empty()) return {};
  return vorn::standardizePath(vorn::expandTilde(trimmed, fs));
}

std::optional<std::string> authorize(std::string_view path, const std::string& workspaceRoot,
                                     const std::vector<std::string>& extraRoots,
                                     const vorn::FileSystemView& fs) {
  std::string expanded = vorn::expandTilde(vorn::text::trim(path), fs);
  if (!expanded.starts_with('/')) {
    if (workspaceRoot.empty()) return std::nullopt;
    expanded = workspaceRoot + "/" + expanded;
  }
  std::string candidate = vorn::standardizePath(expanded);
  auto roots = allowedRoots(workspaceRoot, extraRoots, fs);
  if (roots.empty()) return std::nullopt;
  auto anchor = findAnchor(candidate, fs);
  if (!anchor) return std::nullopt;
  auto realAnchor = fs.realPath(*anchor);
  if (!realAnchor) return std::nullopt;
  for (const auto& root : roots) {
    if (!isInside(candidate, root)) continue;
    std::string realRoot = fs.realPath(root).value_or(root);
    if (isInside(*realAnchor, realRoot)) return candidate;
  }
  return std::nullopt;
}

}  // namespace VornAgentRunnerMain
