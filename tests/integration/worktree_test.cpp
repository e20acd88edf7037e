// Agent worktrees and their delivery against real repositories: what is
// created, reused, removed and merged, and that no agent's or user's work is
// ever lost on the way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "agent-runner/protocol/dispatch.h"
#include "common/unique_fd.h"
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

// A plain folder in the area is no worktree: it is neither reused nor
// replaced, and nothing of the user's pending work in the primary checkout
// gets committed.
TEST(WorktreePlainFolder, IsNeitherReusedNorDeliveredFrom) {
  GitRepo repo;
  repo.write("README", "user's pending edit\n");
  repo.write(".vorn/worktrees/plain/stray.txt", "x");
  EXPECT_EQ(deliver(repo, area(repo, "plain"), "plain").error, "worktree is not a git checkout");

  auto added = add(repo, area(repo, "plain"), "plain");
  EXPECT_EQ(added.error, "worktree_path_occupied: the folder is not empty");
  EXPECT_EQ(repo.read(".vorn/worktrees/plain/stray.txt"), "x");
  EXPECT_EQ(repo.git("log --format=%s"), "init\n");
  EXPECT_EQ(repo.read("README"), "user's pending edit\n");
  EXPECT_EQ(repo.git("status --porcelain -- README"), " M README\n");
}

// Creating a worktree never deletes: whatever stands at the path, other than
// nothing, an empty folder or a worktree of this repository, is refused
// before git runs, and stays as it was.
TEST(WorktreeAdd, RefusesEveryOccupiedPathAndRemovesNothing) {
  GitRepo repo;
  ASSERT_TRUE(add(repo, area(repo, "busy"), "busy").ok);
  writeText(area(repo, "busy") + "/uncommitted.txt", "agent work\n");
  repo.write(".vorn/worktrees/file", "a file\n");
  repo.write(".vorn/worktrees/hidden/.keep", "");
  std::filesystem::create_directories(repo.path(".vorn/worktrees/empty-target"));
  std::filesystem::create_directory_symlink(repo.path(".vorn/worktrees/empty-target"),
                                            repo.path(".vorn/worktrees/link"));
  GitRepo other;
  sh(repo.path(".vorn/worktrees"), "git clone -q " + other.root() + " clone");
  other.git("worktree add -q " + repo.path(".vorn/worktrees/foreign") + " -b foreign");

  const std::pair<const char*, const char*> refusals[] = {
      {".vorn/worktrees", "the folder is not empty"},
      {".vorn/worktrees/file", "something other than a folder is there"},
      {".vorn/worktrees/hidden", "the folder is not empty"},
      {".vorn/worktrees/link", "something other than a folder is there"},
      {".vorn/worktrees/clone", "a checkout of another repository is there"},
      {".vorn/worktrees/foreign", "a checkout of another repository is there"}};
  for (const auto& [path, why] : refusals) {
    auto t = traced(worktreeRequest("git_worktree_add", repo, path, "b"));
    EXPECT_EQ(t.answer.error, std::string("worktree_path_occupied: ") + why) << path;
    EXPECT_TRUE(t.commands.empty()) << path;
  }
  EXPECT_EQ(readText(area(repo, "busy") + "/uncommitted.txt"), "agent work\n");
  EXPECT_EQ(repo.read(".vorn/worktrees/file"), "a file\n");
  EXPECT_TRUE(exists(repo.path(".vorn/worktrees/hidden/.keep")));
  EXPECT_TRUE(std::filesystem::is_symlink(repo.path(".vorn/worktrees/link")));
  EXPECT_EQ(sh(repo.path(".vorn/worktrees/clone"), "git log --format=%s"), "init\n");
  EXPECT_EQ(sh(repo.path(".vorn/worktrees/foreign"), "git branch --show-current"), "foreign\n");
  EXPECT_EQ(repo.git("branch --list b"), "");

  auto intoEmpty = add(repo, ".vorn/worktrees/empty-target", "e");
  EXPECT_EQ(intoEmpty.message, "Created worktree on new branch e");
  EXPECT_EQ(sh(repo.path(".vorn/worktrees/empty-target"), "git branch --show-current"), "e\n");
}

