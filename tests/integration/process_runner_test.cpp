// runProcess and shell against real children: every way a run can end, the
// output cuts, and the waits that must neither hang nor lag.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "agent-runner/process/process_runner.h"
#include "agent-runner/process/run_control.h"
#include "agent-runner/protocol/answers.h"
#include "agent-runner/protocol/dispatch.h"
#include "common/unique_fd.h"

namespace {

using VornAgentRunnerMain::answerOf;

// A run as the runner answers it.
vorn::RunnerResponse runProcess(const std::string& executable,
                                const std::vector<std::string>& arguments,
                                const std::string& directory, double timeout) {
  return answerOf(VornAgentRunnerMain::runProcess(executable, arguments, directory, timeout));
}
using Seconds = std::chrono::duration<double>;

struct Timed {
  vorn::RunnerResponse response;
  double seconds;
};

Timed timedSh(const std::string& script, double timeout = 10) {
  auto start = std::chrono::steady_clock::now();
  auto response = runProcess("/bin/sh", {"-c", script}, "", timeout);
  return {std::move(response), Seconds(std::chrono::steady_clock::now() - start).count()};
}

vorn::RunnerResponse sh(const std::string& script, double timeout = 10) {
  return timedSh(script, timeout).response;
}

vorn::RunnerResponse shellOp(std::optional<std::string> command,
                             std::optional<double> timeout = std::nullopt,
                             std::optional<std::string> root = std::nullopt) {
  vorn::RunnerRequest request{.op = "shell"};
  request.command = std::move(command);
  request.timeout = timeout;
  request.workspace_root = std::move(root);
  return VornAgentRunnerMain::handle(request);
}

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorn-proc-XXXXXX").string();
    path_ = std::filesystem::canonical(::mkdtemp(pattern.data()));
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string repeat(std::string_view piece, std::size_t times) {
  std::string s;
  s.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) s += piece;
  return s;
}

// The text `seq 1 n` prints.
std::string sequence(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += std::to_string(i) + "\n";
  return s;
}

TEST(ProcessAnswer, ExitZeroIsSuccess) {
  auto r = sh("echo hi");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.error, std::nullopt);
  EXPECT_EQ(r.stdout_text, "hi\n");
  EXPECT_EQ(r.stderr_text, "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.pid, ::getpid());
}

TEST(ProcessAnswer, NonZeroExitKeepsOutput) {
  auto r = sh("echo out; echo err >&2; exit 3");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "exit_3");
  EXPECT_EQ(r.message, "exit_3");
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_EQ(r.stdout_text, "out\n");
  EXPECT_EQ(r.stderr_text, "err\n");
}

TEST(ProcessAnswer, SpawnFailuresCarryNoRunFields) {
  TempDir dir;
  auto missingProgram = runProcess((dir.path() / "no-such-program").string(), {}, "", 5);
  auto missingFolder = shellOp("echo never", 5, (dir.path() / "gone").string());
  for (const auto& r : {missingProgram, missingFolder}) {
    EXPECT_FALSE(r.ok);
    ASSERT_TRUE(r.error.has_value());
    EXPECT_TRUE(r.error->starts_with("spawn_failed: ")) << *r.error;
    EXPECT_EQ(r.stdout_text, std::nullopt);
    EXPECT_EQ(r.stderr_text, std::nullopt);
    EXPECT_EQ(r.exit_status, std::nullopt);
  }
  EXPECT_NE(missingFolder.error->find("gone"), std::string::npos) << *missingFolder.error;
}

// An unkillable child cannot be made on purpose; the answer itself can.
TEST(ProcessAnswer, StillRunningAnswersTimeout) {
  auto r = answerOf(VornAgentRunnerMain::ProcessRun{vorn::StillRunning{}, "o", "e"});
  EXPECT_EQ(r.error, "timeout");
  EXPECT_EQ(r.exit_status, std::nullopt);
  EXPECT_EQ(r.stdout_text, "o");
  EXPECT_EQ(r.stderr_text, "e");
}

TEST(ProcessTimeout, OverrunningChildGetsSigterm) {
  auto [r, seconds] = timedSh("echo before; exec sleep 10", 0.3);
  EXPECT_EQ(r.error, "exit_15");
  EXPECT_EQ(r.exit_status, 15);
  EXPECT_EQ(r.stdout_text, "before\n");
  EXPECT_GE(seconds, 0.3);
  EXPECT_LT(seconds, 1.3);
}

TEST(ProcessTimeout, ChildIgnoringSigtermIsKilledAfterGrace) {
  auto [r, seconds] = timedSh("trap '' TERM; exec sleep 10", 0.2);
  EXPECT_EQ(r.error, "exit_9");
  EXPECT_EQ(r.exit_status, 9);
  EXPECT_GE(seconds, 0.2 + 1.5);
  EXPECT_LT(seconds, 3.0);
}

TEST(ShellOp, AbsentOrBlankCommandIsRefused) {
  for (const auto& command : {std::optional<std::string>(), std::optional<std::string>(""),
                              std::optional<std::string>(" \t\n\u2003")}) {
    auto r = shellOp(command);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "command is required");
    EXPECT_EQ(r.exit_status, std::nullopt);
  }
}

