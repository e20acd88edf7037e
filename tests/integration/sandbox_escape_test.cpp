// The escape battery: each case is one attempt by a sandboxed shell command
// to get out, and each checks the same things afterwards: nothing outside
// the workspace changed, no listener of the test's own was reached, the
// process outside still runs untraced, nothing was typed into the caller's
// terminal, and the command never printed ESCAPED (what the attempts print
// when a step that must fail succeeded). Every attempt runs twice: as
// "nobody", and as root in a mount namespace where only the test's folder
// is writable (the sandbox must hold for root callers too).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>

#include "agent-runner/git/git_invocation.h"
#include "agent-runner/process/shell.h"
#include "agent-runner/protocol/answers.h"
#include "tests/support/listeners.h"
#include "tests/support/sandbox_scene.h"
#include "tests/support/unprivileged.h"

namespace {

using vorn::testing::Caller;
using vorn::testing::Listener;
using vorn::testing::SandboxScene;

// Which caller an attempt means something for.
enum class For { kBoth, kUnprivileged };

struct Attempt {
  const char* name;
  const char* command;  // {name} placeholders, filled from the caller's scene
  For only = For::kBoth;
  bool thenCommit = false;  // a runner git commit follows (hooks)
};

#define PY "/usr/bin/python3 -c "
#define CONNECT_UNIX(address)                                                  \
  PY "'import socket,sys; s=socket.socket(socket.AF_UNIX); s.connect(" address \
     "); "                                                                     \
     "print(\"ESCAPED\")'"

const Attempt kAttempts[] = {
    // Files outside the workspace, directly.
    {"AppendToBashrc", "echo evil >> {home}/.bashrc"},
    {"CreateInHome", "touch {home}/planted"},
    {"MakeFolderInHome", "mkdir {home}/.config-planted"},
    {"CreateInTmp", "touch /tmp/vorn-escape-{tag}"},
    {"CreateInDevShm", "touch /dev/shm/vorn-escape-{tag}"},
    {"ParentTraversal", "echo evil >> ../outside/secret"},
    {"Truncate", "truncate -s 0 {outside}/secret"},
    {"Remove", "rm -f {outside}/secret"},
    {"MakeFifo", "mkfifo {outside}/fifo"},
    // Through links, and through the caller.
    {"ThroughSymlink", "ln -s {home}/.bashrc link && echo evil >> link"},
    {"ThroughFolderSymlink", "ln -s {outside} dir && touch dir/planted"},
    {"ThroughHardLink", "ln {outside}/secret hard && echo evil >> hard"},
    {"ThroughProcSelfRoot", "echo evil >> /proc/self/root{home}/.bashrc"},
    {"ThroughCallerCwd", "echo evil > /proc/{caller}/cwd/planted"},
    {"ThroughCallerRoot", "echo evil >> /proc/{caller}/root{outside}/secret"},
    {"ThroughInheritedDescriptor", "print evil >&{fd}; echo evil >> /proc/self/fd/{fd}"},
    // Moving things across the border, and metadata.
    {"RenameOut", "mv file {outside}/moved"},
    {"RenameIn", "mv {outside}/secret stolen"},
    {"RenameWorkspace", "mv {ws} {ws}-moved"},
    {"Chmod", "chmod 666 {outside}/secret"},
    {"Chown", "chown 4242:4242 {outside}/secret"},
    {"Times", "touch -d 2001-01-01 {outside}/secret"},
    {"ExtendedAttribute", PY "'import os; os.setxattr(\"{outside}/secret\", \"user.x\", b\"1\")'"},
    // Git outside, and a hook the shell plants for the runner's own git.
    {"GitCommitOutside", "git -C {outside}/repo commit -q --allow-empty -m evil"},
    {"GitConfigOutside", "git -C {outside}/repo config user.name evil"},
    {"HookRunsConfined",
     "printf '#!/bin/sh\\necho ran > {ws}/hook-ran\\necho evil >> {home}/.bashrc\\n"
     "touch {outside}/hooked\\n' > .git/hooks/pre-commit && chmod +x .git/hooks/pre-commit",
     For::kBoth, true},
    // The network without allow_network.
    {"TcpToLoopback",
     PY "'import socket; socket.create_connection((\"127.0.0.1\", {tcp}), 2); print(\"ESCAPED\")'"},
    {"UdpToLoopback", PY "'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); "
                         "s.sendto(b\"x\", (\"127.0.0.1\", {udp})); print(\"ESCAPED\")'"},
    {"CurlLoopback", "curl -s -m 2 http://127.0.0.1:{tcp}/ && echo ESCAPED"},
    // The user's session.
    {"SessionBusSocket", CONNECT_UNIX("\"{run}/bus\"")},
    {"SessionBusFromEnvironment",
     "DBUS_SESSION_BUS_ADDRESS=unix:path={run}/bus dbus-send --session --print-reply "
     "--dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames && echo ESCAPED"},
    {"AbstractBus",
     "dbus-send --bus=unix:abstract=vorn-bus-{tag} --print-reply --dest=org.freedesktop.DBus / "
     "org.freedesktop.DBus.ListNames && echo ESCAPED"},
    {"SystemdRunUser",
     "XDG_RUNTIME_DIR={run} DBUS_SESSION_BUS_ADDRESS=unix:path={run}/bus "
     "systemd-run --user --quiet true && echo ESCAPED"},
    {"SystemdPrivateSocket", CONNECT_UNIX("\"{run}/systemd/private\"")},
    {"XDisplayAbstract",
     "xdpyinfo -display :{display} >/dev/null 2>&1 && echo ESCAPED; " CONNECT_UNIX(
         "\"\\0/tmp/.X11-unix/X{display}\"")},
    {"XDisplayPath", CONNECT_UNIX("\"{run}/X{display}\"")},
    {"SshAgent",
     "SSH_AUTH_SOCK={run}/agent ssh-add -l >/dev/null 2>&1; " CONNECT_UNIX("\"{run}/agent\"")},
    // Processes outside the command's own tree.
    {"KillOutside", "kill -TERM {victim}; kill -STOP {victim}"},
    {"KillCaller", "kill -TERM {caller}"},
    {"PtraceOutside",
     PY "'import ctypes; libc=ctypes.CDLL(None); "
        "print(\"ESCAPED\" if libc.ptrace(16, {victim}, 0, 0) == 0 else \"refused\")'"},
    {"ProcessMemoryOutside", PY "'open(\"/proc/{victim}/mem\", \"rb\"); print(\"ESCAPED\")'"},
    // Regaining rights.
    {"UnshareUser", "unshare -Ur true && echo ESCAPED"},
    {"UnshareMount", "unshare -m true && echo ESCAPED"},
    {"RemountWritable", "mount -o remount,rw / && echo ESCAPED; touch {outside}/planted"},
    {"BindMountOutside", "mkdir -p m && mount --bind {outside} m && echo ESCAPED"},
    {"SetuidBinary", "{suid} {rootOnly}/planted && echo ESCAPED", For::kUnprivileged},
    // Typing into the caller's terminal.
    {"TiocstiControllingTerminal",
     PY "'import fcntl,termios,os; fd=os.open(\"/dev/tty\", os.O_RDWR); "
        "fcntl.ioctl(fd, termios.TIOCSTI, b\"X\"); print(\"ESCAPED\")'"},
    {"TiocstiThroughCaller",
     PY "'import fcntl,termios,os; fd=os.open(\"/proc/{caller}/fd/{pty}\", os.O_RDWR); "
        "fcntl.ioctl(fd, termios.TIOCSTI, b\"X\"); print(\"ESCAPED\")'"},
};

std::string fill(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [name, value] : values) {
    std::string key = "{" + name + "}";
    for (auto at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size())) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

// A process of the caller's, outside every sandbox, waiting to be killed.
class Victim {
 public:
  Victim() : pid_(::fork()) {
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      for (;;) ::pause();
    }
  }
  ~Victim() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }
  // Still running: neither ended nor stopped, and traced by no one.
  std::string state() const {
    if (::waitpid(pid_, nullptr, WNOHANG | WUNTRACED) != 0) return "ended or stopped";
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("State:") && line.find("(stopped)") != std::string::npos) return line;
      if (line.starts_with("TracerPid:") && line != "TracerPid:\t0") return line;
    }
    return "running";
  }

 private:
  pid_t pid_;
};