// The isolation area is excluded once, after what the file held; staging
// "." in the primary then never picks up an agent's worktree.
TEST(WorktreeExclude, TheIsolationAreaIsLeftOutOfTheUsersChanges) {
  GitRepo repo;
  writeText(repo.path(".git/info/exclude"), "# mine\n*.log");
  ASSERT_TRUE(add(repo, area(repo, "a1"), "a1").ok);
  ASSERT_TRUE(add(repo, area(repo, "a2"), "a2").ok);
  EXPECT_EQ(repo.read(".git/info/exclude"), "# mine\n*.log\n/.vorn/\n");
  repo.write("mine.txt", "user\n");
  auto stage = request("git_stage", repo.root());
  stage.paths = Strings{"."};
  ASSERT_TRUE(handle(stage).ok);
  EXPECT_EQ(repo.git("diff --cached --name-only"), "mine.txt\n");
  EXPECT_EQ(repo.git("status --porcelain"), "A  mine.txt\n");

  // A workspace root below the top: the pattern is anchored there, its
  // wildcard characters taken literally.
  GitRepo outer;
  std::filesystem::create_directories(outer.path("sub/a*b"));
  auto r = request("git_worktree_add", outer.path("sub/a*b"));
  r.worktree_path = ".vorn/worktrees/t";
  r.branch = "t";
  ASSERT_TRUE(handle(r).ok);
  EXPECT_EQ(outer.git("status --porcelain"), "");
  EXPECT_NE(outer.read(".git/info/exclude").find("\n/sub/a\\*b/.vorn/\n"), std::string::npos);
  outer.write("sub/axb/.vorn/x", "x");
  EXPECT_EQ(outer.git("status --porcelain -uall"), "?? sub/axb/.vorn/x\n");
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
  add(repo, area(repo, "a3"), "a3");
  writeText(area(repo, "a3") + "/other.txt", "from a3\n");
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

  // The next delivery answers its failure and leaves the user's index, and
  // the merge in progress, as they were.
  std::string index = repo.read(".git/index"), mergeHead = repo.read(".git/MERGE_HEAD");
  auto third = deliver(repo, area(repo, "a3"), "a3");
  EXPECT_FALSE(third.ok);
  EXPECT_TRUE(third.error->starts_with("Merge into primary failed: ")) << *third.error;
  EXPECT_EQ(repo.read(".git/index"), index);
  EXPECT_EQ(repo.read(".git/MERGE_HEAD"), mergeHead);
  EXPECT_FALSE(exists(repo.path("other.txt")));
}

// Runs each request in a runner process of its own, all released at the
// same moment: each first waits for a shared lock on a file the test holds
// exclusively until every process is started. Their answers, in order.
Strings runTogether(const TempDir& dir, const Strings& requests) {
  std::string barrier = dir.path() + "/barrier";
  vorn::UniqueFd gate(::open(barrier.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
  EXPECT_EQ(::flock(gate.get(), LOCK_EX), 0);
  Strings answers(requests.size());
  std::vector<std::thread> runners;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    std::string command =
        "flock -s " + barrier + " true && " + VORN_AGENT_RUNNER + " --json '" + requests[i] + "'";
    runners.emplace_back([&answers, i, command] { answers[i] = sh("/", command, true); });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::flock(gate.get(), LOCK_UN);
  for (auto& t : runners) t.join();
  return answers;
}

std::string json(const std::string& op, const GitRepo& repo, const std::string& name,
                 bool prune = false) {
  return R"({"op":")" + op + R"(","workspace_root":")" + repo.root() +
         R"(","worktree_path":".vorn/worktrees/)" + name + R"(","branch":")" + name + "\"" +
         (prune ? R"(,"prune":true})" : "}");
}

// Agents working in parallel, as an application runs them: rounds of six
// worktrees created at once, then six deliveries released together. Every
// delivery lands, one after another, with the answer it gives alone; the
// repository stays sound, every agent's commit is reachable, and the user's
// index never stages anything, let alone the reversal of a delivery.
TEST(DeliverTogether, ParallelAgentsAllLandAndLoseNothing) {
  GitRepo repo;
  TempDir dir;
  Strings all;
  for (int round = 0; round < 3; ++round) {
    Strings names, adds, deliveries;
    for (int i = 0; i < 6; ++i) {
      names.push_back("r" + std::to_string(round) + "-" + std::to_string(i));
      adds.push_back(json("git_worktree_add", repo, names.back()));
      deliveries.push_back(json("git_deliver", repo, names.back(), i % 2 == 1));
    }
    auto added = runTogether(dir, adds);
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_NE(added[i].find("Created worktree on new branch " + names[i]), std::string::npos)
          << added[i];
      writeText(area(repo, names[i]) + "/" + names[i] + ".txt", names[i] + "\n");
    }
    auto delivered = runTogether(dir, deliveries);
    for (std::size_t i = 0; i < names.size(); ++i) {
      std::string merged = "\"message\":\"Merged " + names[i] + " into main" +
                           (i % 2 == 1 ? " \u00b7 worktree pruned\"" : "\"");
      EXPECT_NE(delivered[i].find(merged), std::string::npos) << delivered[i];
    }
    EXPECT_EQ(repo.git("status --porcelain"), "") << "round " << round;
    all.insert(all.end(), names.begin(), names.end());
  }
  repo.git("fsck --strict --no-progress");
  EXPECT_EQ(repo.git("rev-list --count --merges main"), "18\n");
  for (const auto& name : all) {
    EXPECT_EQ(repo.git("merge-base --is-ancestor " + name + " main && echo yes"), "yes\n") << name;
    EXPECT_EQ(repo.read(name + ".txt"), name + "\n");
  }
  EXPECT_EQ(repo.git("diff --cached --name-only"), "");
}

}  // namespace