TEST(ShellOp, TimeoutBelowOneSecondBecomesOne) {
  for (double timeout : {0.0, -5.0}) {
    auto start = std::chrono::steady_clock::now();
    auto r = shellOp("exec sleep 3", timeout);
    double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.error, "exit_15") << "timeout " << timeout;
    EXPECT_GE(seconds, 1.0) << "timeout " << timeout;
    EXPECT_LT(seconds, 2.0) << "timeout " << timeout;
  }
}

TEST(ShellOp, RunsInWorkspaceRoot) {
  TempDir dir;
  auto r = shellOp("pwd -P", 5, dir.path().string());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.stdout_text, dir.path().string() + "\n");
}

TEST(OutputCut, KeepsTheFirstClustersOfEachStream) {
  auto r = sh("seq 1 5000; seq 1 5000 >&2");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.stdout_text, sequence(5000).substr(0, 16000));
  EXPECT_EQ(r.stderr_text, sequence(5000).substr(0, 8000));
}

TEST(OutputCut, CountsGraphemeClustersNotBytes) {
  TempDir dir;
  const std::string cluster = "e\u0301";  // 'e' and a combining accent: one cluster, 3 bytes
  std::ofstream(dir.path() / "out") << repeat(cluster, 16001);
  auto r = runProcess("/bin/sh", {"-c", "cat out; cat out >&2"}, dir.path().string(), 10);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.stdout_text, repeat(cluster, 16000));
  EXPECT_EQ(r.stdout_text->size(), 48000u);
  EXPECT_EQ(r.stderr_text, repeat(cluster, 8000));
}

TEST(OutputCut, InvalidUtf8AnywhereEmptiesTheStream) {
  // Past the cut, in the middle, and a sequence the stream ends inside.
  auto late = sh("seq 1 20000; printf '\\377'; echo fine >&2");
  EXPECT_TRUE(late.ok);
  EXPECT_EQ(late.stdout_text, "");
  EXPECT_EQ(late.stderr_text, "fine\n");
  EXPECT_EQ(sh("printf 'a\\355\\240\\200b' >&2").stderr_text, "");  // an encoded surrogate
  EXPECT_EQ(sh("printf 'ab\\303'").stdout_text, "");
}

TEST(ProcessWait, BackgroundDescendantDoesNotHoldTheAnswer) {
  auto [r, seconds] = timedSh("(sleep 3 &); echo bg");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.stdout_text, "bg\n");
  EXPECT_LT(seconds, 1.0);
}

TEST(ProcessWait, HugeOutputIsDrainedWhileTheChildRuns) {
  auto r = sh("head -c 200000000 /dev/zero", 30);
  EXPECT_TRUE(r.ok) << r.error.value_or("");
  EXPECT_EQ(r.stdout_text, std::string(16000, '\0'));
  // Both pipes fill long before the child ends; neither may stall it.
  auto both = sh("head -c 5000000 /dev/zero >&2; head -c 5000000 /dev/zero", 5);
  EXPECT_EQ(both.exit_status, 0) << both.error.value_or("");
  EXPECT_EQ(both.stderr_text->size(), 8000u);
}

TEST(ProcessWait, QuickCommandIsAnsweredAtOnce) {
  // The fastest of several runs: a load spike cannot slow them all, a
  // polling wait would.
  double fastest = 1e9;
  for (int i = 0; i < 20; ++i) {
    auto start = std::chrono::steady_clock::now();
    auto r = runProcess("/bin/true", {}, "", 5);
    fastest = std::min(fastest, Seconds(std::chrono::steady_clock::now() - start).count());
    ASSERT_TRUE(r.ok);
  }
  EXPECT_LT(fastest, 0.015);
}

