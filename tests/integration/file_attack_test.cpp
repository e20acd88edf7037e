// The file operations against an attacker inside the workspace: NUL bytes,
// ".git" entries, links, long paths. Every case runs as an unprivileged
// user that owns only the test's folder (tests/support/unprivileged.h).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "agent-runner/protocol/dispatch.h"
#include "tests/support/git_sandbox.h"
#include "tests/support/unprivileged.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn::testing;
using VornAgentRunnerMain::handle;

// base/top/w is the workspace; base/top holds what lies just outside it.
class FileAttack : public ::testing::Test {
 protected:
  void SetUp() override {
    top_ = base_.path() + "/top";
    root_ = top_ + "/w";
    fs::create_directories(root_ + "/sub");
    fs::create_directories(base_.path() + "/out");
    writeText(top_ + "/precious", "keep");
    writeText(base_.path() + "/out/secret", "s");
  }

  vorn::RunnerRequest op(const std::string& name, const std::string& path,
                         std::optional<std::string> content = {}) const {
    auto r = request(name, root_);
    r.path = path;
    r.content = std::move(content);
    return r;
  }

  // Everything outside the workspace is as SetUp left it.
  void expectOutsideUntouched() const {
    EXPECT_EQ(readText(top_ + "/precious"), "keep");
    EXPECT_EQ(readText(base_.path() + "/out/secret"), "s");
    std::size_t entries = 0;
    for (const auto& e : fs::recursive_directory_iterator(base_.path() + "/out")) {
      (void)e;
      ++entries;
    }
    EXPECT_EQ(entries, 1u);
    EXPECT_EQ(fs::directory_iterator(top_) != fs::directory_iterator(), true);
    std::size_t topEntries = 0;
    for (const auto& e : fs::directory_iterator(top_)) {
      (void)e;
      ++topEntries;
    }
    EXPECT_EQ(topEntries, 2u);  // precious and w
  }

  TempDir base_;
  std::string top_, root_;
};

TEST_F(FileAttack, NulAnywhereInPathOrRootIsRefusedAndTouchesNothing) {
  asUnprivileged(base_.path(), [&] {
    const std::string nul(1, '\0');
    // "..<NUL>" once deleted the workspace's parent: the NUL ended the C text.
    for (std::string path : {std::string(".."), std::string("sub/f"), root_ + "/sub"}) {
      for (std::size_t at = 0; at <= path.size(); ++at) {
        std::string poisoned = path;
        poisoned.insert(at, nul);
        for (const char* name : {"delete_file", "mkdir", "write_file"}) {
          auto answer = handle(op(name, poisoned, "x"));
          EXPECT_EQ(answer.error, "path_outside_workspace") << name << " at " << at;
        }
      }
    }
    for (std::size_t at = 0; at <= root_.size(); ++at) {
      std::string root = root_;
      root.insert(at, nul);
      auto r = op("delete_file", "sub");
      r.workspace_root = root;
      EXPECT_EQ(handle(r).error, "path_outside_workspace") << "root, at " << at;
      auto w = op("write_file", base_.path() + "/out/secret", "x");
      w.extra_roots = std::vector<std::string>{base_.path() + nul + "/out"};
      EXPECT_EQ(handle(w).error, "path_outside_workspace") << "extra root";
      auto git = request("git_status", root);
      EXPECT_EQ(handle(git).error, "path_outside_workspace") << "git root, at " << at;
    }
    EXPECT_TRUE(fs::is_directory(root_ + "/sub"));
    expectOutsideUntouched();
  });
}

TEST_F(FileAttack, GitEntriesAreNotTheAgentsToWrite) {
  asUnprivileged(base_.path(), [&] {
    fs::create_directories(root_ + "/.git/hooks");
    fs::create_directories(root_ + "/sub/.git");
    writeText(root_ + "/.git/config", "[core]\n");
    fs::create_directory_symlink(".git", root_ + "/admin");
    for (const char* path :
         {".git", ".git/config", ".git/hooks/pre-commit", "sub/.git/x", ".GIT/config", "sub/.Git",
          ".vorn/worktrees/t/.git", "admin/config", "admin"}) {
      for (const char* name : {"write_file", "mkdir"}) {
        EXPECT_EQ(handle(op(name, path, "gitdir: /elsewhere\n")).error, "path_outside_workspace")
            << name << " " << path;
      }
      if (std::string_view(path) != "admin") {
        EXPECT_EQ(handle(op("delete_file", path)).error, "path_outside_workspace") << path;
      }
    }
    EXPECT_EQ(readText(root_ + "/.git/config"), "[core]\n");
    EXPECT_FALSE(exists(root_ + "/.vorn"));
    // Names that only look alike are ordinary files.
    for (const char* path : {".gitignore", ".git2/x", "sub/x.git"}) {
      EXPECT_TRUE(handle(op("write_file", path, "ok")).ok) << path;
    }
  });
}

