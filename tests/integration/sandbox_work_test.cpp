// Ordinary agent work inside the sandbox: building and testing in the
// workspace, git, temporary files, pipes, background jobs, and the network
// when the request allows it. Run as root in private read-only mounts, like
// the escape battery, so that a sandbox that let too much through still
// harms nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "agent-runner/process/shell.h"
#include "agent-runner/protocol/answers.h"
#include "agent-runner/protocol/dispatch.h"
#include "tests/support/listeners.h"
#include "tests/support/sandbox_scene.h"
#include "tests/support/unprivileged.h"

namespace {

using vorn::testing::SandboxScene;

struct Work {
  const char* name;
  const char* command;
  const char* expected;  // in its standard output
};

const Work kWork[] = {
    {"Make", "printf 'all:\\n\\techo built > out.txt\\n' > Makefile && make -s && cat out.txt",
     "built"},
    {"CmakeBuildAndTest",
     "printf 'int main(){return 0;}' > main.c && "
     "printf 'cmake_minimum_required(VERSION 3.20)\\nproject(p C)\\nenable_testing()\\n"
     "add_executable(p main.c)\\nadd_test(NAME p COMMAND p)\\n' > CMakeLists.txt && "
     "cmake -S . -B build -G 'Unix Makefiles' >/dev/null && cmake --build build >/dev/null && "
     "cd build && ctest 2>&1 | grep -o '100% tests passed'",
     "100% tests passed"},
    {"NpmTestOffline",
     "printf '{\"name\":\"p\",\"version\":\"1.0.0\",\"scripts\":{\"test\":\"node -e "
     "\\\\\"console.log(6*7)\\\\\"\"}}' > package.json && npm test --offline --silent",
     "42"},
    {"GitInTheShell",
     "git init -q -b main r && cd r && echo a > a && git add a && "
     "git -c user.name=t -c user.email=t@t.invalid commit -qm one && git log --format=%s",
     "one"},
    {"TemporaryFiles", "f=$(mktemp) && echo kept > $f && cat $f && rm $f && cat <<EOF\nhere\nEOF",
     "kept\nhere"},
    {"PipesAndJobs", "seq 1 1000 | sort -rn | head -1; sleep 0.1 & wait $! && echo waited",
     "1000\nwaited"},
    {"OwnSharedMemoryAndDevices",
     "echo x > /dev/shm/own && cat /dev/shm/own && echo y > /dev/null && head -c 3 /dev/zero | "
     "wc -c",
     "x\n3"},
};

class SandboxWork : public ::testing::TestWithParam<Work> {
 protected:
  SandboxScene scene_;
};

TEST_P(SandboxWork, Succeeds) {
  const Work& work = GetParam();
  if (std::string(work.name) == "NpmTestOffline" && std::system("command -v npm >/dev/null")) {
    GTEST_SKIP() << "npm is not installed";
  }
  vorn::testing::asRootInPrivateMounts(scene_.folder(), [&] {
    scene_.enterSandboxMode();
    auto answer = VornAgentRunnerMain::answerOf(VornAgentRunnerMain::runShell(
        {.command = work.command, .directory = scene_.workspace(), .timeout = 120}));
    EXPECT_TRUE(answer.ok) << answer.error.value_or("") << answer.stderr_text.value_or("");
    EXPECT_NE(answer.stdout_text.value_or("").find(work.expected), std::string::npos)
        << answer.stdout_text.value_or("") << answer.stderr_text.value_or("");
  });
}

INSTANTIATE_TEST_SUITE_P(Sandbox, SandboxWork, ::testing::ValuesIn(kWork),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SandboxWorkExtra, PytestWhereInstalled) {
  if (std::system("/usr/bin/python3 -c 'import pytest' 2>/dev/null") != 0) {
    GTEST_SKIP() << "pytest is not installed";
  }
  SandboxScene scene;
  vorn::testing::asRootInPrivateMounts(scene.folder(), [&] {
    scene.enterSandboxMode();
    auto answer = VornAgentRunnerMain::answerOf(VornAgentRunnerMain::runShell(
        {.command = "printf 'def test_one():\\n    assert 1\\n' > test_one.py && "
                    "/usr/bin/python3 -m pytest -q",
         .directory = scene.workspace(),
         .timeout = 120}));
    EXPECT_TRUE(answer.ok) << answer.stdout_text.value_or("") << answer.stderr_text.value_or("");
  });
}

// The same listener is out of reach without allow_network (the battery) and
// reached with it; a loopback fetch brings its body back.
TEST(SandboxWorkExtra, NetworkWhenTheRequestAllowsIt) {
  SandboxScene scene;
  vorn::testing::asRootInPrivateMounts(scene.folder(), [&] {
    scene.enterSandboxMode();
    vorn::testing::HttpResponder server("fetched body");
    vorn::testing::Listener udp = vorn::testing::Listener::udp();
    std::string command = "curl -s -m 5 http://127.0.0.1:" + std::to_string(server.port()) +
                          "/ && /usr/bin/python3 -c 'import socket; "
                          "socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b\"x\", "
                          "(\"127.0.0.1\", " +
                          std::to_string(udp.port()) + "))'";
    auto allowed = VornAgentRunnerMain::answerOf(VornAgentRunnerMain::runShell(
        {.command = command, .directory = scene.workspace(), .timeout = 30, .allowNetwork = true}));
    EXPECT_EQ(allowed.stdout_text.value_or(""), "fetched body") << allowed.stderr_text.value_or("");
    EXPECT_EQ(udp.arrivals(), 1);
    auto refused = VornAgentRunnerMain::answerOf(VornAgentRunnerMain::runShell(
        {.command = command, .directory = scene.workspace(), .timeout = 30}));
    EXPECT_EQ(refused.stdout_text.value_or(""), "");
    EXPECT_EQ(udp.arrivals(), 0);
  });
}

// The runner's own git operations run in the sandbox and still answer.
TEST(SandboxWorkExtra, GitOperations) {
  SandboxScene scene;
  vorn::testing::asRootInPrivateMounts(scene.folder(), [&] {
    scene.enterSandboxMode();
    vorn::testing::writeText(scene.workspace() + "/new", "x\n");
    auto status =
        VornAgentRunnerMain::handle(vorn::testing::request("git_status", scene.workspace()));
    EXPECT_TRUE(status.ok) << status.error.value_or("");
    EXPECT_NE(status.stdout_text.value_or("").find("new"), std::string::npos);
    auto stage = vorn::testing::request("git_stage", scene.workspace());
    stage.paths = std::vector<std::string>{"new"};
    EXPECT_TRUE(VornAgentRunnerMain::handle(stage).ok);
    auto commit = vorn::testing::request("git_commit", scene.workspace());
    commit.message = "added";
    auto committed = VornAgentRunnerMain::handle(commit);
    EXPECT_TRUE(committed.ok) << committed.error.value_or("");
  });
}

}  // namespace
