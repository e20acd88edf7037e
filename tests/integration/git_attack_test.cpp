// Git runs against an attacker: pathspec magic from a subfolder workspace,
// repository configuration written by other means (the shell), names in
// diffs, NUL bytes in text fields. The Landlock cases say what they prove.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "agent-runner/confinement/landlock.h"
#include "agent-runner/protocol/dispatch.h"
#include "tests/support/git_sandbox.h"
#include "tests/support/unprivileged.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn::testing;
using Strings = std::vector<std::string>;
using VornAgentRunnerMain::handle;

bool landlockHere() { return vorn::confinement::landlockAbi() >= vorn::confinement::kMinimumAbi; }

vorn::RunnerRequest withPaths(vorn::RunnerRequest r, Strings paths) {
  r.paths = std::move(paths);
  return r;
}

TEST(GitPathspecs, MagicFromASubfolderWorkspaceNamesFilesLiterally) {
  GitRepo repo;
  repo.commitFile("top.txt", "committed\n", "top");
  repo.commitFile("sub/a.txt", "a\n", "sub");
  repo.write("top.txt", "uncommitted work\n");
  repo.write("sub/*.txt", "a file named with a star\n");
  const std::string sub = repo.path("sub");
  for (const char* magic : {":/top.txt", ":(top)top.txt", ":!a.txt", ":/"}) {
    auto restore = handle(withPaths(request("git_restore", sub), {magic}));
    EXPECT_FALSE(restore.ok) << magic;
    auto stage = handle(withPaths(request("git_stage", sub), {magic}));
    EXPECT_FALSE(stage.ok) << magic;
    auto diff = request("git_diff", sub);
    diff.path = magic;
    EXPECT_EQ(handle(diff).stdout_text.value_or("").find("uncommitted"), std::string::npos)
        << magic;
  }
  EXPECT_EQ(repo.read("top.txt"), "uncommitted work\n");
  EXPECT_EQ(repo.git("diff --cached --name-only"), "");
  // A glob is a name: only the file called "*.txt" is staged.
  EXPECT_TRUE(handle(withPaths(request("git_stage", sub), {"*.txt"})).ok);
  EXPECT_EQ(repo.git("diff --cached --name-only"), "sub/*.txt\n");
}

TEST(GitConfinement, ConfigurationWrittenByTheShellCannotReachOutside) {
  if (!landlockHere()) GTEST_SKIP() << "no Landlock in this kernel";
  TempDir base;
  asUnprivileged(base.path(), [&] {
    const std::string root = base.path() + "/w", outside = base.path() + "/out";
    fs::create_directories(outside);
    writeText(outside + "/mine.txt", "the user's own\n");
    sh(base.path(), "git init -q w && cd w && echo x > f && git add f && git commit -qm i");
    // What a shell command could have done to the repository's configuration.
    sh(root, "git config core.fsmonitor 'echo pwned > " + outside + "/pwned; cat " + outside +
                 "/mine.txt > leaked; false'");
    for (const char* op : {"git_status", "git_diff"}) handle(request(op, root));
    handle(withPaths(request("git_stage", root), {"f"}));
    // Proves: the fsmonitor command ran under git's ruleset, which lets it
    // neither write outside the workspace nor read a file there.
    EXPECT_FALSE(exists(outside + "/pwned"));
    EXPECT_EQ(readText(root + "/leaked"), "");

    // A branch whose tree holds out/new.txt, then a work tree moved up to
    // the workspace's parent: checking that branch out would write there.
    sh(root,
       "git config --unset core.fsmonitor && git checkout -q -b evil && mkdir out && "
       "echo planted > out/new.txt && git add out && git commit -qm evil && "
       "git checkout -q main && git config core.worktree " +
           base.path());
    auto toEvil = request("git_branch_switch", root);
    toEvil.name = "evil";
    auto answer = handle(toEvil);
    // Proves: the checkout's writes outside the workspace were refused by
    // the ruleset (git reports the file it could not create).
    EXPECT_FALSE(exists(outside + "/new.txt")) << answer.stderr_text.value_or("");
    EXPECT_EQ(readText(outside + "/mine.txt"), "the user's own\n");
  });
}

TEST(GitConfinement, OrdinaryRunsStillWorkUnderTheRuleset) {
  GitRepo repo;
  repo.write("a.txt", "a\n");
  EXPECT_TRUE(handle(withPaths(request("git_stage", repo.root()), {"a.txt"})).ok);
  auto commit = request("git_commit", repo.root());
  commit.message = "add a";
  EXPECT_TRUE(handle(commit).ok);
  repo.write("a.txt", "changed\n");
  auto diff = handle(request("git_diff", repo.root()));
  EXPECT_NE(diff.stdout_text.value_or("").find("+changed"), std::string::npos);
  EXPECT_TRUE(handle(withPaths(request("git_restore", repo.root()), {"a.txt"})).ok);
  EXPECT_EQ(repo.read("a.txt"), "a\n");
}

