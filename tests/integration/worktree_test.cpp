// Agent worktrees and their delivery against real repositories: what is
// created, reused, removed and merged, and that no agent's or user's work is
// ever lost on the way.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "agent-runner/protocol/dispatch.h"
#include "tests/support/git_sandbox.h"

namespace {

using namespace vorn::testing;
using Strings = std::vector<std::string>;
using VornAgentRunnerMain::handle;

vorn::RunnerRequest worktreeRequest(const std::string& op, const GitRepo& repo,
                                    const std::string& worktree, const std::string& branch) {
  auto r = request(op, repo.root());
  r.worktree_path = worktree;
  r.branch = branch;
  return r;
}

vorn::RunnerResponse add(const GitRepo& repo, const std::string& worktree,
                         const std::string& branch) {
  return handle(worktreeRequest("git_worktree_add", repo, worktree, branch));
}

vorn::RunnerResponse deliver(const GitRepo& repo, const std::string& worktree,
                             const std::string& branch, bool prune = false) {
  auto r = worktreeRequest("git_deliver", repo, worktree, branch);
  if (prune) r.prune = true;
  return handle(r);
}

std::string area(const GitRepo& repo, const std::string& name) {
  return repo.path(".vorn/worktrees/" + name);
}

TEST(WorktreeAdd, NewBranchThenExistingBranchThenReuse) {
  GitRepo repo;
  auto created = traced(worktreeRequest("git_worktree_add", repo, ".vorn/worktrees/t1", "t1"));
  EXPECT_EQ(created.answer.message, "Created worktree on new branch t1");
  EXPECT_EQ(created.answer.path, area(repo, "t1"));
  EXPECT_EQ(created.answer.affected_paths, Strings{area(repo, "t1")});
  EXPECT_EQ(created.commands, Strings{"worktree add -b t1 " + area(repo, "t1") + " HEAD"});
  EXPECT_EQ(sh(area(repo, "t1"), "git branch --show-current"), "t1\n");

  repo.git("branch existing");
  auto attached = traced(worktreeRequest("git_worktree_add", repo, area(repo, "t2"), "existing"));
  EXPECT_EQ(attached.answer.message, "Attached worktree to existing branch existing");
  EXPECT_EQ(attached.commands.size(), 2u);

  auto reused = traced(worktreeRequest("git_worktree_add", repo, area(repo, "t1"), "other"));
  EXPECT_EQ(reused.answer.message, "Using existing worktree on other");
  EXPECT_EQ(reused.answer.exit_status, 0);
  EXPECT_EQ(reused.answer.stdout_text, std::nullopt);
  EXPECT_TRUE(reused.commands.empty());
}

TEST(WorktreeAdd, RefusalsInTheirOrder) {
  GitRepo repo;
  EXPECT_EQ(add(repo, " ", "b").error, "worktree_path is required");
  EXPECT_EQ(add(repo, "../elsewhere", "b").error, "path_outside_workspace");
  for (const char* outside : {".vorn/worktrees-x/t", ".vorn/other", "tmp/wt", "."}) {
    EXPECT_EQ(add(repo, outside, "b").error, "worktree_not_in_isolation_area") << outside;
  }
  EXPECT_EQ(add(repo, ".vorn/worktrees/t", "-b").error, "invalid_branch");
  EXPECT_EQ(add(repo, ".vorn/worktrees/t", "a..b").error, "invalid_branch");
  EXPECT_FALSE(exists(repo.path(".vorn")));  // refused before anything was created
  repo.write(".vorn/worktrees", "a file in the way");
  EXPECT_TRUE(add(repo, ".vorn/worktrees/t", "b").error->starts_with("mkdir_failed: "));
}

TEST(WorktreeAdd, BothAttemptsFailingReportTheFirstComplaintFirst) {
  GitRepo repo;
  repo.git("checkout -q -b busy");
  auto answer = add(repo, ".vorn/worktrees/t", "busy");  // checked out in the primary
  EXPECT_FALSE(answer.ok);
  EXPECT_NE(answer.error->find("already exists"), std::string::npos) << *answer.error;
  EXPECT_EQ(answer.affected_paths, Strings{area(repo, "t")});
  EXPECT_EQ(answer.path, std::nullopt);
  EXPECT_NE(answer.stderr_text->find("already"), std::string::npos);  // the second run's
}

// A plain folder in the area is no worktree: it is replaced by one, and
// nothing of the user's pending work in the primary checkout gets committed.
TEST(WorktreePlainFolder, IsNeitherReusedNorDeliveredFrom) {
  GitRepo repo;
  repo.write("README", "user's pending edit\n");
  repo.write(".vorn/worktrees/plain/stray.txt", "x");
  EXPECT_EQ(deliver(repo, area(repo, "plain"), "plain").error, "worktree is not a git checkout");

  auto added = add(repo, area(repo, "plain"), "plain");
  EXPECT_EQ(added.message, "Created worktree on new branch plain");
  EXPECT_FALSE(exists(area(repo, "plain/stray.txt")));
  EXPECT_EQ(repo.git("log --format=%s"), "init\n");
  EXPECT_EQ(repo.read("README"), "user's pending edit\n");
  EXPECT_EQ(repo.git("status --porcelain -- README"), " M README\n");
}

TEST(WorktreeRemove, ReportsEachPathAndGoesOnAfterFailures) {
  GitRepo repo;
  add(repo, area(repo, "a"), "a");
  add(repo, area(repo, "b"), "b");
  std::filesystem::remove_all(area(repo, "b"));  // already gone: still "removed"
  repo.write("plain/f", "x");                    // git refuses; the folder stays

  auto r = request("git_worktree_remove", repo.root());
  r.paths = Strings{area(repo, "a"), ".vorn/worktrees/b", "plain"};
  r.worktree_path = "ignored";
  auto answer = handle(r);
  EXPECT_FALSE(answer.ok);
  ASSERT_TRUE(answer.error);
  EXPECT_TRUE(answer.error->starts_with(
      "removed .vorn/worktrees/a; removed .vorn/worktrees/b; failed plain: fatal: "))
      << *answer.error;
  EXPECT_EQ(answer.exit_status, std::nullopt);
  EXPECT_EQ(answer.affected_paths, (Strings{area(repo, "a"), area(repo, "b"), repo.path("plain")}));
  EXPECT_FALSE(exists(area(repo, "a")));
  EXPECT_TRUE(exists(repo.path("plain/f")));

  auto fallback = request("git_worktree_remove", repo.root());
  fallback.paths = Strings{};
  fallback.worktree_path = " ";
  fallback.path = ".vorn/worktrees/a";
  auto ok = handle(fallback);
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.message, "removed .vorn/worktrees/a");
  EXPECT_EQ(handle(request("git_worktree_remove", repo.root())).error, "paths are required");
  auto outside = request("git_worktree_remove", repo.root());
  outside.path = "/tmp";
  EXPECT_EQ(handle(outside).error, "path_outside_workspace");
}

