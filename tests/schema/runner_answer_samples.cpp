// Real answers of every runner operation, for the schema check: each
// request is answered in-process exactly as the runner answers its text
// (handleJSONText), succeeding and failing in the ways each operation can,
// and written as one line {"op", "request", "request_valid", "answer"} to
// the file VORN_ANSWER_SAMPLES names. A scenario that does not end as it
// means to (a setup fault would make every sample a failure) fails the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "agent-runner/protocol/entry.h"
#include "tests/support/git_sandbox.h"

namespace {

using json = nlohmann::json;
using namespace vorn::testing;

struct Samples {
  std::ofstream out;

  // Answers `request`; `valid` is whether the request schema must accept it,
  // `ok` how the answer must end.
  json send(const json& request, bool valid, bool ok) {
    std::string text = VornAgentRunnerMain::handleJSONText(request.dump());
    return record(request.value("op", ""), request, valid, ok, text);
  }

  json sendText(const std::string& request, bool ok) {
    std::string text = VornAgentRunnerMain::handleJSONText(request);
    return record("", nullptr, false, ok, text);
  }

  json record(const std::string& op, const json& request, bool valid, bool ok,
              const std::string& text) {
    json answer = json::parse(text);
    EXPECT_EQ(answer.value("ok", !ok), ok) << request.dump() << "\n" << text;
    out << json{{"op", op}, {"request", request}, {"request_valid", valid}, {"answer", answer}}
               .dump()
        << "\n";
    return answer;
  }
};

void files(Samples& s, const std::string& root) {
  s.send({{"op", "ping"}}, true, true);
  s.send({{"op", "write_file"}, {"workspace_root", root}, {"path", "a/b.txt"}, {"content", "x\n"}},
         true, true);
  s.send({{"op", "write_file"}, {"workspace_root", root}, {"path", "a"}, {"content", "x"}}, true,
         false);
  s.send({{"op", "write_file"}, {"workspace_root", root}, {"path", "/etc/x"}, {"content", ""}},
         true, false);
  s.send({{"op", "write_file"}, {"workspace_root", root}, {"path", " "}, {"content", ""}}, false,
         false);
  s.send({{"op", "write_file"}, {"workspace_root", root}, {"path", "c"}}, false, false);
  s.send({{"op", "mkdir"}, {"workspace_root", root}, {"path", "d/e"}}, true, true);
  s.send({{"op", "mkdir"}, {"workspace_root", root}, {"path", "a/b.txt"}}, true, false);
  s.send({{"op", "delete_file"}, {"workspace_root", root}, {"path", "d"}}, true, true);
  s.send({{"op", "delete_file"}, {"workspace_root", root}}, false, false);
}

void shells(Samples& s, const std::string& root) {
  s.send({{"op", "shell"}, {"workspace_root", root}, {"command", "echo out; echo err >&2"}}, true,
         true);
  s.send({{"op", "shell"}, {"command", "exit 3"}, {"timeout", 5}, {"allow_network", false}}, true,
         false);
  s.send({{"op", "shell"}, {"command", "exec sleep 5"}, {"timeout", 0.2}}, true, false);
  s.send({{"op", "shell"}, {"workspace_root", root + "/gone"}, {"command", "true"}}, true, false);
  s.send({{"op", "shell"}, {"command", " "}}, false, false);
}

json diffOf(const std::string& name) {
  return "diff --git a/" + name + " b/" + name + "\nnew file mode 100644\n--- /dev/null\n+++ b/" +
         name + "\n@@ -0,0 +1 @@\n+new\n";
}

void gitIndex(Samples& s, const GitRepo& repo) {
  const std::string& root = repo.root();
  s.send({{"op", "apply_diff"},
          {"workspace_root", root},
          {"diff", diffOf("n.txt")},
          {"dry_run", true}},
         true, true);
  s.send({{"op", "apply_diff"}, {"workspace_root", root}, {"diff", diffOf("n.txt")}}, true, true);
  s.send({{"op", "apply_diff"}, {"workspace_root", root}, {"diff", diffOf("n.txt")}}, true, false);
  s.send({{"op", "apply_diff"}, {"workspace_root", root}, {"diff", diffOf("../out.txt")}}, true,
         false);
  s.send({{"op", "apply_diff"}, {"workspace_root", root}}, false, false);
  s.send({{"op", "git_stage"}, {"workspace_root", root}, {"paths", {"n.txt"}}}, true, true);
  s.send({{"op", "git_stage"}, {"workspace_root", root}, {"path", "missing.txt"}}, true, false);
  s.send({{"op", "git_stage"}, {"workspace_root", root}, {"paths", json::array()}}, true, false);
  s.send({{"op", "git_unstage"}, {"workspace_root", root}, {"paths", {"n.txt"}}}, true, true);
  s.send({{"op", "git_unstage"}, {"workspace_root", root}, {"paths", {"../x"}}}, true, false);
  s.send({{"op", "git_stage"}, {"workspace_root", root}, {"path", "n.txt"}}, true, true);
  s.send({{"op", "git_commit"}, {"workspace_root", root}, {"message", "add n"}}, true, true);
  s.send({{"op", "git_commit"}, {"workspace_root", root}, {"message", "nothing"}}, true, false);
  s.send({{"op", "git_commit"}, {"workspace_root", root}}, false, false);
  s.send({{"op", "git_commit"}, {"message", "m"}}, false, false);
  repo.write("README", "changed\n");
  s.send(
      {{"op", "git_restore"}, {"workspace_root", root}, {"paths", {"README"}}, {"staged", false}},
      true, true);
  s.send({{"op", "git_restore"}, {"workspace_root", root}, {"paths", {"/etc/passwd"}}}, true,
         false);
}

void gitBranches(Samples& s, const GitRepo& repo) {
  const std::string& root = repo.root();
  s.send({{"op", "git_branch_create"}, {"workspace_root", root}, {"name", "topic"}}, true, true);
  s.send({{"op", "git_branch_create"}, {"workspace_root", root}, {"branch", "topic"}}, true, false);
  s.send({{"op", "git_branch_create"}, {"workspace_root", root}, {"name", "-x"}}, true, false);
  s.send({{"op", "git_branch_switch"}, {"workspace_root", root}, {"name", "main"}}, true, true);
  s.send({{"op", "git_branch_switch"}, {"workspace_root", root}, {"name", "none"}}, true, false);
  s.send({{"op", "git_branch_list"}, {"workspace_root", root}}, true, true);
  s.send({{"op", "git_branch_list"}, {"workspace_root", root + "/nowhere"}}, true, false);
  s.send({{"op", "git_push"},
          {"workspace_root", root},
          {"remote", "origin"},
          {"branch", "main"},
          {"set_upstream", true}},
         true, true);
  s.send({{"op", "git_push"}, {"workspace_root", root}, {"remote", "a/b"}}, true, false);
  s.send({{"op", "git_push"}, {"workspace_root", root}, {"remote", "nowhere"}, {"name", "main"}},
         true, false);
}

void gitInspection(Samples& s, const GitRepo& repo) {
  const std::string& root = repo.root();
  repo.write("README", "again\n");
  s.send({{"op", "git_status"}, {"workspace_root", root}, {"timeout", 10}}, true, true);
  s.send({{"op", "git_log"}, {"workspace_root", root}, {"count", 2}}, true, true);
  s.send({{"op", "git_diff"}, {"workspace_root", root}}, true, true);
  s.send({{"op", "git_diff"}, {"workspace_root", root}, {"scope", "staged"}, {"path", "README"}},
         true, true);
  s.send(
      {{"op", "git_diff"}, {"workspace_root", root}, {"scope", "branch"}, {"base_branch", "-bad"}},
      true, false);
  s.send({{"op", "git_status"}, {"workspace_root", root + "/nowhere"}}, true, false);
  s.send({{"op", "git_log"}}, false, false);
  repo.git("checkout -q -- README");
}

void worktrees(Samples& s, const GitRepo& repo) {
  const std::string& root = repo.root();
  std::string tree = root + "/.vorn/worktrees/agent";
  s.send({{"op", "git_worktree_add"},
          {"workspace_root", root},
          {"worktree_path", tree},
          {"branch", "agent"}},
         true, true);
  s.send({{"op", "git_worktree_add"}, {"workspace_root", root}, {"path", tree}, {"name", "agent"}},
         true, true);
  s.send({{"op", "git_worktree_add"},
          {"workspace_root", root},
          {"worktree_path", root + "/x"},
          {"branch", "b"}},
         true, false);
  s.send({{"op", "git_worktree_add"}, {"workspace_root", root}, {"branch", "b"}}, true, false);
  writeText(tree + "/work.txt", "work\n");
  s.send({{"op", "git_deliver"},
          {"workspace_root", root},
          {"worktree_path", tree},
          {"branch", "agent"},
          {"no_ff", true}},
         true, true);
  s.send({{"op", "git_deliver"},
          {"workspace_root", root},
          {"worktree_path", tree},
          {"branch", "agent"},
          {"message", "again"},
          {"prune", true}},
         true, true);
  s.send({{"op", "git_deliver"},
          {"workspace_root", root},
          {"worktree_path", root + "/.vorn/worktrees/none"},
          {"branch", "x"}},
         true, false);
  s.send({{"op", "git_worktree_add"},
          {"workspace_root", root},
          {"worktree_path", tree},
          {"branch", "agent"},
          {"timeout", 20}},
         true, true);
  s.send({{"op", "git_worktree_remove"}, {"workspace_root", root}, {"paths", {tree}}}, true, true);
  s.send({{"op", "git_worktree_remove"},
          {"workspace_root", root},
          {"worktree_path", root + "/README"}},
         true, false);
  s.send({{"op", "git_worktree_remove"}, {"workspace_root", root}}, true, false);
}

void beforeDispatch(Samples& s) {
  s.send({{"op", "no_such_op"}}, false, false);
  s.sendText("{", false);
  s.sendText(R"({"op":"ping","count":"x"})", false);
  s.sendText("\xff", false);
}

TEST(RunnerAnswers, OfEveryOperation) {
  const char* file = std::getenv("VORN_ANSWER_SAMPLES");
  ASSERT_NE(file, nullptr) << "VORN_ANSWER_SAMPLES names no file";
  Samples samples{std::ofstream(file, std::ios::trunc)};
  TempDir workspace;
  files(samples, workspace.path());
  shells(samples, workspace.path());
  GitRepo repo;
  TempDir remote;
  sh(remote.path(), "git init -q --bare");
  repo.git("remote add origin '" + remote.path() + "'");
  gitIndex(samples, repo);
  gitBranches(samples, repo);
  gitInspection(samples, repo);
  worktrees(samples, repo);
  beforeDispatch(samples);
  samples.out.flush();
  EXPECT_TRUE(samples.out) << "cannot write " << file;
}

}  // namespace
