// The git operations against real repositories: the commands they run (as
// GIT_TRACE reports them), their answers, and their effect on the repository.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/inspection.h"
#include "agent-runner/protocol/dispatch.h"
#include "tests/support/git_sandbox.h"

namespace {

using namespace vorn::testing;
using Strings = std::vector<std::string>;
using VornAgentRunnerMain::handle;
using namespace std::chrono_literals;

vorn::RunnerRequest withPaths(vorn::RunnerRequest r, Strings paths) {
  r.paths = std::move(paths);
  return r;
}

TEST(GitPreamble, RefusesBeforeRunningAnything) {
  TempDir plain;
  auto blank = request("git_status", " \n");
  EXPECT_EQ(handle(blank).error, "workspace_root is required");
  EXPECT_EQ(handle(request("git_log", plain.path())).error, "No git repository found");
  EXPECT_EQ(handle(request("git_log", plain.path() + "/missing")).error, "No git repository found");
}

TEST(GitPreamble, SubdirectoryRootRunsGitThere) {
  GitRepo repo;
  repo.write("sub/a.txt", "a\n");
  repo.write("b.txt", "b\n");
  auto r = request("git_stage", repo.path("sub"));
  r.path = "";
  auto answer = handle(r);
  EXPECT_TRUE(answer.ok) << answer.message.value_or("");
  EXPECT_EQ(answer.affected_paths, Strings{"."});
  EXPECT_EQ(repo.git("diff --cached --name-only"), "sub/a.txt\n");
}

TEST(GitPreamble, DotGitFileIsTakenWithoutAProbe) {
  GitRepo repo;
  TempDir other;
  writeText(other.path() + "/.git", "gitdir: " + repo.root() + "/.git\n");
  auto t = traced(request("git_status", other.path()));
  ASSERT_FALSE(t.commands.empty());
  EXPECT_EQ(t.commands.front(), "status --porcelain=1 --branch");
}

TEST(GitEnvironment, DropsRepositoryLocatorsAndDisablesPrompts) {
  const char* base[] = {"PATH=/bin",
                        "GIT_DIR=/elsewhere/.git",
                        "GIT_WORK_TREE=/x",
                        "GIT_INDEX_FILE=i",
                        "GIT_TERMINAL_PROMPT=1",
                        "GIT_CONFIG_GLOBAL=/g",
                        "GIT_DIRX=kept",
                        nullptr};
  auto env = VornAgentRunnerMain::gitEnvironment(const_cast<char* const*>(base), {"LC_ALL=C"});
  EXPECT_EQ(env, (Strings{"PATH=/bin", "GIT_CONFIG_GLOBAL=/g", "GIT_DIRX=kept",
                          "GIT_TERMINAL_PROMPT=0", "LC_ALL=C"}));
}

TEST(GitEnvironment, CallersRepositoryVariablesDoNotRedirectGit) {
  GitRepo workspace, other;
  workspace.write("mine.txt", "x\n");
  ::setenv("GIT_DIR", (other.root() + "/.git").c_str(), 1);
  ::setenv("GIT_WORK_TREE", other.root().c_str(), 1);
  auto answer = handle(request("git_status", workspace.root()));
  ::unsetenv("GIT_DIR");
  ::unsetenv("GIT_WORK_TREE");
  EXPECT_NE(answer.stdout_text.value_or("").find("?? mine.txt"), std::string::npos);
}

TEST(GitFailureText, SilentFailureAnswersTheEmptyText) {
  GitRepo repo;
  auto r = request("git_commit", repo.root());
  r.message = "nothing staged";
  auto answer = handle(r);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, "");
  EXPECT_EQ(answer.message, "");
  EXPECT_EQ(answer.exit_status, 1);
  EXPECT_NE(answer.stdout_text.value_or("").find("nothing to commit"), std::string::npos);
}

TEST(IndexAndCommit, StageUnstageCommitChangeTheRepository) {
  GitRepo repo;
  repo.write("src/a.c", "a\n");
  repo.write("b c.txt", "b\n");
  auto stage = traced(
      withPaths(request("git_stage", repo.root()), {repo.path("src/a.c"), "b c.txt", "b c.txt"}));
  EXPECT_EQ(stage.answer.message, "Staged 3 path(s)");
  EXPECT_EQ(stage.answer.affected_paths, (Strings{"src/a.c", "b c.txt", "b c.txt"}));
  EXPECT_EQ(stage.commands, Strings{"add -- src/a.c 'b c.txt' 'b c.txt'"});
  EXPECT_EQ(repo.git("diff --cached --name-only"), "b c.txt\nsrc/a.c\n");

  auto unstage = handle(withPaths(request("git_unstage", repo.root()), {"b c.txt"}));
  EXPECT_EQ(unstage.message, "Unstaged 1 path(s)");
  EXPECT_EQ(repo.git("diff --cached --name-only"), "src/a.c\n");

  auto commit = request("git_commit", repo.root());
  commit.message = "\n  Add a\n\nwith \"quotes\" and -dashes  \n";
  EXPECT_EQ(handle(commit).message, "Commit created");
  EXPECT_EQ(repo.git("log -1 --format=%B"), "Add a\n\nwith \"quotes\" and -dashes\n\n");
}

