#include "agent-runner/worktree/isolation_area.h"

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {

bool isUnderIsolationArea(const std::string& path, const std::string& primary) {
  std::string area = vorn::standardizePath(primary + "/.vorn/worktrees");
  std::string candidate = vorn::standardizePath(path);
  return candidate == area || candidate.starts_with(area + "/");
}

OrAnswer<std::string> isolatedWorktreePath(const vorn::RunnerRequest& request,
                                           const std::string& root) {
  std::string text = firstPresentTrimmed(request.worktree_path, request.path);
  if (text.empty()) return vorn::failure("worktree_path is required");
  auto path = authorize(text, root, {});
  if (!path) return vorn::failure("path_outside_workspace");
  if (!isUnderIsolationArea(*path, root)) return vorn::failure("worktree_not_in_isolation_area");
  return *path;
}

}  // namespace VornAgentRunnerMain