TEST_F(FileAttack, LinksInsideKeepWorkingLinksOutsideAreRefused) {
  asUnprivileged(base_.path(), [&] {
    writeText(root_ + "/sub/real.txt", "old");
    fs::create_symlink(root_ + "/sub", root_ + "/abs");             // absolute, inside
    fs::create_symlink("abs/real.txt", root_ + "/chain");           // link to a link
    fs::create_symlink("../w/sub/new.txt", root_ + "/roundabout");  // climbs out and back
    fs::create_symlink(base_.path() + "/out", root_ + "/away");
    fs::create_symlink("../precious", root_ + "/up");
    EXPECT_TRUE(handle(op("write_file", "chain", "via chain")).ok);
    EXPECT_EQ(readText(root_ + "/sub/real.txt"), "via chain");
    EXPECT_TRUE(fs::is_symlink(root_ + "/chain"));
    EXPECT_TRUE(handle(op("write_file", "abs/deep/f.txt", "d")).ok);
    EXPECT_EQ(readText(root_ + "/sub/deep/f.txt"), "d");
    EXPECT_TRUE(handle(op("write_file", "roundabout", "r")).ok);
    EXPECT_EQ(readText(root_ + "/sub/new.txt"), "r");
    EXPECT_TRUE(handle(op("mkdir", "abs/made")).ok);
    EXPECT_TRUE(fs::is_directory(root_ + "/sub/made"));
    EXPECT_TRUE(handle(op("delete_file", "abs/made")).ok);
    EXPECT_FALSE(exists(root_ + "/sub/made"));
    for (const char* path : {"away/secret", "away/new", "up"}) {
      EXPECT_EQ(handle(op("write_file", path, "x")).error, "path_outside_workspace") << path;
      EXPECT_EQ(handle(op("delete_file", path)).error, "path_outside_workspace") << path;
    }
    EXPECT_EQ(handle(op("mkdir", "away/d")).error, "path_outside_workspace");
    // The link itself may go; what it points at stays.
    auto dropLink = op("delete_file", "chain");
    EXPECT_TRUE(handle(dropLink).ok);
    EXPECT_EQ(readText(root_ + "/sub/real.txt"), "via chain");
    expectOutsideUntouched();
  });
}

TEST_F(FileAttack, FailedMkdirRemovesWhatItMadeAndLongPathsAnswerAtOnce) {
  asUnprivileged(base_.path(), [&] {
    std::string tooLongName(300, 'n');
    auto failed = handle(op("mkdir", "a/b/c/" + tooLongName));
    ASSERT_TRUE(failed.error);
    EXPECT_TRUE(failed.error->starts_with("mkdir_failed: ")) << *failed.error;
    EXPECT_FALSE(exists(root_ + "/a"));  // a, a/b and a/b/c made, then removed
    fs::create_directories(root_ + "/kept");
    EXPECT_FALSE(handle(op("mkdir", "kept/x/" + tooLongName)).ok);
    EXPECT_TRUE(fs::is_directory(root_ + "/kept"));  // it was there before
    EXPECT_FALSE(exists(root_ + "/kept/x"));

    // A megabyte of "a/": refused as too long before anything is made.
    std::string huge;
    for (int i = 0; i < (1 << 19); ++i) huge += "a/";
    for (const char* name : {"mkdir", "write_file", "delete_file"}) {
      auto answer = handle(op(name, huge + "x", "x"));
      ASSERT_TRUE(answer.error) << name;
      EXPECT_NE(answer.error->find("File name too long"), std::string::npos) << name;
    }
    EXPECT_FALSE(exists(root_ + "/a"));
  });
}

}  // namespace