// Whether `pid` names a live process (a zombie has ended: only its parent,
// which may be an init that never reaps, still has to collect it).
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Waits (boundedly) until none of `pids` is alive; those still alive.
std::vector<pid_t> survivors(const std::vector<pid_t>& pids) {
  std::vector<pid_t> left = pids;
  for (int i = 0; i < 500 && !left.empty(); ++i) {
    std::erase_if(left, [](pid_t p) { return !alive(p); });
    if (!left.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return left;
}

std::vector<pid_t> pidsIn(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<pid_t> pids;
  for (pid_t p; in >> p;) pids.push_back(p);
  return pids;
}

// Up to fifty background jobs (as many as a loaded machine starts in time),
// every other one deaf to SIGTERM, behind a foreground command that
// overruns: the answer is the child's as before, and nothing of the group is
// left once it is given.
TEST(ProcessGroup, AnOverrunStopsEverythingTheChildStarted) {
  TempDir dir;
  auto pids = dir.path() / "pids";
  std::string script = "for i in $(seq 25); do sleep 100 & echo $! >> " + pids.string() +
                       "; (trap '' TERM; exec sleep 100) & echo $! >> " + pids.string() +
                       "; done; sleep 100";
  auto r = shellOp(script, 2);
  EXPECT_EQ(r.error, "exit_15");
  EXPECT_EQ(r.exit_status, 15);
  auto started = pidsIn(pids);
  ASSERT_GE(started.size(), 2u);
  EXPECT_TRUE(survivors(started).empty());
}

TEST(ProcessGroup, AChildThatEndsInTimeLeavesItsBackgroundJobsAlone) {
  auto r = sh("sleep 100 >/dev/null 2>&1 & echo $!");
  ASSERT_TRUE(r.ok) << r.error.value_or("");
  pid_t background = std::stoi(*r.stdout_text);
  EXPECT_TRUE(alive(background));
  ::kill(background, SIGKILL);
}

// A process runs at most 64 children at once: a 65th run waits for a slot
// and starts once one is free.
TEST(ChildSlots, ASixtyFifthRunWaitsForAFreeSlot) {
  TempDir dir;
  auto started = dir.path() / "started";
  std::filesystem::create_directory(started);
  std::string gate = (dir.path() / "gate").string();
  vorn::UniqueFd held(::open(gate.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
  ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
  auto count = [&] {
    auto entries = std::filesystem::directory_iterator(started);
    return std::distance(begin(entries), end(entries));
  };
  std::vector<std::thread> runs;
  std::atomic<int> ok{0};
  for (int i = 0; i < 65; ++i) {
    std::string script =
        "touch " + (started / std::to_string(i)).string() + "; flock -s " + gate + " true";
    runs.emplace_back([script, &ok] { ok += sh(script, 60).ok; });
  }
  for (int i = 0; i < 500 && count() < 64; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(count(), 64);
  ::flock(held.get(), LOCK_UN);
  for (auto& t : runs) t.join();
  EXPECT_EQ(ok.load(), 65);
}

// Restores a signal's disposition and the thread's mask at the end of a test.
class SignalStateGuard {
 public:
  SignalStateGuard() {
    sigaction(SIGPIPE, nullptr, &pipe_);
    pthread_sigmask(SIG_SETMASK, nullptr, &mask_);
  }
  ~SignalStateGuard() {
    sigaction(SIGPIPE, &pipe_, nullptr);
    pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
  }

 private:
  struct sigaction pipe_ {};
  sigset_t mask_{};
};

TEST(ChildSignals, IgnoredSigpipeIsNotInherited) {
  SignalStateGuard guard;
  std::signal(SIGPIPE, SIG_IGN);  // as the runner's main() does
  // With SIGPIPE ignored `yes` would spin on EPIPE until the timeout.
  auto [r, seconds] = timedSh("yes | head -1", 5);
  EXPECT_EQ(r.exit_status, 0) << r.error.value_or("");
  EXPECT_EQ(r.stdout_text, "y\n");
  EXPECT_LT(seconds, 2.0);
}

TEST(ChildSignals, BlockedSignalsAreNotInherited) {
  SignalStateGuard guard;
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  // A child with SIGTERM blocked would only end at SIGKILL.
  auto r = sh("exec sleep 10", 0.2);
  EXPECT_EQ(r.error, "exit_15");
}

// A caller's control over the runs on its thread: a stop ends the running
// child's whole group long before its limit, and nothing starts after it.
TEST(RunControl, AStopEndsTheRunningGroupAndKeepsLaterRunsFromStarting) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vorn-stop-XXXXXX").string();
  std::string dir = ::mkdtemp(pattern.data());
  std::string groupFile = dir + "/group";
  std::stop_source source;
  std::vector<std::string> started;
  VornAgentRunnerMain::RunControl control{
      .stop = source.get_token(),
      .started = [&](const std::string& executable, const std::vector<std::string>&) {
        started.push_back(executable);
      }};
  std::thread stopper([&] {
    for (int i = 0; i < 1000 && !std::filesystem::exists(groupFile + ".done"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    source.request_stop();
  });
  VornAgentRunnerMain::ProcessRun run;
  VornAgentRunnerMain::ProcessRun later;
  {
    VornAgentRunnerMain::RunControlScope scope(control);
    run = VornAgentRunnerMain::runProcess(
        "/bin/sh",
        {"-c", "echo $$ > " + groupFile + "; mv " + groupFile + " " + groupFile +
                   ".done; sleep 600 & sleep 600 & wait"},
        "", 600);
    later = VornAgentRunnerMain::runProcess("/bin/true", {}, "", 10);
  }
  stopper.join();
  EXPECT_TRUE(run.overran);
  std::ifstream in(groupFile + ".done");
  pid_t group = 0;
  in >> group;
  ASSERT_GT(group, 0);
  for (int i = 0; i < 200 && ::kill(-group, 0) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(::kill(-group, 0), 0) << "the group outlived the stop";
  EXPECT_EQ(VornAgentRunnerMain::outcomeText(later), "spawn_failed: cancelled");
  EXPECT_EQ(started, std::vector<std::string>{"/bin/sh"});
  // Out of the scope, runs are the caller's own again.
  EXPECT_TRUE(
      VornAgentRunnerMain::succeeded(VornAgentRunnerMain::runProcess("/bin/true", {}, "", 10)));
  std::filesystem::remove_all(dir);
}

}  // namespace
