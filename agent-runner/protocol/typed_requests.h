// Each operation's typed request, taken out of the wire record once its
// checks have passed: values moved over (a file's content is never copied),
// names that stand in for one another resolved, defaults from the fields'
// descriptions (request_fields.h) applied.
#pragma once

#include "agent-runner/git/branches.h"
#include "agent-runner/git/diff_apply.h"
#include "agent-runner/git/index_commit.h"
#include "agent-runner/git/inspection.h"
#include "agent-runner/git/restore.h"
#include "agent-runner/process/shell.h"
#include "agent-runner/protocol/operation.h"
#include "agent-runner/workspace/file_operations.h"
#include "agent-runner/worktree/delivery.h"
#include "agent-runner/worktree/worktrees.h"

namespace VornAgentRunnerMain {

/// ping reads nothing.
struct PingRequest {};

PingRequest pingRequest(vorn::RunnerRequest& request, const Prepared& prepared);
WriteFileRequest writeFileRequest(vorn::RunnerRequest& request, const Prepared& prepared);
PathRequest pathRequest(vorn::RunnerRequest& request, const Prepared& prepared);
ShellRequest shellRequest(vorn::RunnerRequest& request, const Prepared& prepared);
ApplyDiffRequest applyDiffRequest(vorn::RunnerRequest& request, const Prepared& prepared);
PathsRequest pathsRequest(vorn::RunnerRequest& request, const Prepared& prepared);
CommitRequest commitRequest(vorn::RunnerRequest& request, const Prepared& prepared);
PushRequest pushRequest(vorn::RunnerRequest& request, const Prepared& prepared);
BranchRequest branchRequest(vorn::RunnerRequest& request, const Prepared& prepared);
RepositoryRequest repositoryRequest(vorn::RunnerRequest& request, const Prepared& prepared);
RestoreRequest restoreRequest(vorn::RunnerRequest& request, const Prepared& prepared);
LogRequest logRequest(vorn::RunnerRequest& request, const Prepared& prepared);
DiffRequest diffRequest(vorn::RunnerRequest& request, const Prepared& prepared);
WorktreeAddRequest worktreeAddRequest(vorn::RunnerRequest& request, const Prepared& prepared);
WorktreeRemoveRequest worktreeRemoveRequest(vorn::RunnerRequest& request, const Prepared& prepared);
DeliverRequest deliverRequest(vorn::RunnerRequest& request, const Prepared& prepared);

}  // namespace VornAgentRunnerMain
