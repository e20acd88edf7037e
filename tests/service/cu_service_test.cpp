// The computer-use helper as a service on a private session bus: replies
// equal to the one-shot answers, a clean refusal to start when the name is
// taken, activation by the bus, and 2,000 concurrent calls after which the
// process is back to its idle threads and descriptors.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/git_sandbox.h"
#include "tests/support/private_bus.h"

namespace {

using namespace vorn::testing;

constexpr const char* kBusName = "dev.vorn.ComputerUse";

std::string call(const PrivateBus& bus, const std::string& request) {
  return performRequest(bus.address(), kBusName, "/dev/vorn/ComputerUse", "dev.vorn.ComputerUse1",
                        request);
}

std::string oneShot(const std::string& request) {
  std::string out = sh("/", std::string(VORN_COMPUTER_USE) + " --json '" + request + "'", true);
  if (out.ends_with('\n')) out.pop_back();
  return out;
}

class HelperService : public ::testing::Test {
 protected:
  void SetUp() override {
    pid_ = bus_.start(VORN_COMPUTER_USE, {"--xpc-service"});
    ASSERT_TRUE(bus_.waitForName(kBusName));
  }
  PrivateBus bus_;
  pid_t pid_ = -1;
};

TEST_F(HelperService, RepliesAreTheOneShotAnswers) {
  EXPECT_EQ(call(bus_, R"({"op":"ping"})"),
            R"({"ax_in_helper":true,"helper":"vorn-computer-use","ok":true,"pid":)" +
                std::to_string(pid_) + "}");
  for (std::string request :
       {"not json", "[1]", R"({"op":"Windows"})", R"({"op":"keypress"})",
        R"({"op":"keypress","key":"f5"})", R"({"op":"screenshot","window_number":0})",
        R"({"op":"screenshot","window_number":4294967297})"}) {
    EXPECT_EQ(call(bus_, request), oneShot(request)) << request;
  }
}

TEST(HelperServiceStart, ATakenNameEndsWithOneLineAndStatusOne) {
  PrivateBus bus;
  bus.start(VORN_COMPUTER_USE, {"--xpc-service"});
  ASSERT_TRUE(bus.waitForName(kBusName));
  TempDir dir;
  pid_t second = bus.start(VORN_COMPUTER_USE, {"--xpc-service"}, dir.path() + "/err");
  EXPECT_EQ(bus.wait(second), 1);
  EXPECT_EQ(readText(dir.path() + "/err"),
            "cannot take the bus name dev.vorn.ComputerUse: it is taken by another process\n");
}

TEST(HelperServiceStart, TheFirstCallStartsTheProgram) {
  PrivateBus bus(VORN_ACTIVATION_DIR);
  EXPECT_EQ(call(bus, R"({"op":"ping"})").find(R"({"ax_in_helper":true,"helper":)"), 0u);
}

TEST_F(HelperService, ConcurrentCallsAllGetTheirAnswerAndLeaveNothingBehind) {
  // The display connection is opened by the first call that needs it, and kept.
  call(bus_, R"({"op":"list_windows"})");
  int idleThreads = settledEntries(pid_, "task"), idleFds = settledEntries(pid_, "fd");
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int c = 0; c < 50; ++c) {
    callers.emplace_back([&] {
      for (int i = 0; i < 40; ++i) {
        std::string reply, want;
        switch (i % 4) {
          case 0:
            reply = call(bus_, R"({"op":"ping"})"), want = R"("helper":"vorn-computer-use")";
            break;
          case 1:
            reply = call(bus_, R"({"op":"list_windows"})"), want = R"("windows":[)";
            break;
          case 2:
            reply = call(bus_, "{"), want = R"("error":"invalid_json")";
            break;
          default:
            reply = call(bus_, R"({"op":"nope"})"), want = R"("error":"unknown_op")";
        }
        if (reply.find(want) == std::string::npos) ++wrong;
      }
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(settledEntries(pid_, "task"), idleThreads);
  EXPECT_EQ(settledEntries(pid_, "fd"), idleFds);
}

}  // namespace