TEST(Deliver, CommitsPendingEditsMergesAndPrunes) {
  GitRepo repo;
  add(repo, area(repo, "t"), "t");
  writeText(area(repo, "t") + "/new.txt", "agent work\n");
  auto answer = deliver(repo, area(repo, "t"), "t", true);
  EXPECT_TRUE(answer.ok) << answer.error.value_or("");
  EXPECT_EQ(answer.message, "Merged t into main \u00b7 worktree pruned");
  EXPECT_EQ(answer.affected_paths, (Strings{repo.root(), area(repo, "t")}));
  EXPECT_EQ(repo.read("new.txt"), "agent work\n");
  EXPECT_EQ(repo.git("log --format=%s -1"), "vorn: deliver t\n");
  EXPECT_EQ(repo.git("log --format=%s -1 HEAD^2"), "vorn: agent task changes\n");
  EXPECT_EQ(repo.git("rev-list --count --merges HEAD"), "1\n");
  EXPECT_FALSE(exists(area(repo, "t")));
  EXPECT_EQ(repo.git("branch --list t"), "  t\n");  // the branch stays
}

TEST(Deliver, CommittedWorkWithOwnMessageFastForwards) {
  GitRepo repo;
  add(repo, area(repo, "t"), "t");
  sh(area(repo, "t"),
     "echo 1 > a && git add a && git commit -qm one && echo 2 > b && "
     "git add b && git commit -qm two");
  auto r = worktreeRequest("git_deliver", repo, area(repo, "t"), "t");
  r.no_ff = false;
  r.message = "  ship it \n";
  auto answer = handle(r);
  EXPECT_EQ(answer.message, "Merged t into main");
  EXPECT_EQ(repo.git("log --format=%s -1"), "two\n");  // fast-forward: no merge commit
  EXPECT_TRUE(exists(area(repo, "t")));                // no prune asked
}