TEST(IndexAndCommit, UnstageBeforeTheFirstCommitKeepsTheFile) {
  GitRepo repo(false);
  repo.write("new.txt", "n\n");
  repo.git("add new.txt");
  auto t = traced(withPaths(request("git_unstage", repo.root()), {"new.txt"}));
  EXPECT_TRUE(t.answer.ok) << t.answer.error.value_or("");
  EXPECT_EQ(t.commands.back(), "rm --cached -f -- new.txt");
  EXPECT_EQ(repo.git("diff --cached --name-only"), "");
  EXPECT_TRUE(exists(repo.path("new.txt")));
}

TEST(IndexAndCommit, TargetsAreRequiredAndAuthorised) {
  GitRepo repo;
  auto emptyPaths = withPaths(request("git_stage", repo.root()), {});
  emptyPaths.path = "README";
  EXPECT_EQ(handle(emptyPaths).error, "paths are required");
  EXPECT_EQ(handle(request("git_unstage", repo.root())).error, "paths are required");
  auto t = traced(withPaths(request("git_stage", repo.root()), {"README", "../x"}));
  EXPECT_EQ(t.answer.error, "path_outside_workspace");
  EXPECT_EQ(t.answer.affected_paths, std::nullopt);
  EXPECT_TRUE(t.commands.empty());
  auto blank = request("git_commit", repo.root());
  blank.message = " \n";
  EXPECT_EQ(handle(blank).error, "commit message is required");
}

TEST(Branches, CreateSwitchAndList) {
  GitRepo repo;
  auto create = request("git_branch_create", repo.root());
  create.name = " feature/x ";
  create.branch = "ignored";
  EXPECT_EQ(handle(create).message, "Created and switched to branch feature/x");
  EXPECT_EQ(repo.git("branch --show-current"), "feature/x\n");

  auto list = handle(request("git_branch_list", repo.root()));
  EXPECT_EQ(list.message, "branch_list");
  EXPECT_EQ(list.stdout_text, "* feature/x\n  main\n");

  auto toMain = request("git_branch_switch", repo.root());
  toMain.branch = "main";
  EXPECT_EQ(handle(toMain).message, "Switched to branch main");
  auto missing = request("git_branch_switch", repo.root());
  missing.name = "nope";
  auto failed = handle(missing);
  EXPECT_FALSE(failed.ok);
  EXPECT_NE(failed.error->find("nope"), std::string::npos) << *failed.error;
  EXPECT_EQ(failed.error, failed.stderr_text);
}

TEST(Branches, RefusedNamesNeverReachGit) {
  GitRepo repo;
  for (const char* name : {"-b", "a..b", "has space", ".hidden", ""}) {
    auto r = request("git_branch_create", repo.root());
    r.name = name;
    auto t = traced(r);
    EXPECT_EQ(t.answer.error, "invalid_branch") << name;
    EXPECT_TRUE(t.commands.empty()) << name;
  }
}

class Push : public ::testing::Test {
 protected:
  void SetUp() override {
    sh(remote_.path(), "git init -q --bare");
    repo_.git("remote add origin '" + remote_.path() + "'");
  }
  vorn::RunnerRequest push() const { return request("git_push", repo_.root()); }
  GitRepo repo_;
  TempDir remote_;
};

TEST_F(Push, PlainPushFetchesFirstAndUsesTheDefault) {
  repo_.git("push -q -u origin main");
  repo_.commitFile("f", "1\n", "one");
  auto t = traced(push());
  EXPECT_EQ(t.answer.message, "Push succeeded");
  ASSERT_GE(t.commands.size(), 2u);
  EXPECT_EQ(t.commands[0], "fetch --prune origin");
  EXPECT_NE(std::find(t.commands.begin(), t.commands.end(), "push"), t.commands.end());
  EXPECT_EQ(sh(remote_.path(), "git log --format=%s -1 main"), "one\n");
}