// The caller's controlling terminal: the caller leads a session of its own
// and this pseudo-terminal is its terminal.
struct CallerTerminal {
  int master = -1;
  int slave = -1;
  CallerTerminal() {
    ::setsid();
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
    slave = ::open(::ptsname(master), O_RDWR | O_CLOEXEC);
    (void)::ioctl(slave, TIOCSCTTY, 0);
  }
  std::string typed() const {
    char buffer[64];
    ssize_t n = ::read(master, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }
};

class EscapeBattery : public ::testing::TestWithParam<std::tuple<Attempt, Caller>> {
 protected:
  // Outside the scene's folder, so that they stay root's when the folder is
  // handed to nobody: a set-user-id copy of touch that only nobody's group
  // may run, and a folder only root may write in.
  void SetUp() override {
    if (std::get<0>(GetParam()).only != For::kUnprivileged) return;
    std::filesystem::create_directories(rootOnly_);
    std::filesystem::copy_file("/usr/bin/touch", suid_);
    ASSERT_EQ(::chown(base_.c_str(), 0, kNobodyGroup), 0);
    ASSERT_EQ(::chmod(base_.c_str(), 0750), 0);
    ASSERT_EQ(::chmod(suid_.c_str(), 04755), 0);
  }
  void TearDown() override { std::filesystem::remove_all(base_); }

