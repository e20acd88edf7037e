// One entry per operation: adding one is an entry here, its typed request
// (typed_requests.h) and its module. The checks run in the order listed,
// before anything is touched; their refusals are the answers' exact words.
#include "agent-runner/protocol/operation_table.h"

#include "agent-runner/protocol/answers.h"
#include "agent-runner/protocol/request_fields.h"
#include "agent-runner/protocol/typed_requests.h"

namespace VornAgentRunnerMain {
namespace {

using namespace fields;

// ---- Requests ----

constexpr Field kWriteFields[] = {kFilePath, kContent, kWorkspaceRoot, kExtraRoots};
constexpr Field kFolderFields[] = {kFolderPath, kWorkspaceRoot};
constexpr Field kDeleteFields[] = {kDeletePath, kWorkspaceRoot};
constexpr Field kShellFields[] = {kCommand, kShellRoot, kShellTimeoutField, kAllowNetwork};
constexpr Field kApplyFields[] = {kDiff, kRepositoryRoot, kDryRun, kGitTimeout};
constexpr Field kIndexFields[] = {kRepositoryRoot, kPaths, kOnePath, kGitTimeout};
constexpr Field kCommitFields[] = {kRepositoryRoot, kCommitMessage, kGitTimeout};
constexpr Field kPushFields[] = {kRepositoryRoot, kRemote,      kPushBranch,
                                 kPushAlias,      kSetUpstream, kLongGitTimeout};
constexpr Field kBranchFields[] = {kRepositoryRoot, kBranchName, kBranchAlias, kGitTimeout};
constexpr Field kRepositoryFields[] = {kRepositoryRoot, kGitTimeout};
constexpr Field kRestoreFields[] = {kRepositoryRoot, kPaths,           kOnePath,
                                    kRestoreStaged,  kRestoreWorktree, kGitTimeout};
constexpr Field kLogFields[] = {kRepositoryRoot, kCount, kGitTimeout};
constexpr Field kDiffFields[] = {kRepositoryRoot, kScope, kBaseBranch, kDiffPath, kGitTimeout};
constexpr Field kWorktreeAddFields[] = {kRepositoryRoot, kWorktreePath,        kWorktreePathAlias,
                                        kWorktreeBranch, kWorktreeBranchAlias, kLongGitTimeout};
constexpr Field kWorktreeRemoveFields[] = {kRepositoryRoot, kWorktreePaths, kWorktreePath,
                                           kWorktreePathAlias, kLongGitTimeout};
constexpr Field kDeliverFields[] = {
    kRepositoryRoot,      kWorktreePath,   kWorktreePathAlias, kDeliverBranch,
    kWorktreeBranchAlias, kDeliverMessage, kNoFastForward,     kPrune,
    kMergeTimeout};

// ---- What each answer may carry besides the common fields ----

constexpr Field kPingAnswer[] = {kStdout};
constexpr Field kFileAnswer[] = {kAnswerPath, kAffectedPaths};
constexpr Field kWriteAnswer[] = {kAnswerPath, kWrittenBytes, kAffectedPaths};
constexpr Field kRunAnswer[] = {kStdout, kStderr, kExitStatus};
constexpr Field kPathsRunAnswer[] = {kAffectedPaths, kStdout, kStderr, kExitStatus};
constexpr Field kWorktreeAnswer[] = {kAnswerPath, kAffectedPaths, kStdout, kStderr, kExitStatus};

// ---- Checks ----

constexpr Check kPathChecks[] = {{.fields = {"path"}, .refusal = "path is required"}};
constexpr Check kWriteChecks[] = {
    {.fields = {"path"}, .refusal = "path is required"},
    {.fields = {"content"}, .rule = Rule::kPresent, .refusal = "content is required"}};
constexpr Check kShellChecks[] = {{.fields = {"command"}, .refusal = "command is required"}};
constexpr Check kApplyChecks[] = {{.fields = {"diff"}, .refusal = "diff is required"},
                                  kNeedsRepository};
constexpr Check kRepositoryChecks[] = {kNeedsRepository};
constexpr Check kPathsChecks[] = {
    kNeedsRepository,
    {.fields = {"paths", "path"}, .rule = Rule::kPresent, .refusal = "paths are required"}};
constexpr Check kCommitChecks[] = {
    kNeedsRepository, {.fields = {"message"}, .refusal = "commit message is required"}};
constexpr Check kWorktreeChecks[] = {
    kNeedsRepository,
    {.fields = {"worktree_path", "path"}, .refusal = "worktree_path is required"}};
constexpr Check kWorktreeRemoveChecks[] = {kNeedsRepository,
                                           {.fields = {"paths", "worktree_path", "path"},
                                            .rule = Rule::kAnyUsable,
                                            .refusal = "paths are required"}};

// clang-format off
constexpr Operation kOperations[] = {
    {{"ping", "Answers \"pong\": the runner is there.", {}, kPingAnswer},
     {}, serve<pingRequest, ping>},
    {{"write_file", "Replaces a file's whole content atomically, creating missing folders; "
      "answers the path and the bytes written.", kWriteFields, kWriteAnswer},
     kWriteChecks, serve<writeFileRequest, writeFile>},
    {{"mkdir", "Creates a folder and its missing parents; answers its path.",
      kFolderFields, kFileAnswer},
     kPathChecks, serve<pathRequest, mkdir>},
    {{"delete_file", "Removes a file, a link or a folder tree; answers its path and \"deleted\".",
      kDeleteFields, kFileAnswer},
     kPathChecks, serve<pathRequest, deleteFile>},
    {{"shell", "Runs a command line under a time limit; answers its output and exit status.",
      kShellFields, kRunAnswer},
     kShellChecks, serve<shellRequest, shell>},
    {{"apply_diff", "Checks or applies a unified diff with git apply; answers git's words and "
      "the paths the diff touches.", kApplyFields, kPathsRunAnswer},
     kApplyChecks, serve<applyDiffRequest, applyDiff>},
    {{"git_stage", "Stages paths (git add); answers git's output and the paths.",
      kIndexFields, kPathsRunAnswer},
     kPathsChecks, serve<pathsRequest, gitStage>},
    {{"git_unstage", "Takes paths out of the index, keeping the files; answers git's output "
      "and the paths.", kIndexFields, kPathsRunAnswer},
     kPathsChecks, serve<pathsRequest, gitUnstage>},
    {{"git_commit", "Commits what the index holds; answers git's output.",
      kCommitFields, kRunAnswer},
     kCommitChecks, serve<commitRequest, gitCommit>},
    {{"git_push", "Fetches the remote, then pushes a branch; answers git's output.",
      kPushFields, kRunAnswer},
     kRepositoryChecks, serve<pushRequest, gitPush>},
    {{"git_branch_create", "Creates a branch from HEAD and switches to it; answers git's output.",
      kBranchFields, kRunAnswer},
     kRepositoryChecks, serve<branchRequest, gitBranchCreate>},
    {{"git_branch_switch", "Switches to a branch; answers git's output.",
      kBranchFields, kRunAnswer},
     kRepositoryChecks, serve<branchRequest, gitBranchSwitch>},
    {{"git_branch_list", "Lists the branches; answers git branch --list's output.",
      kRepositoryFields, kRunAnswer},
     kRepositoryChecks, serve<repositoryRequest, gitBranchList>},
    {{"git_restore", "Puts paths back as HEAD has them, in the index and the working tree; "
      "answers git's output and the paths.", kRestoreFields, kPathsRunAnswer},
     kPathsChecks, serve<restoreRequest, gitRestore>},
    {{"git_status", "Answers git status --porcelain=1 --branch's output.",
      kRepositoryFields, kRunAnswer},
     kRepositoryChecks, serve<repositoryRequest, gitStatus>},
    {{"git_log", "Answers the newest commits, one line each (git log --oneline).",
      kLogFields, kRunAnswer},
     kRepositoryChecks, serve<logRequest, gitLog>},
    {{"git_diff", "Answers the differences of the working tree, the index or the branch "
      "(cut at 48000 bytes).", kDiffFields, kRunAnswer},
     kRepositoryChecks, serve<diffRequest, gitDiff>},
    {{"git_worktree_add", "Gives an agent a worktree of its own on a branch, inside "
      ".vorn/worktrees; answers its path.", kWorktreeAddFields, kWorktreeAnswer},
     kWorktreeChecks, serve<worktreeAddRequest, gitWorktreeAdd>},
    {{"git_worktree_remove", "Removes worktrees; answers what was removed and what failed.",
      kWorktreeRemoveFields, kPathsRunAnswer},
     kWorktreeRemoveChecks, serve<worktreeRemoveRequest, gitWorktreeRemove>},
    {{"git_deliver", "Commits a worktree's pending work and merges its branch into the "
      "workspace's checkout; answers what was merged.", kDeliverFields, kPathsRunAnswer},
     kWorktreeChecks, serve<deliverRequest, gitDeliver>},
};
// clang-format on

}  // namespace

std::span<const Operation> operationTable() { return kOperations; }

const Operation* findOperation(std::string_view name) {
  return vorn::schema::findOperation(operationTable(), name);
}

std::span<const vorn::schema::Field> commonAnswerFields() { return kCommonAnswer; }

}  // namespace VornAgentRunnerMain
