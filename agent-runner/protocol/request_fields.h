// The fields of the runner's requests and answers, described once: the
// operation table lists them per operation, the typed requests take their
// defaults from them, and the schemas and tool descriptions are made of them.
#pragma once

#include <string_view>

#include "agent-runner/git/git_rules.h"
#include "agent-runner/git/inspection.h"
#include "agent-runner/process/shell.h"
#include "common/schema/field.h"

namespace VornAgentRunnerMain::fields {

using vorn::schema::Default;
using vorn::schema::Field;
using vorn::schema::Type;

constexpr Field timeoutOf(std::string_view description, GitLimit limit) {
  return {.name = "timeout",
          .type = Type::kNumber,
          .description = description,
          .fallback = Default::of(limit.fallback),
          .floor = limit.minimum};
}

// ---- Where the request acts ----

inline constexpr Field kWorkspaceRoot{
    .name = "workspace_root",
    .description =
        "The workspace folder (~ expands): relative paths start there and every path "
        "must lie inside it."};
inline constexpr Field kShellRoot{
    .name = "workspace_root",
    .description = "The folder the command runs in (~ expands); none: the runner's own."};
inline constexpr Field kRepositoryRoot{
    .name = "workspace_root",
    .description =
        "The workspace folder (~ expands), inside a git repository: git runs there "
        "and every path must lie inside it.",
    .required = true,
    .notBlank = true};
inline constexpr Field kExtraRoots{.name = "extra_roots",
                                   .type = Type::kStringList,
                                   .description = "Further folders the path may lie in.",
                                   .fallback = Default::emptyList()};

// ---- Files ----

inline constexpr Field kFilePath{
    .name = "path",
    .description =
        "The file to write, relative to the workspace root or absolute; a link is "
        "written through to its target.",
    .required = true,
    .notBlank = true};
inline constexpr Field kContent{
    .name = "content", .description = "The file's whole new content.", .required = true};
inline constexpr Field kFolderPath{.name = "path",
                                   .description = "The folder to create, with its missing parents.",
                                   .required = true,
                                   .notBlank = true};
inline constexpr Field kDeletePath{
    .name = "path",
    .description =
        "The file, link (as a link) or folder tree to remove; a missing one counts as "
        "removed.",
    .required = true,
    .notBlank = true};

// ---- Shell ----

inline constexpr Field kCommand{.name = "command",
                                .description = "The command line, run by /bin/zsh -c.",
                                .required = true,
                                .notBlank = true};
inline constexpr Field kShellTimeoutField{
    .name = "timeout",
    .type = Type::kNumber,
    .description = "Seconds before the command, and all it started, is stopped.",
    .fallback = Default::of(kShellTimeout),
    .floor = kShellMinimumTimeout};
inline constexpr Field kAllowNetwork{
    .name = "allow_network",
    .type = Type::kBoolean,
    .description = "Whether what it runs may reach the network under --sandbox.",
    .fallback = Default::of(false)};

// ---- Git ----

inline constexpr Field kGitTimeout = timeoutOf("Seconds each git run may take.", kStandardGitLimit);
inline constexpr Field kLongGitTimeout = timeoutOf("Seconds each git run may take.", kLongGitLimit);
inline constexpr Field kMergeTimeout = timeoutOf("Seconds the merge may take.", kMergeLimit);
inline constexpr Field kDiff{.name = "diff",
                             .description = "A unified diff, as git apply reads it.",
                             .required = true,
                             .notBlank = true};
inline constexpr Field kDryRun{.name = "dry_run",
                               .type = Type::kBoolean,
                               .description = "Only check that the diff applies.",
                               .fallback = Default::of(false)};
inline constexpr Field kPaths{
    .name = "paths",
    .type = Type::kStringList,
    .description = "The paths, relative to the workspace root or absolute (at least one)."};
inline constexpr Field kOnePath{.name = "path", .description = "One path, when paths is absent."};
inline constexpr Field kCommitMessage{
    .name = "message", .description = "The commit message.", .required = true, .notBlank = true};
inline constexpr Field kBranchName{.name = "name", .description = "The branch."};
inline constexpr Field kBranchAlias{.name = "branch",
                                    .description = "The branch, when name is absent."};
inline constexpr Field kPushBranch{
    .name = "branch", .description = "The branch to push; none: what git pushes by default."};
inline constexpr Field kPushAlias{.name = "name",
                                  .description = "The branch to push, when branch is absent."};
inline constexpr Field kRemote{.name = "remote",
                               .description = "The remote to fetch from and push to.",
                               .fallback = Default::of(std::string_view("origin"))};
inline constexpr Field kSetUpstream{
    .name = "set_upstream",
    .type = Type::kBoolean,
    .description = "Make the pushed branch (the current one when none is named) track the remote.",
    .fallback = Default::of(false)};
inline constexpr Field kCount{.name = "count",
                              .type = Type::kInteger,
                              .description = "How many commits to list, newest first.",
                              .fallback = Default::of(kDefaultLogCount),
                              .floor = kMinLogCount,
                              .ceiling = kMaxLogCount};
inline constexpr std::string_view kScopes[] = {"unstaged", "staged", "branch"};
inline constexpr Field kScope{
    .name = "scope",
    .description =
        "What to compare: the working tree with the index, the index with HEAD, or "
        "HEAD with the base branch.",
    .fallback = Default::of(std::string_view("unstaged")),
    .allowed = kScopes};
inline constexpr Field kBaseBranch{.name = "base_branch",
                                   .description = "The branch the branch scope compares with.",
                                   .fallback = Default::of(std::string_view("main"))};
inline constexpr Field kDiffPath{.name = "path",
                                 .description = "Only the differences in this path."};
inline constexpr Field kRestoreStaged{.name = "staged",
                                      .type = Type::kBoolean,
                                      .description = "Restore the paths in the index.",
                                      .fallback = Default::of(true)};
inline constexpr Field kRestoreWorktree{.name = "worktree",
                                        .type = Type::kBoolean,
                                        .description = "Restore the paths in the working tree.",
                                        .fallback = Default::of(true)};

// ---- Worktrees ----

inline constexpr Field kWorktreePath{
    .name = "worktree_path",
    .description = "The worktree's folder, inside .vorn/worktrees of the workspace root."};
inline constexpr Field kWorktreePathAlias{
    .name = "path", .description = "The worktree's folder, when worktree_path is absent."};
inline constexpr Field kWorktreeBranch{
    .name = "branch",
    .description = "The worktree's branch: made from HEAD when new, else checked out."};
inline constexpr Field kWorktreeBranchAlias{.name = "name",
                                            .description = "The branch, when branch is absent."};
inline constexpr Field kWorktreePaths{
    .name = "paths",
    .type = Type::kStringList,
    .description = "The worktrees to remove; else worktree_path, else path."};
inline constexpr Field kDeliverBranch{.name = "branch",
                                      .description = "The worktree's branch, to merge."};
inline constexpr Field kDeliverMessage{
    .name = "message",
    .description =
        "The message of the commit of pending work and of the merge; none: "
        "\"vorn: agent task changes\" and \"vorn: deliver <branch>\"."};
inline constexpr Field kNoFastForward{.name = "no_ff",
                                      .type = Type::kBoolean,
                                      .description = "Always make a merge commit.",
                                      .fallback = Default::of(true)};
inline constexpr Field kPrune{.name = "prune",
                              .type = Type::kBoolean,
                              .description = "Remove the worktree once its branch is merged.",
                              .fallback = Default::of(false)};

// ---- Answers ----

inline constexpr std::string_view kHelperName[] = {"vorn-agent-runner"};

/// The fields every answer has: ok, helper, pid, and error and message.
inline constexpr Field kCommonAnswer[] = {
    {.name = "ok",
     .type = Type::kBoolean,
     .description = "Whether the operation did what was asked.",
     .required = true},
    {.name = "helper",
     .description = "The program that answered.",
     .required = true,
     .allowed = kHelperName},
    {.name = "pid",
     .type = Type::kInteger,
     .description = "The answering process's id.",
     .required = true},
    {.name = "error", .description = "Why it failed; only when ok is false."},
    {.name = "message", .description = "What was done; on a failure, the same text as error."},
};

inline constexpr Field kStdout{.name = "stdout",
                               .description = "What the program printed on standard output."};
inline constexpr Field kStderr{.name = "stderr",
                               .description = "What the program printed on standard error."};
inline constexpr Field kExitStatus{
    .name = "exit_status",
    .type = Type::kInteger,
    .description = "The program's exit status (a signal's number when one ended it)."};
inline constexpr Field kAffectedPaths{.name = "affected_paths",
                                      .type = Type::kStringList,
                                      .description = "The paths the operation changed or names."};
inline constexpr Field kAnswerPath{.name = "path",
                                   .description = "The path acted on, standardised and absolute."};
inline constexpr Field kWrittenBytes{.name = "written_bytes",
                                     .type = Type::kInteger,
                                     .description = "How many bytes were written.",
                                     .minimum = 0};

}  // namespace VornAgentRunnerMain::fields