TEST(Deliver, NothingToDeliverChangesNothing) {
  GitRepo repo;
  add(repo, area(repo, "t"), "t");
  auto t = traced(worktreeRequest("git_deliver", repo, area(repo, "t"), "t"));
  EXPECT_TRUE(t.answer.ok);
  EXPECT_EQ(t.answer.message, "Nothing to deliver \u2014 worktree has no commits ahead of main");
  EXPECT_EQ(t.answer.stdout_text, "");
  EXPECT_EQ(t.answer.stderr_text, std::nullopt);
  EXPECT_EQ(t.commands, (Strings{"status --porcelain=v1 -uall", "rev-parse --abbrev-ref HEAD",
                                 "rev-list --count main..t", "status --porcelain=v1"}));
  EXPECT_EQ(repo.git("log --format=%s"), "init\n");
}

TEST(Deliver, DetachedPrimaryAndMissingWorktree) {
  GitRepo repo;
  add(repo, area(repo, "t"), "t");
  sh(area(repo, "t"), "echo x > x && git add x && git commit -qm x");
  repo.git("checkout -q --detach");
  EXPECT_EQ(deliver(repo, area(repo, "t"), "t").message, "Merged t into HEAD");
  EXPECT_EQ(repo.read("x"), "x\n");

  std::filesystem::remove_all(area(repo, "t"));
  EXPECT_EQ(deliver(repo, area(repo, "t"), "t").error, "worktree_missing");
  EXPECT_EQ(deliver(repo, repo.path("elsewhere"), "t").error, "worktree_not_in_isolation_area");
  EXPECT_EQ(deliver(repo, area(repo, "t"), "").error, "worktree_missing");
}

// Two agents change the same line: the second merge conflicts, stays for the
// user, and every commit of both agents is still reachable.
TEST(Deliver, ConflictIsLeftForTheUserAndLosesNothing) {
  GitRepo repo;
  for (const char* name : {"a1", "a2"}) {
    add(repo, area(repo, name), name);
    writeText(area(repo, name) + "/README", std::string("from ") + name + "\n");
  }
  EXPECT_TRUE(deliver(repo, area(repo, "a1"), "a1", true).ok);
  auto second = deliver(repo, area(repo, "a2"), "a2", true);
  EXPECT_FALSE(second.ok);
  EXPECT_TRUE(second.error->starts_with("Merge into primary failed: ")) << *second.error;
  EXPECT_NE(second.error->find("CONFLICT"), std::string::npos);
  EXPECT_NE(repo.read("README").find("<<<<<<<"), std::string::npos);  // mid-merge, as git left it
  EXPECT_TRUE(exists(area(repo, "a2")));                              // not pruned
  std::string a2Commit = sh(area(repo, "a2"), "git rev-parse HEAD");
  a2Commit.pop_back();
  EXPECT_EQ(repo.git("merge-base --is-ancestor a1 HEAD && echo yes"), "yes\n");
  EXPECT_EQ(repo.git("cat-file -t " + a2Commit), "commit\n");
  EXPECT_EQ(repo.git("rev-parse a2"), a2Commit + "\n");
}

TEST(Deliver, ConcurrentDeliveriesNeverCorruptTheRepository) {
  GitRepo repo;
  for (const char* name : {"c1", "c2"}) {
    add(repo, area(repo, name), name);
    writeText(area(repo, name) + "/" + name + ".txt", "work\n");
  }
  std::string answers[2];
  std::thread runners[2];
  for (int i = 0; i < 2; ++i) {
    std::string name = "c" + std::to_string(i + 1);
    std::string json = R"({"op":"git_deliver","workspace_root":")" + repo.root() +
                       R"(","worktree_path":")" + area(repo, name) + R"(","branch":")" + name +
                       R"("})";
    runners[i] = std::thread([&answers, i, json] {
      answers[i] = sh("/", std::string(VORN_AGENT_RUNNER) + " --json '" + json + "'", true);
    });
  }
  for (auto& t : runners) t.join();
  int merged = 0;
  for (const auto& a : answers) {
    if (a.find("\"ok\":true") != std::string::npos) {
      ++merged;
    } else {
      EXPECT_NE(a.find("Merge into primary failed: "), std::string::npos) << a;
    }
  }
  EXPECT_GE(merged, 1);
  repo.git("fsck --strict --no-progress");
  for (const char* name : {"c1", "c2"})
    EXPECT_EQ(repo.git(std::string("rev-parse -q --verify ") + name + " >/dev/null && echo ok"),
              "ok\n");
}

}  // namespace
