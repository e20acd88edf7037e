#include "agent-runner/mcp/workspace_ceiling.h"

#include <sys/stat.h>

#include <algorithm>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMcp {
namespace {

using VornAgentRunnerMain::authorize;

bool isFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `path` as a root: ~ expanded, standardised, a relative one from `base`;
// "" for a blank one.
std::string rootFrom(std::string_view path, const std::string& base) {
  std::string trimmed(vorn::text::trim(path));
  if (!trimmed.empty() && trimmed[0] != '/' && trimmed[0] != '~') trimmed = base + "/" + trimmed;
  return VornAgentRunnerMain::resolveRoot(trimmed);
}

void addOnce(std::vector<std::string>& folders, std::string folder) {
  if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
    folders.push_back(std::move(folder));
  }
}

std::string listed(std::span<const std::string> folders) {
  std::string text;
  for (const auto& folder : folders) text += (text.empty() ? "" : ", ") + folder;
  return text;
}

}  // namespace

std::variant<WorkspaceCeiling, std::string> WorkspaceCeiling::make(
    const std::vector<std::string>& folders, const std::string& currentDirectory) {
  std::vector<std::string> ceiling;
  for (const auto& folder : folders) {
    std::string root = rootFrom(folder, currentDirectory);
    if (root.empty() || vorn::holdsNul(root) || !isFolder(root)) {
      return "--workspace '" + vorn::text::toValidUtf8(folder) + "' is not a folder";
    }
    addOnce(ceiling, std::move(root));
  }
  if (ceiling.empty()) ceiling.push_back(VornAgentRunnerMain::resolveRoot(currentDirectory));
  return WorkspaceCeiling(std::move(ceiling));
}

std::vector<std::string> WorkspaceCeiling::narrowedBy(
    const std::optional<std::vector<vorn::mcp::Root>>& roots) const {
  if (!roots) return folders_;
  std::vector<std::string> narrowed;
  for (const auto& folder : folders_) {
    for (const auto& root : *roots) {
      if (!root.path) continue;
      std::string clientRoot = VornAgentRunnerMain::resolveRoot(*root.path);
      if (clientRoot.empty()) continue;
      if (auto inside = authorize(clientRoot, folder, {})) {
        addOnce(narrowed, std::move(*inside));
      } else if (authorize(folder, clientRoot, {})) {
        addOnce(narrowed, folder);
      }
    }
  }
  return narrowed;
}

vorn::OrRefusal<std::string> workspaceRootWithin(const std::optional<std::string>& requested,
                                                 std::span<const std::string> allowed) {
  if (allowed.empty()) {
    return vorn::Refusal{
        "path_outside_workspace: none of the client's roots lies inside this server's workspace "
        "folders"};
  }
  std::string_view wanted = requested ? vorn::text::trim(*requested) : std::string_view();
  if (wanted.empty()) return allowed.front();
  // A relative root is taken from the first folder alone: the same words
  // must not name a folder in whichever ceiling happens to hold one.
  std::string candidate = rootFrom(wanted, allowed.front());
  for (const auto& folder : allowed) {
    if (auto root = authorize(candidate, folder, {})) return std::move(*root);
  }
  return vorn::Refusal{"path_outside_workspace: workspace_root must lie inside " + listed(allowed)};
}

}  // namespace VornAgentRunnerMcp
