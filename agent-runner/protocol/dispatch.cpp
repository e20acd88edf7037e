#include "agent-runner/protocol/dispatch.h"

#include <exception>
#include <string>

#include "agent-runner/git/branches.h"
#include "agent-runner/git/diff_apply.h"
#include "agent-runner/git/index_commit.h"
#include "agent-runner/git/inspection.h"
#include "agent-runner/git/restore.h"
#include "agent-runner/process/shell.h"
#include "agent-runner/sandbox/availability.h"
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
    {"ping", ping, false},
    {"write_file", writeFile, false},
    {"mkdir", mkdir, false},
    {"delete_file", deleteFile, false},
    {"shell", shell, true},
    {"apply_diff", applyDiff, true},
    {"git_stage", gitStage, true},
    {"git_unstage", gitUnstage, true},
    {"git_commit", gitCommit, true},
    {"git_push", gitPush, true},
    {"git_branch_create", gitBranchCreate, true},
    {"git_branch_switch", gitBranchSwitch, true},
    {"git_branch_list", gitBranchList, true},
    {"git_restore", gitRestore, true},
    {"git_status", gitStatus, true},
    {"git_log", gitLog, true},
    {"git_diff", gitDiff, true},
    {"git_worktree_add", gitWorktreeAdd, true},
    {"git_worktree_remove", gitWorktreeRemove, true},
    {"git_deliver", gitDeliver, true},
};

}  // namespace

std::span<const OperationEntry> operationTable() { return kOperations; }

vorn::RunnerResponse handle(const vorn::RunnerRequest& request) {
  std::string name = vorn::text::lowercase(vorn::text::trim(request.op));
  for (const auto& entry : kOperations) {
    if (entry.name != name) continue;
    if (entry.startsPrograms) {
      if (auto refused = vorn::sandbox::refusal()) return vorn::failure(*refused);
    }
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