TEST_F(Push, SetUpstreamTakesTheCurrentBranchAndRecordsIt) {
  auto r = push();
  r.set_upstream = true;
  r.remote = "  origin ";
  auto t = traced(r);
  EXPECT_TRUE(t.answer.ok) << t.answer.error.value_or("");
  EXPECT_NE(std::find(t.commands.begin(), t.commands.end(), "push -u origin main"),
            t.commands.end());
  EXPECT_EQ(repo_.git("rev-parse --abbrev-ref main@{upstream}"), "origin/main\n");
}

TEST_F(Push, RefusalsAndRejections) {
  auto badRemote = push();
  badRemote.remote = "a/b";
  auto t = traced(badRemote);
  EXPECT_EQ(t.answer.error, "invalid_remote");
  EXPECT_TRUE(t.commands.empty());

  auto badBranch = push();
  badBranch.branch = "-f";
  t = traced(badBranch);
  EXPECT_EQ(t.answer.error, "invalid_branch");
  EXPECT_EQ(t.commands, Strings{"fetch --prune origin"});  // the fetch still ran

  auto missingRemote = push();
  missingRemote.remote = "nowhere";
  missingRemote.branch = "main";
  auto answer = handle(missingRemote);
  EXPECT_FALSE(answer.ok);
  EXPECT_NE(answer.error->find("nowhere"), std::string::npos) << *answer.error;

  // A history the remote does not have on top of its own is rejected.
  repo_.git("push -q origin main");
  sh(remote_.path(), "git update-ref refs/heads/main $(git commit-tree -m other 'main^{tree}')");
  auto rejected = push();
  rejected.branch = "main";
  answer = handle(rejected);
  EXPECT_FALSE(answer.ok);
  EXPECT_NE(answer.error->find("rejected"), std::string::npos) << *answer.error;
}

TEST_F(Push, DetachedHeadPushesHeadByName) {
  repo_.git("checkout -q --detach");
  auto r = push();
  r.set_upstream = true;
  auto t = traced(r);
  EXPECT_NE(std::find(t.commands.begin(), t.commands.end(), "push -u origin HEAD"),
            t.commands.end());
}

