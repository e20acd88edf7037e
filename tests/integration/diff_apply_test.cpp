// apply_diff against real repositories: what it authorises, what git does
// with the diff, and that the scratch file never stays behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "agent-runner/protocol/dispatch.h"
#include "tests/support/git_sandbox.h"

namespace {

using namespace vorn::testing;
using Strings = std::vector<std::string>;
using VornAgentRunnerMain::handle;

constexpr const char* kChangeReadme =
    "diff --git a/README b/README\n--- a/README\n+++ b/README\n@@ -1 +1 @@\n-hello\n+bye\n";

vorn::RunnerRequest applyRequest(const std::string& root, const std::string& diff,
                                 bool dryRun = false) {
  auto r = request("apply_diff", root);
  r.diff = diff;
  if (dryRun) r.dry_run = true;
  return r;
}

// Names in `folder` that a call may have left behind.
Strings leftovers(const std::string& folder) {
  Strings names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    auto name = entry.path().filename().string();
    if (name.starts_with(".vorn")) names.push_back(name);
  }
  return names;
}

TEST(ApplyDiff, AppliesAndChecksThroughTheScratchFile) {
  GitRepo repo;
  auto check = traced(applyRequest(repo.root(), kChangeReadme, true));
  EXPECT_EQ(check.answer.message, "Diff is valid");
  EXPECT_EQ(check.answer.affected_paths, Strings{"README"});
  ASSERT_EQ(check.commands.size(), 1u);
  EXPECT_TRUE(
      check.commands[0].starts_with("apply --check " + repo.root() + "/.vorn-agent-runner-"))
      << check.commands[0];
  EXPECT_TRUE(check.commands[0].ends_with(".diff"));
  // UUID: 36 upper-case characters.
  auto name = check.commands[0].substr(check.commands[0].rfind('/') + 20, 36);
  EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << name;
  EXPECT_EQ(repo.read("README"), "hello\n");

  auto apply = handle(applyRequest(repo.root(), kChangeReadme));
  EXPECT_EQ(apply.message, "Diff applied");
  EXPECT_EQ(apply.exit_status, 0);
  EXPECT_EQ(repo.read("README"), "bye\n");
  EXPECT_EQ(repo.git("diff --cached --name-only"), "");  // the index is never touched
  EXPECT_EQ(leftovers(repo.root()), Strings{});
}

TEST(ApplyDiff, DiffWithoutFinalLineFeedAndDeletionOnly) {
  GitRepo repo;
  repo.commitFile("doomed", "x\n", "doomed");
  std::string diff = kChangeReadme;
  diff.pop_back();
  EXPECT_TRUE(handle(applyRequest(repo.root(), diff)).ok);
  auto deletion =
      handle(applyRequest(repo.root(), "--- a/doomed\n+++ /dev/null\n@@ -1 +0,0 @@\n-x\n"));
  EXPECT_TRUE(deletion.ok) << deletion.error.value_or("");
  EXPECT_EQ(deletion.affected_paths, Strings{"doomed"});  // what the diff removes
  EXPECT_FALSE(exists(repo.path("doomed")));
}

TEST(ApplyDiff, RejectedDiffCarriesGitsComplaintAndThePaths) {
  GitRepo repo;
  std::string stale =
      "--- a/README\n+++ b/README\n@@ -1 +1 @@\n-not there\n+x\n--- /dev/null\n+++ b/new.txt\n"
      "@@ -0,0 +1 @@\n+n\n";
  auto answer = handle(applyRequest(repo.root(), stale));
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.affected_paths, (Strings{"README", "new.txt"}));
  ASSERT_TRUE(answer.error && answer.stderr_text);
  EXPECT_NE(answer.error->find("patch does not apply"), std::string::npos) << *answer.error;
  EXPECT_EQ(answer.error->back() != '\n', true);  // trimmed
  EXPECT_EQ(answer.exit_status, 1);
  EXPECT_FALSE(exists(repo.path("new.txt")));
  EXPECT_EQ(leftovers(repo.root()), Strings{});
}

TEST(ApplyDiff, PathsOutsideTheRootStopEverything) {
  GitRepo repo;
  for (std::string diff : {"--- /dev/null\n+++ b/../outside.txt\n@@ -0,0 +1 @@\n+x\n",
                           "--- /dev/null\n+++ \"b/\\056\\056/outside.txt\"\n@@ -0,0 +1 @@\n+x\n",
                           "--- /dev/null\n+++ b/ok.txt\n@@ -0,0 +1 @@\n+x\n+++ /etc/passwd\n"}) {
    auto t = traced(applyRequest(repo.root(), diff));
    EXPECT_EQ(t.answer.error, "path_outside_workspace") << diff;
    EXPECT_FALSE(t.answer.affected_paths->empty());
    EXPECT_TRUE(t.commands.empty());
    EXPECT_EQ(leftovers(repo.root()), Strings{});
  }
  EXPECT_EQ(handle(applyRequest(repo.root(), " \n\t")).error, "diff is required");
  auto noRoot = applyRequest("", kChangeReadme);
  EXPECT_EQ(handle(noRoot).error, "workspace_root is required");
}

TEST(ApplyDiff, SubdirectoryRootRefusesWhatGitWouldSilentlySkip) {
  GitRepo repo;
  repo.commitFile("sub/a.txt", "a\n", "sub");
  std::string both =
      "diff --git a/README b/README\n--- a/README\n+++ b/README\n@@ -1 +1 @@\n-hello\n+bye\n"
      "diff --git a/sub/a.txt b/sub/a.txt\n--- a/sub/a.txt\n+++ b/sub/a.txt\n@@ -1 +1 @@\n-a\n"
      "+b\n";
  auto answer = handle(applyRequest(repo.path("sub"), both));
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, "skipped_outside_workspace_root: README");
  EXPECT_EQ(repo.read("README"), "hello\n");
  EXPECT_EQ(repo.read("sub/a.txt"), "a\n");
  EXPECT_EQ(leftovers(repo.path("sub")), Strings{});

  // Paths inside the subdirectory apply as usual.
  std::string inside =
      "diff --git a/sub/a.txt b/sub/a.txt\n--- a/sub/a.txt\n+++ b/sub/a.txt\n@@ -1 +1 @@\n-a\n+b\n";
  answer = handle(applyRequest(repo.path("sub"), inside));
  EXPECT_TRUE(answer.ok) << answer.error.value_or("");
  EXPECT_EQ(repo.read("sub/a.txt"), "b\n");
}

TEST(ApplyDiff, ScratchFileThatCannotBeWrittenIsReported) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  GitRepo repo;
  std::filesystem::permissions(
      repo.root(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  auto answer = handle(applyRequest(repo.root(), kChangeReadme));
  std::filesystem::permissions(repo.root(), std::filesystem::perms::owner_all);
  ASSERT_TRUE(answer.error);
  EXPECT_TRUE(answer.error->starts_with("diff_temp_write_failed: ")) << *answer.error;
  EXPECT_EQ(answer.affected_paths, std::nullopt);
}

}  // namespace
