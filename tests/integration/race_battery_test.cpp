// A swapper process exchanges a folder of the workspace with a link to a
// folder outside (renameat2 RENAME_EXCHANGE), as fast as it can, while each
// operation runs again and again on a path through that folder. Nothing
// outside may change, no temporary file may be left there, and every
// answer is a refusal, a failure, or true to what happened inside. The
// rounds come from VORN_RACE_ROUNDS (the long test runs 2,000 of each).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "agent-runner/protocol/dispatch.h"
#include "common/unique_fd.h"
#include "tests/support/git_sandbox.h"
#include "tests/support/unprivileged.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn::testing;
using VornAgentRunnerMain::handle;

int rounds() {
  const char* text = std::getenv("VORN_RACE_ROUNDS");
  return text ? std::max(1, std::atoi(text)) : 100;
}

// Everything under `folder`, name by name, with each file's content.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> items;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    items[e.path().string()] = e.is_regular_file() ? readText(e.path()) : "<folder>";
  }
  return items;
}

class Swapper {
 public:
  Swapper(const std::string& a, const std::string& b) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      for (;;) {
        ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
      }
    }
  }
  ~Swapper() {
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  // Held still while an answer is judged and the arena repaired.
  void pause() {
    int status;
    ::kill(pid_, SIGSTOP);
    ::waitpid(pid_, &status, WUNTRACED);
  }
  void resume() { ::kill(pid_, SIGCONT); }

 private:
  pid_t pid_;
};

// w is a repository with d/file committed; w/x is a link to out. The
// swapper exchanges w/d and w/x; `real` follows the folder wherever it is.
class RaceBattery : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = base_.path() + "/w";
    outside_ = base_.path() + "/out";
    writeText(outside_ + "/file", "outside secret\n");
    writeText(outside_ + "/victim", "outside victim\n");
  }

  // Runs `op` rounds() times against the swapping folder, `check` judging
  // each answer by what the real folder holds.
  void battery(const std::function<vorn::RunnerResponse(int)>& op,
               const std::function<void(const vorn::RunnerResponse&, int real, int round)>& check) {
    asUnprivileged(base_.path(), [&] {
      sh(base_.path(),
         "git init -q w && cd w && mkdir d && echo committed > d/file && git add d && "
         "git commit -qm init && echo inside > d/file && ln -s ../out x");
      auto before = snapshot(outside_);
      vorn::UniqueFd real(::open((root_ + "/d").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      {
        Swapper swapper(root_ + "/d", root_ + "/x");
        for (int i = 0; i < rounds() && !HasFailure(); ++i) {
          auto answer = op(i);
          swapper.pause();
          check(answer, real.get(), i);
          repair(real.get());
          swapper.resume();
        }
      }
      EXPECT_EQ(snapshot(outside_), before);
      auto hash = sh(root_, "printf 'outside secret\\n' | git hash-object --stdin");
      hash.pop_back();
      EXPECT_NE(sh(root_, "git cat-file -e " + hash + " && echo leaked", true), "leaked\n");
    });
  }

  // Git may replace the link it met by a folder of its own (inside, and
  // true to what it did); the next round needs the link back.
  void repair(int real) const {
    struct stat realStat, st;
    ::fstat(real, &realStat);
    for (const char* name : {"/d", "/x"}) {
      std::string path = root_ + name;
      if (::lstat(path.c_str(), &st) == 0 &&
          (S_ISLNK(st.st_mode) || st.st_ino == realStat.st_ino)) {
        continue;
      }
      fs::remove_all(path);
      fs::create_directory_symlink("../out", path);
    }
  }

  vorn::RunnerRequest op(const std::string& name, const std::string& path) const {
    auto r = request(name, root_);
    r.path = path;
    return r;
  }

  TempDir base_;
  std::string root_, outside_;
};

std::string readAt(int folder, const char* name) {
  vorn::UniqueFd fd(::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  std::string text(256, '\0');
  ssize_t n = fd.valid() ? ::read(fd.get(), text.data(), text.size()) : -1;
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

bool presentAt(int folder, const char* name) {
  struct stat st;
  return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

TEST_F(RaceBattery, WriteFile) {
  battery(
      [&](int i) {
        auto r = op("write_file", "d/file");
        r.content = "round " + std::to_string(i);
        return handle(r);
      },
      [](const vorn::RunnerResponse& answer, int real, int i) {
        if (answer.ok) {
          EXPECT_EQ(readAt(real, "file"), "round " + std::to_string(i));
        }
      });
}

TEST_F(RaceBattery, Mkdir) {
  battery(
      [&](int) { return handle(op("mkdir", "d/sub")); },
      [](const vorn::RunnerResponse& answer, int real, int) {
        struct stat st;
        if (answer.ok) {
          EXPECT_TRUE(::fstatat(real, "sub", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode));
        }
        ::unlinkat(real, "sub", AT_REMOVEDIR);
      });
}

TEST_F(RaceBattery, DeleteFile) {
  battery([&](int) { return handle(op("delete_file", "d/victim")); },
          [](const vorn::RunnerResponse& answer, int real, int) {
            if (answer.ok) {
              EXPECT_FALSE(presentAt(real, "victim"));
            }
            vorn::UniqueFd again(::openat(real, "victim", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
          });
}

TEST_F(RaceBattery, ApplyDiff) {
  battery(
      [&](int) {
        auto r = request("apply_diff", root_);
        r.diff =
            "diff --git a/d/new.txt b/d/new.txt\nnew file mode 100644\n--- /dev/null\n"
            "+++ b/d/new.txt\n@@ -0,0 +1 @@\n+new\n";
        return handle(r);
      },
      [](const vorn::RunnerResponse& answer, int real, int) {
        if (answer.ok) {
          EXPECT_EQ(readAt(real, "new.txt"), "new\n");
        }
        ::unlinkat(real, "new.txt", 0);
      });
}

TEST_F(RaceBattery, GitStage) {
  battery(
      [&](int) {
        auto r = request("git_stage", root_);
        r.paths = std::vector<std::string>{"d/file"};
        return handle(r);
      },
      [](const vorn::RunnerResponse&, int, int) {});  // the object store is checked at the end
}

TEST_F(RaceBattery, GitRestore) {
  battery(
      [&](int) {
        auto r = request("git_restore", root_);
        r.paths = std::vector<std::string>{"d/file"};
        return handle(r);
      },
      [&](const vorn::RunnerResponse& answer, int real, int) {
        // Git may also have put a folder of its own where it met the link.
        if (answer.ok && readAt(real, "file") != "committed\n") {
          EXPECT_TRUE(readText(root_ + "/d/file") == "committed\n" ||
                      readText(root_ + "/x/file") == "committed\n");
        }
      });
}

}  // namespace
