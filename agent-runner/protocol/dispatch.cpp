#include "agent-runner/protocol/dispatch.h"

#include <exception>
#include <string>

#include "agent-runner/git/branches.h"
#include "agent-runner/git/diff_apply.h"
#include "agent-runner/git/index_commit.h"
#include "agent-runner/git/inspection.h"
#include "agent-runner/git/restore.h"
#include "agent-runner/process/shell.h"
#include "agent-runner/workspace/file_operations.h"
#include "agent-runner/worktree/delivery.h"
#include "agent-runner/worktree/worktrees.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

vorn::RunnerResponse ping(const vorn::RunnerRequest&) {
  return vorn::success({.stdoutText = "pong"});
}

constexpr OperationEntry kOperations[] = {
    {"ping", ping},
    {"write_file", writeFile},
    {"mkdir", mkdir},
    {"delete_file", deleteFile},
    {"shell", shell},
    {"apply_diff", applyDiff},
    {"git_stage", gitStage},
    {"git_unstage", gitUnstage},
    {"git_commit", gitCommit},
    {"git_push", gitPush},
    {"git_branch_create", gitBranchCreate},
    {"git_branch_switch", gitBranchSwitch},
    {"git_branch_list", gitBranchList},
    {"git_restore", gitRestore},
    {"git_status", gitStatus},
    {"git_log", gitLog},
    {"git_diff", gitDiff},
    {"git_worktree_add", gitWorktreeAdd},
    {"git_worktree_remove", gitWorktreeRemove},
    {"git_deliver", gitDeliver},
};

}  // namespace

std::span<const OperationEntry> operationTable() { return kOperations; }

vorn::RunnerResponse handle(const vorn::RunnerRequest& request) {
  std::string name = vorn::text::lowercase(vorn::text::trim(request.op));
  for (const auto& entry : kOperations) {
    if (entry.name != name) continue;
    // The last line of defence: nothing unexpected may escape an operation.
    try {
      return entry.run(request);
    } catch (const std::exception& e) {
      return vorn::failure(std::string("internal_error: ") + vorn::text::toValidUtf8(e.what()));
    } catch (...) {
      return vorn::failure("internal_error");
    }
  }
  return vorn::failure("unknown op '" + request.op + "'");
}

}  // namespace VornAgentRunnerMain
