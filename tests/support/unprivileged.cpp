#include "tests/support/unprivileged.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vorn::testing {
namespace {

constexpr uid_t kNobody = 65534;

void handOver(const std::string& folder) {
  namespace fs = std::filesystem;
  if (::geteuid() != 0) return;
  (void)::lchown(folder.c_str(), kNobody, kNobody);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    (void)::lchown(entry.path().c_str(), kNobody, kNobody);
  }
}

void dropPrivileges() {
  if (::geteuid() != 0) return;
  gid_t group = kNobody;
  if (::setgroups(1, &group) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
      ::setresuid(kNobody, kNobody, kNobody) != 0) {
    ADD_FAILURE() << "cannot drop to nobody";
    ::_exit(1);
  }
}

void privateGitConfiguration(const std::string& folder) {
  std::string home = folder + "/home";
  std::filesystem::create_directories(home);
  std::ofstream(home + "/gitconfig") << "[user]\n\tname = Vorn Test\n\temail = test@vorn.invalid\n"
                                        "[init]\n\tdefaultBranch = main\n";
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("GIT_CONFIG_GLOBAL", (home + "/gitconfig").c_str(), 1);
  ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
  ::setenv("LC_ALL", "C", 1);
}

}  // namespace

bool asUnprivileged(const std::string& folder, const std::function<void()>& body) {
  handOver(folder);
  pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return false;
  }
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    dropPrivileges();
    privateGitConfiguration(folder);
    body();
    std::fflush(stdout);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  EXPECT_TRUE(passed) << "the unprivileged part failed (see its output above)";
  return passed;
}

}  // namespace vorn::testing
