// The Landlock layer on its own: a ruleset built here, a child started
// under it through ChildProcess, and what the child could then do.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "agent-runner/confinement/landlock.h"
#include "agent-runner/process/child_process.h"
#include "agent-runner/process/process_runner.h"
#include "tests/support/git_sandbox.h"

namespace {

using namespace vorn::testing;
using vorn::confinement::RulesetBuilder;
using vorn::confinement::Scope;

class Landlock : public ::testing::Test {
 protected:
  void SetUp() override {
    if (vorn::confinement::landlockAbi() < vorn::confinement::kMinimumAbi) {
      GTEST_SKIP() << "no Landlock in this kernel";
    }
    writeText(dir_.path() + "/in/readable", "in\n");
    writeText(dir_.path() + "/out/secret", "secret\n");
  }

  // `script` run by /bin/sh under a ruleset allowing writes beneath "in".
  vorn::RunnerResponse run(Scope scope, const std::string& script) {
    RulesetBuilder rules(scope);
    rules.allowWrite(dir_.path() + "/in");
    for (const char* system : {"/usr", "/bin", "/lib", "/lib64", "/etc/ld.so.cache"}) {
      rules.allowRead(system);
    }
    rules.allowWrite("/dev/null");
    auto ruleset = rules.finish();
    EXPECT_TRUE(std::holds_alternative<vorn::UniqueFd>(ruleset));
    vorn::Confinement confinement{std::get<vorn::UniqueFd>(ruleset).get()};
    return VornAgentRunnerMain::runProcessWithEnvironment(
        {"PATH=/usr/bin:/bin"}, "/bin/sh", {"-c", script}, dir_.path(), 10, &confinement);
  }

  TempDir dir_;
};

TEST_F(Landlock, WritesOnlyBeneathTheAllowedFolders) {
  auto answer = run(Scope::kWrites, "echo ok > in/made && cat out/secret && echo no > out/made");
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(readText(dir_.path() + "/in/made"), "ok\n");
  EXPECT_EQ(answer.stdout_text, "secret\n");  // reads stay open in this scope
  EXPECT_FALSE(exists(dir_.path() + "/out/made"));
  EXPECT_FALSE(run(Scope::kWrites, "mv in/made out/moved").ok);
  EXPECT_FALSE(run(Scope::kWrites, "rm out/secret").ok);
  EXPECT_EQ(readText(dir_.path() + "/out/secret"), "secret\n");
}

TEST_F(Landlock, ReadsOnlyBeneathTheAllowedFoldersWhenAsked) {
  auto answer = run(Scope::kReadsAndWrites, "cat in/readable; cat out/secret");
  EXPECT_EQ(answer.stdout_text, "in\n");
  EXPECT_NE(answer.stderr_text.value_or("").find("Permission denied"), std::string::npos);
  // What the child starts is held as well.
  EXPECT_FALSE(run(Scope::kReadsAndWrites, "sh -c 'cat out/secret'").ok);
}

TEST_F(Landlock, ChildSetupFailuresAreDescribed) {
  RulesetBuilder rules(Scope::kWrites);
  auto ruleset = rules.finish();
  vorn::Confinement confinement{std::get<vorn::UniqueFd>(ruleset).get()};
  auto missing = VornAgentRunnerMain::runProcessWithEnvironment(
      {}, "/bin/sh", {"-c", "true"}, dir_.path() + "/nowhere", 5, &confinement);
  EXPECT_TRUE(missing.error->starts_with("spawn_failed: cannot enter directory")) << *missing.error;
  auto absent = VornAgentRunnerMain::runProcessWithEnvironment({}, "/no/such/program", {}, "", 5,
                                                               &confinement);
  EXPECT_TRUE(absent.error->starts_with("spawn_failed: cannot run")) << *absent.error;
  auto nul = VornAgentRunnerMain::runProcessWithEnvironment(
      {}, "/bin/sh", {"-c", std::string("true\0; false", 13)}, "", 5, &confinement);
  EXPECT_TRUE(nul.error->find("NUL") != std::string::npos) << *nul.error;
}

}  // namespace
