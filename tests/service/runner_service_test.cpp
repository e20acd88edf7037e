// The runner as a service on a private session bus: replies equal to the
// one-shot answers, calls that never wait for each other (not behind 64 slow
// ones either), a clean refusal to start when it cannot serve, activation by
// the bus, and a storm of calls after which the process is back to its idle
// threads and descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_fd.h"
#include "tests/support/git_sandbox.h"
#include "tests/support/private_bus.h"

namespace {

using namespace vorn::testing;
using namespace std::chrono_literals;

constexpr const char* kBusName = "dev.vorn.AgentRunner";
constexpr const char* kPath = "/dev/vorn/AgentRunner";
constexpr const char* kInterface = "dev.vorn.AgentRunner1";

std::string call(const PrivateBus& bus, const std::string& request) {
  return performRequest(bus.address(), kBusName, kPath, kInterface, request);
}

// What the one-shot mode writes for `request`, without the line feed, with
// the pid replaced by `pid`.
std::string oneShot(const std::string& request, pid_t pid) {
  std::string command = std::string(VORN_AGENT_RUNNER) + " --json '" + request + "'";
  std::string out = sh("/", command, true);
  if (out.ends_with('\n')) out.pop_back();
  auto at = out.find("\"pid\":");
  auto end = out.find_first_of(",}", at);
  return out.replace(at, end - at, "\"pid\":" + std::to_string(pid));
}

class RunnerService : public ::testing::Test {
 protected:
  void SetUp() override {
    pid_ = bus_.start(VORN_AGENT_RUNNER, {"--xpc-service"});
    ASSERT_TRUE(bus_.waitForName(kBusName));
  }
  PrivateBus bus_;
  pid_t pid_ = -1;
};

TEST_F(RunnerService, RepliesAreTheOneShotAnswers) {
  TempDir dir;
  for (std::string request : std::vector<std::string>{
           R"({"op":"ping"})", R"({"op":" PING "})", R"({"op":"Pong"})", "not json", "{}",
           R"({"op":"shell","command":"echo hi; echo err >&2"})",
           R"({"op":"mkdir","workspace_root":")" + dir.path() + R"(","path":"a/b"})"}) {
    EXPECT_EQ(call(bus_, request), oneShot(request, pid_)) << request;
  }
  EXPECT_EQ(call(bus_, "nope").find(R"("error":"invalid JSON request: )"), 1u);
}

TEST_F(RunnerService, ASlowCallNeverHoldsUpAnother) {
  auto slow = std::async(std::launch::async,
                         [&] { return call(bus_, R"({"op":"shell","command":"sleep 3"})"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the shell is running
  std::string ping = call(bus_, R"({"op":"ping"})");
  EXPECT_NE(ping.find("pong"), std::string::npos);
  EXPECT_EQ(slow.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
      << "the ping waited for the shell";
  EXPECT_NE(slow.get().find(R"("exit_status":0)"), std::string::npos);
}

// Sixty-four slow calls in flight (each a shell held until the test lets it
// go): a ping is answered while every one of them still runs.
TEST_F(RunnerService, APingIsAnsweredWhileSixtyFourSlowCallsRun) {
  TempDir dir;
  const std::string gate = dir.path() + "/gate", started = dir.path() + "/started";
  std::filesystem::create_directory(started);
  vorn::UniqueFd held(::open(gate.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
  ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
  std::vector<std::future<std::string>> slow;
  for (int i = 0; i < 64; ++i) {
    std::string command =
        "touch " + started + "/" + std::to_string(i) + "; flock -s " + gate + " true";
    slow.push_back(std::async(std::launch::async, [this, command] {
      return call(bus_, R"({"op":"shell","timeout":60,"command":")" + command + "\"}");
    }));
  }
  auto running = [&] {
    auto entries = std::filesystem::directory_iterator(started);
    return std::distance(begin(entries), end(entries));
  };
  for (int i = 0; i < 1000 && running() < 64; ++i) std::this_thread::sleep_for(20ms);
  ASSERT_EQ(running(), 64);
  auto ping = std::async(std::launch::async, [this] { return call(bus_, R"({"op":"ping"})"); });
  bool answered = ping.wait_for(15s) == std::future_status::ready;
  int finished = 0;
  for (auto& s : slow) finished += s.wait_for(0s) == std::future_status::ready;
  ::flock(held.get(), LOCK_UN);
  ASSERT_TRUE(answered) << "the ping waited for the slow calls";
  EXPECT_NE(ping.get().find("pong"), std::string::npos);
  EXPECT_EQ(finished, 0);
  for (auto& s : slow) EXPECT_NE(s.get().find(R"("exit_status":0)"), std::string::npos);
}

TEST(RunnerServiceStart, ATakenNameOrNoBusEndsWithOneLineAndStatusOne) {
  PrivateBus bus;
  bus.start(VORN_AGENT_RUNNER, {"--xpc-service"});
  ASSERT_TRUE(bus.waitForName(kBusName));
  TempDir dir;
  std::string errPath = dir.path() + "/err";
  pid_t second = bus.start(VORN_AGENT_RUNNER, {"--xpc-service"}, errPath);
  EXPECT_EQ(bus.wait(second), 1);
  std::string err = readText(errPath);
  EXPECT_EQ(err, "cannot take the bus name dev.vorn.AgentRunner: it is taken by another process\n");

  std::string command = "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.path() + "/none " +
                        VORN_AGENT_RUNNER + " --xpc-service 2>" + errPath + "; echo $?";
  EXPECT_EQ(sh("/", command, true), "1\n");
  err = readText(errPath);
  EXPECT_TRUE(err.starts_with("cannot reach the session bus: ")) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
}

TEST(RunnerServiceStart, TheFirstCallStartsTheProgram) {
  PrivateBus bus(VORN_ACTIVATION_DIR);
  std::string reply = call(bus, R"({"op":"ping"})");
  EXPECT_EQ(reply.find(R"({"helper":"vorn-agent-runner","ok":true,"pid":)"), 0u) << reply;
}

// 200 callers, 10,000 calls of five kinds; every reply must be the right one.
TEST_F(RunnerService, StormOfMixedCallsLeavesNothingBehind) {
  call(bus_, R"({"op":"ping"})");
  int idleThreads = settledEntries(pid_, "task"), idleFds = settledEntries(pid_, "fd");
  GitRepo repo;
  const std::string root = repo.root();
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int c = 0; c < 200; ++c) {
    callers.emplace_back([&, c] {
      for (int i = 0; i < 50; ++i) {
        std::string file = "f" + std::to_string(c) + "-" + std::to_string(i);
        std::string reply, want;
        switch (i % 5) {
          case 0:
            reply = call(bus_, R"({"op":"ping"})"), want = R"("stdout":"pong")";
            break;
          case 1:
            reply = call(bus_, R"({"op":"write_file","workspace_root":")" + root +
                                   R"(","path":"storm/)" + file + R"(","content":"x"})");
            want = R"("written_bytes":1)";
            break;
          case 2:
            reply = call(bus_, R"({"op":"shell","command":"echo )" + file + R"("})");
            want = R"("stdout":")" + file + R"(\n")";
            break;
          case 3:
            reply = call(bus_, R"({"op":"git_status","workspace_root":")" + root + R"("})");
            want = R"("message":"status")";
            break;
          default:
            reply = call(bus_, "[" + file);
            want = R"("error":"invalid JSON request: )";
        }
        if (reply.find(want) == std::string::npos) ++wrong;
      }
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(::kill(pid_, 0), 0) << "the service ended";
  EXPECT_EQ(settledEntries(pid_, "task"), idleThreads);
  EXPECT_EQ(settledEntries(pid_, "fd"), idleFds);
}

}  // namespace
