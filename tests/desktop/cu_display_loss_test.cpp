// A helper that serves while its X server goes away and comes back: every
// request still gets its answer, and input works again once the display
// does. Runs a private Xvfb of its own, or a server that never answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "common/unique_fd.h"
#include "tests/support/program_session.h"

extern char** environ;

namespace {

using vorn::UniqueFd;
using vorn::testing::ProgramSession;

// An X server on `display` (":N"), or on a free display when none is given.
class Xvfb {
 public:
  explicit Xvfb(std::string display = "") {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    std::vector<std::string> args{"Xvfb", "-nolisten", "tcp", "-noreset", "-displayfd", "3"};
    if (!display.empty()) args.insert(args.begin() + 1, display);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 3);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    // The number arrives once the server listens; end of file if it failed.
    std::string number;
    char c;
    while (::read(readEnd.get(), &c, 1) == 1 && c != '\n') number += c;
    if (!number.empty()) display_ = ":" + number;
  }
  ~Xvfb() { stop(); }

  const std::string& display() const { return display_; }
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

std::string ask(ProgramSession& helper, const std::string& request) {
  EXPECT_TRUE(helper.write(request + "\n"));
  return helper.readLine().value_or("(no answer)");
}

TEST(DisplayLoss, ServeModeAnswersThroughoutAndReconnects) {
  const std::string worked = R"({"message":"hid:return","ok":true,"outcome":"worked"})"
                             "\n";
  const std::string keypress = R"({"op":"keypress","key":"return"})";
  auto server = std::make_unique<Xvfb>();
  ASSERT_FALSE(server->display().empty());
  const std::string display = server->display();

  ProgramSession helper(VORN_COMPUTER_USE, {{"--serve"}, {"DISPLAY=" + display}});
  EXPECT_EQ(ask(helper, keypress), worked);
  EXPECT_EQ(ask(helper, R"({"op":"list_windows"})"), R"({"ok":true,"windows":[]})"
                                                     "\n");

  server->stop();
  EXPECT_EQ(ask(helper, keypress),
            R"({"message":"Accessibility is required in the helper process.",)"
            R"("ok":false,"outcome":"didnt"})"
            "\n");
  EXPECT_EQ(ask(helper, R"({"op":"list_windows"})"), R"({"ok":true,"windows":[]})"
                                                     "\n");
  EXPECT_NE(ask(helper, R"({"op":"ping"})").find(R"("ok":true)"), std::string::npos);

  server = std::make_unique<Xvfb>(display);
  ASSERT_EQ(server->display(), display);
  EXPECT_EQ(ask(helper, keypress), worked);

  auto end = helper.finish();
  EXPECT_EQ(end.status, 0);
  EXPECT_EQ(end.err, "");
}

// A display whose server takes connections and never answers: a listening
// socket where clients look for display N first (Linux's abstract socket
// namespace, so no file is left behind), on the first N from 600 that is
// free.
class SilentServer {
 public:
  SilentServer() {
    for (int n = 600; n < 700 && display_.empty(); ++n) {
      UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::string name = std::string(1, '\0') + "/tmp/.X11-unix/X" + std::to_string(n);
      std::memcpy(address.sun_path, name.data(), name.size());
      auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
      if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) continue;
      if (::listen(fd.get(), 16) != 0) continue;
      socket_ = std::move(fd);
      display_ = ":" + std::to_string(n);
    }
  }
  const std::string& display() const { return display_; }

 private:
  UniqueFd socket_;
  std::string display_;
};

// The bound holds whatever the server does: a server that never answers
// times the screenshot out, the next request is answered, and the process
// still ends when its input does although the capture never returned.
TEST(DisplayLoss, AScreenshotFromAServerThatNeverAnswersTimesOut) {
  SilentServer server;
  ASSERT_FALSE(server.display().empty());
  ProgramSession helper(VORN_COMPUTER_USE, {{"--serve"}, {"DISPLAY=" + server.display()}});
  EXPECT_EQ(ask(helper, R"({"op":"screenshot","window_number":1})"),
            R"({"error":"unknown_root","message":"Screenshot timed out.","ok":false})"
            "\n");
  EXPECT_NE(ask(helper, R"({"op":"ping"})").find(R"("ok":true)"), std::string::npos);
  auto end = helper.finish();
  EXPECT_EQ(end.status, 0);
  EXPECT_EQ(end.err, "");
}

}  // namespace