TEST(Inspection, StatusLogAndTheirArguments) {
  GitRepo repo;
  for (int i = 0; i < 3; ++i) repo.commitFile("n", std::to_string(i), "c" + std::to_string(i));
  repo.write("new.txt", "x");
  auto status = traced(request("git_status", repo.root()));
  EXPECT_EQ(status.answer.message, "status");
  EXPECT_EQ(status.answer.stdout_text, "## main\n?? new.txt\n");

  auto expectLog = [&](std::optional<std::int64_t> count, const std::string& flag,
                       std::size_t lines) {
    auto r = request("git_log", repo.root());
    r.count = count;
    auto t = traced(r);
    EXPECT_EQ(t.commands, Strings{"log --oneline " + flag});
    auto out = t.answer.stdout_text.value_or("");
    EXPECT_EQ(static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')), lines);
  };
  expectLog(std::nullopt, "-10", 4);
  expectLog(0, "-1", 1);
  expectLog(-5, "-1", 1);
  expectLog(500, "-100", 4);
}

TEST(Inspection, DiffScopesAndPaths) {
  GitRepo repo;
  repo.git("checkout -q -b topic");
  repo.commitFile("t.txt", "t\n", "topic work");
  repo.write("README", "changed\n");
  repo.write("other", "o\n");
  repo.git("add other");

  auto diff = [&](std::optional<std::string> scope, std::optional<std::string> base,
                  std::optional<std::string> path) {
    auto r = request("git_diff", repo.root());
    r.scope = std::move(scope);
    r.base_branch = std::move(base);
    r.path = std::move(path);
    return traced(r);
  };
  auto unstaged = diff(std::nullopt, std::nullopt, repo.root());
  EXPECT_EQ(unstaged.commands, Strings{"diff -- ."});
  EXPECT_NE(unstaged.answer.stdout_text->find("+changed"), std::string::npos);
  EXPECT_EQ(diff(" STAGED ", std::nullopt, " ").commands, Strings{"diff --staged"});
  auto branch = diff("branch", std::nullopt, "t.txt");
  EXPECT_EQ(branch.commands, Strings{"diff main...HEAD -- t.txt"});
  EXPECT_NE(branch.answer.stdout_text->find("+t"), std::string::npos);
  EXPECT_EQ(diff("whatever", std::nullopt, std::nullopt).commands, Strings{"diff"});

  auto refused = diff("branch", "-x", std::nullopt);
  EXPECT_EQ(refused.answer.error, "invalid_base_branch");
  EXPECT_TRUE(refused.commands.empty());
  EXPECT_EQ(diff(std::nullopt, std::nullopt, "/etc").answer.error, "path_outside_workspace");
  auto unknownBase = diff("branch", "nosuch", std::nullopt);
  EXPECT_FALSE(unknownBase.answer.ok);
  EXPECT_EQ(unknownBase.answer.error, unknownBase.answer.stderr_text);
}

TEST(Inspection, LongDiffIsCutWithAMarkerOnlyPastTheByteLimit) {
  using VornAgentRunnerMain::truncateDiff;
  std::string small(48000, 'a');
  EXPECT_EQ(truncateDiff(small), small);
  // 16000 three-byte characters need 48000 bytes: kept whole, no marker.
  std::string wide;
  for (int i = 0; i < 16000; ++i) wide += "\u20ac";
  EXPECT_EQ(truncateDiff(wide), wide);
  EXPECT_EQ(truncateDiff(wide + "\u20ac"), wide + "\u20ac" + "\n\u2026(diff truncated)");
}

TEST(Restore, PutsPathsBackFromHead) {
  GitRepo repo;
  repo.commitFile("a", "a\n", "a");
  repo.write("a", "edited\n");
  repo.write("README", "edited\n");
  repo.git("add README");
  auto r = withPaths(request("git_restore", repo.root()), {"a", "README", "a"});
  auto t = traced(r);
  EXPECT_EQ(t.answer.message, "Restored 3 path(s) from HEAD");
  EXPECT_EQ(t.commands, Strings{"restore --source=HEAD --staged --worktree -- a README a"});
  EXPECT_EQ(repo.read("a"), "a\n");
  EXPECT_EQ(repo.read("README"), "hello\n");
  EXPECT_EQ(repo.git("status --porcelain"), "");

  auto neither = withPaths(request("git_restore", repo.root()), {"a"});
  neither.staged = false;
  neither.worktree = false;
  EXPECT_EQ(traced(neither).commands.front(), "restore --source=HEAD -- a");
}

TEST(Restore, FallsBackToCheckoutAndReportsItsFailure) {
  GitRepo repo;
  auto r = withPaths(request("git_restore", repo.root()), {"not-in-head"});
  auto t = traced(r);
  EXPECT_FALSE(t.answer.ok);
  ASSERT_EQ(t.commands.size(), 2u);
  EXPECT_EQ(t.commands[1], "checkout HEAD -- not-in-head");
  EXPECT_EQ(t.answer.error, t.answer.stderr_text);
  EXPECT_NE(t.answer.error->find("not-in-head"), std::string::npos);
  EXPECT_EQ(t.answer.affected_paths, Strings{"not-in-head"});
}

TEST(Restore, ConflictedPathReturnsToHead) {
  GitRepo repo;
  repo.git("checkout -q -b other");
  repo.commitFile("README", "theirs\n", "theirs");
  repo.git("checkout -q main");
  repo.commitFile("README", "ours\n", "ours");
  repo.git("merge other", true);
  ASSERT_NE(repo.read("README").find("<<<<<<<"), std::string::npos);
  auto answer = handle(withPaths(request("git_restore", repo.root()), {"README"}));
  EXPECT_TRUE(answer.ok) << answer.error.value_or("");
  EXPECT_EQ(repo.read("README"), "ours\n");
}

// A hook that never ends, and the job it put in the background, are stopped
// with the git run that started them: nothing writes into the repository
// after the answer.
TEST(GitHooks, AHookThatNeverEndsIsStoppedWithItsGit) {
  GitRepo repo;
  repo.write(
      ".git/hooks/pre-commit",
      "#!/bin/sh\nsleep 100 >/dev/null 2>&1 & echo $! > .git/bg.pid\necho $$ > .git/hook.pid\n"
      "while :; do echo tick >> .git/ticks; sleep 0.05; done\n");
  sh(repo.root(), "chmod +x .git/hooks/pre-commit && git add README");
  auto r = request("git_commit", repo.root());
  r.message = "never";
  r.timeout = 1;  // the git minimum, 5 s, applies
  EXPECT_FALSE(handle(r).ok);
  for (const char* file : {".git/bg.pid", ".git/hook.pid"}) {
    pid_t pid = std::stoi(repo.read(file));
    auto stopped = [pid] {
      std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
      return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    for (int i = 0; i < 200 && !stopped(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(stopped()) << file;
  }
  auto ticks = repo.read(".git/ticks");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(repo.read(".git/ticks"), ticks) << "the hook still writes";
}

}  // namespace
