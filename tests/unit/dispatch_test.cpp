// The operation table: every documented operation is wired, and each one
// answers a request that carries nothing but its name.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "agent-runner/protocol/dispatch.h"

namespace {

using VornAgentRunnerMain::handle;
using VornAgentRunnerMain::operationTable;

const std::set<std::string> kOperations = {"ping",
                                           "write_file",
                                           "mkdir",
                                           "delete_file",
                                           "shell",
                                           "apply_diff",
                                           "git_stage",
                                           "git_unstage",
                                           "git_commit",
                                           "git_push",
                                           "git_branch_create",
                                           "git_branch_switch",
                                           "git_branch_list",
                                           "git_restore",
                                           "git_status",
                                           "git_log",
                                           "git_diff",
                                           "git_worktree_add",
                                           "git_worktree_remove",
                                           "git_deliver"};

TEST(OperationTable, HoldsExactlyTheOperations) {
  std::set<std::string> names;
  for (const auto& entry : operationTable()) names.emplace(entry.shape.name);
  EXPECT_EQ(names, kOperations);
  EXPECT_EQ(operationTable().size(), kOperations.size());
}

// Without fields every operation refuses with its own first check (the shell
// has no command, the rest no path, diff or workspace) and touches nothing.
TEST(OperationTable, BareRequestsAreRefusedByTheOperation) {
  for (const auto& name : kOperations) {
    if (name == "ping") continue;
    auto answer = handle({.op = name});
    EXPECT_FALSE(answer.ok) << name;
    ASSERT_TRUE(answer.error) << name;
    EXPECT_FALSE(answer.error->starts_with("unknown op")) << name;
    EXPECT_FALSE(answer.error->starts_with("internal_error")) << name;
  }
}

}  // namespace