  static constexpr gid_t kNobodyGroup = 65534;
  SandboxScene scene_;
  std::string base_ = scene_.folder() + "-root";
  std::string rootOnly_ = base_ + "/only-root";
  std::string suid_ = base_ + "/suid-touch";
};

void attempt(const Attempt& attack, const SandboxScene& scene, const std::string& suid,
             const std::string& rootOnly) {
  scene.enterSandboxMode();
  std::string tag = std::to_string(::getpid());
  Listener tcp = Listener::tcp(), udp = Listener::udp();
  Listener bus = Listener::unixPath(scene.runtime() + "/bus");
  Listener abstractBus = Listener::unixAbstract("vorn-bus-" + tag);
  Listener manager = Listener::unixPath(scene.runtime() + "/systemd/private");
  Listener agent = Listener::unixPath(scene.runtime() + "/agent");
  std::string display = std::to_string(4000 + ::getpid() % 5000);
  Listener displayAbstract = Listener::unixAbstract("/tmp/.X11-unix/X" + display);
  Listener displayPath = Listener::unixPath(scene.runtime() + "/X" + display);
  Victim victim;
  CallerTerminal terminal;
  int inherited = ::open((scene.outside() + "/secret").c_str(), O_RDWR | O_APPEND);
  ASSERT_EQ(::chdir(scene.outside().c_str()), 0);

  std::string command = fill(attack.command, {{"home", scene.home()},
                                              {"outside", scene.outside()},
                                              {"ws", scene.workspace()},
                                              {"run", scene.runtime()},
                                              {"tag", tag},
                                              {"caller", std::to_string(::getpid())},
                                              {"victim", std::to_string(victim.pid())},
                                              {"tcp", std::to_string(tcp.port())},
                                              {"udp", std::to_string(udp.port())},
                                              {"display", display},
                                              {"fd", std::to_string(inherited)},
                                              {"pty", std::to_string(terminal.slave)},
                                              {"suid", suid},
                                              {"rootOnly", rootOnly}});
  auto before = vorn::testing::snapshotTree(scene.folder(),
                                            {scene.workspace(), scene.temp() + "/vorn-sandbox-"});
  auto answer = VornAgentRunnerMain::answerOf(VornAgentRunnerMain::runShell(
      {.command = command, .directory = scene.workspace(), .timeout = 20}));
  ASSERT_TRUE(answer.exit_status.has_value())
      << "the command did not run: " << answer.error.value_or("");
  if (attack.thenCommit) {
    auto committed = VornAgentRunnerMain::runGit({"commit", "--allow-empty", "-m", "after"},
                                                 scene.workspace(), 20);
    EXPECT_TRUE(vorn::testing::exists(scene.workspace() + "/hook-ran"))
        << "the hook never ran: " << committed.err();
  }
  auto after = vorn::testing::snapshotTree(scene.folder(),
                                           {scene.workspace(), scene.temp() + "/vorn-sandbox-"});

  std::string output = answer.stdout_text.value_or("") + answer.stderr_text.value_or("");
  EXPECT_EQ(answer.stdout_text.value_or("").find("ESCAPED"), std::string::npos) << output;
  EXPECT_EQ(vorn::testing::treeDifferences(before, after), "") << output;
  for (auto* listener :
       {&tcp, &udp, &bus, &abstractBus, &manager, &agent, &displayAbstract, &displayPath}) {
    EXPECT_EQ(listener->arrivals(), 0) << output;
  }
  EXPECT_EQ(victim.state(), "running") << output;
  EXPECT_EQ(terminal.typed(), "") << output;
  EXPECT_FALSE(vorn::testing::exists("/tmp/vorn-escape-" + tag));
  EXPECT_FALSE(vorn::testing::exists("/dev/shm/vorn-escape-" + tag));
  EXPECT_FALSE(vorn::testing::exists(rootOnly + "/planted"));
  ::unlink(("/tmp/vorn-escape-" + tag).c_str());
  ::unlink(("/dev/shm/vorn-escape-" + tag).c_str());
}

TEST_P(EscapeBattery, NothingOutsideChangesOrIsReached) {
  const auto& [attack, caller] = GetParam();
  if (attack.only == For::kUnprivileged && caller != Caller::kUnprivileged) {
    GTEST_SKIP() << "means something only for an unprivileged caller";
  }
  vorn::testing::asCaller(caller, scene_.folder(),
                          [&] { attempt(attack, scene_, suid_, rootOnly_); });
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Attempt, Caller>>& info) {
  const auto& [attack, caller] = info.param;
  return std::string(attack.name) +
         (caller == Caller::kUnprivileged ? "_AsNobody" : "_AsRootInPrivateMounts");
}

INSTANTIATE_TEST_SUITE_P(Sandbox, EscapeBattery,
                         ::testing::Combine(::testing::ValuesIn(kAttempts),
                                            ::testing::Values(Caller::kUnprivileged,
                                                              Caller::kRootInPrivateMounts)),
                         caseName);

}  // namespace