TEST(GitConfinement, UserConfigurationAndWhatItIncludesStayReadable) {
  GitRepo repo;
  TempDir home;
  std::string global = home.path() + "/gitconfig";
  writeText(global, "[include]\n\tpath = more.gitconfig\n");
  writeText(home.path() + "/more.gitconfig",
            "[user]\n\tname = T\n\temail = t@vorn.invalid\n[core]\n\texcludesFile = " +
                home.path() + "/ignored\n");
  writeText(home.path() + "/ignored", "*.tmp\n");
  repo.write("scratch.tmp", "x");
  repo.write("kept.txt", "x");
  std::string previous = std::getenv("GIT_CONFIG_GLOBAL");
  ::setenv("GIT_CONFIG_GLOBAL", global.c_str(), 1);
  auto status = handle(request("git_status", repo.root()));
  ::setenv("GIT_CONFIG_GLOBAL", previous.c_str(), 1);
  EXPECT_EQ(status.stdout_text, "## main\n?? kept.txt\n") << status.stderr_text.value_or("");
  EXPECT_EQ(status.stderr_text, "");
}

TEST(GitTextFields, NulBytesNeverReachGit) {
  GitRepo repo;
  repo.write("a.txt", "a\n");
  repo.git("add a.txt");
  const std::string nul(1, '\0');
  auto commit = request("git_commit", repo.root());
  commit.message = "harmless" + nul + "--amend";
  auto t = traced(commit);
  EXPECT_EQ(t.answer.error, "git commit failed");
  EXPECT_TRUE(t.commands.empty());
  EXPECT_EQ(repo.git("rev-list --count HEAD"), "1\n");
  for (auto field : {&vorn::RunnerRequest::name, &vorn::RunnerRequest::remote}) {
    auto push = request(field == &vorn::RunnerRequest::name ? "git_branch_create" : "git_push",
                        repo.root());
    push.*field = "x" + nul + "y";
    auto refused = traced(push);
    EXPECT_TRUE(refused.answer.error == "invalid_branch" ||
                refused.answer.error == "invalid_remote");
    EXPECT_TRUE(refused.commands.empty());
  }
  auto deliver = request("git_deliver", repo.root());
  deliver.worktree_path = ".vorn/worktrees/.." + nul;
  deliver.branch = "b";
  EXPECT_EQ(handle(deliver).error, "path_outside_workspace");
  EXPECT_EQ(repo.git("rev-list --count HEAD"), "1\n");
}

TEST(GitPaths, AMegabytePathIsAnsweredWithoutLookingAtEachAncestor) {
  GitRepo repo;
  std::string huge;
  for (int i = 0; i < (1 << 19); ++i) huge += "a/";
  auto answer = handle(withPaths(request("git_stage", repo.root()), {huge + "x"}));
  EXPECT_FALSE(answer.ok);  // git cannot name it either
  EXPECT_EQ(repo.git("diff --cached --name-only"), "");
}

TEST(ApplyDiffNames, EveryNameIsAuthorisedAndEveryChangeListed) {
  GitRepo repo;
  repo.commitFile("old.txt", "o\n", "old");
  repo.commitFile("src.txt", "s\n", "src");
  for (std::string diff : {"diff --git a/old.txt b/x\nsimilarity index 100%\nrename from old.txt\n"
                           "rename to ../escaped.txt\n",
                           "diff --git a/src.txt b/y\nsimilarity index 100%\ncopy from "
                           "../../etc/passwd\ncopy to y\n",
                           "diff --git a/../z b/../z\nnew file mode 100644\n",
                           "--- /dev/null\n+++ b/.git/hooks/post-checkout\n@@ -0,0 +1 @@\n+x\n"}) {
    auto r = request("apply_diff", repo.root());
    r.diff = diff;
    auto t = traced(r);
    EXPECT_EQ(t.answer.error, "path_outside_workspace") << diff;
    EXPECT_TRUE(t.commands.empty());
  }
  auto r = request("apply_diff", repo.root());
  r.diff =
      "diff --git a/old.txt b/new.txt\nsimilarity index 100%\nrename from old.txt\nrename to "
      "new.txt\ndiff --git a/src.txt b/copy.txt\nsimilarity index 100%\ncopy from src.txt\ncopy "
      "to copy.txt\n";
  auto answer = handle(r);
  EXPECT_TRUE(answer.ok) << answer.error.value_or("");
  EXPECT_EQ(answer.affected_paths, (Strings{"copy.txt", "new.txt", "old.txt"}));
  EXPECT_EQ(repo.read("new.txt"), "o\n");
  EXPECT_EQ(repo.read("copy.txt"), "s\n");
  EXPECT_FALSE(exists(repo.path("old.txt")));
}

}  // namespace
