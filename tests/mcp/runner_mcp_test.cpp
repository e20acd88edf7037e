// The runner's protocol front end in process: the ceiling and how client
// roots narrow it, the workspace root a call may name, the command line, the
// progress words.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "agent-runner/mcp/mcp_mode.h"
#include "agent-runner/mcp/runner_tools.h"
#include "agent-runner/mcp/workspace_ceiling.h"

namespace {

namespace fs = std::filesystem;
using vorn::mcp::Root;
using VornAgentRunnerMcp::WorkspaceCeiling;

class Ceiling : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vorn-ceiling-XXXXXX").string();
    top_ = fs::canonical(::mkdtemp(pattern.data())).string();
    fs::create_directories(top_ + "/ws/sub");
    fs::create_directories(top_ + "/ws/.git");
    fs::create_directories(top_ + "/other");
    fs::create_symlink(top_ + "/other", top_ + "/ws/away");
  }
  void TearDown() override { fs::remove_all(top_); }

  WorkspaceCeiling make(const std::vector<std::string>& folders) {
    auto made = WorkspaceCeiling::make(folders, top_);
    EXPECT_TRUE(std::holds_alternative<WorkspaceCeiling>(made));
    return std::get<WorkspaceCeiling>(made);
  }
  static Root fileRoot(const std::string& path) { return {.uri = "file://" + path, .path = path}; }

  std::string top_;
};

TEST_F(Ceiling, FoldersAreStandardisedRelativeOnesTakenFromTheCurrentDirectoryNoneMeansIt) {
  EXPECT_EQ(make({"ws/", top_ + "//other/.", "ws"}).folders(),
            (std::vector<std::string>{top_ + "/ws", top_ + "/other"}));
  EXPECT_EQ(make({}).folders(), std::vector<std::string>{top_});
  for (std::string wrong :
       {top_ + "/missing", top_ + "/ws/away/../../nothing", std::string("  ")}) {
    auto made = WorkspaceCeiling::make({wrong}, top_);
    ASSERT_TRUE(std::holds_alternative<std::string>(made)) << wrong;
    EXPECT_EQ(std::get<std::string>(made), "--workspace '" + wrong + "' is not a folder");
  }
  std::string withNul = top_ + "/ws";
  withNul += '\0';
  EXPECT_TRUE(std::holds_alternative<std::string>(WorkspaceCeiling::make({withNul + "x"}, top_)));
}

TEST_F(Ceiling, ClientRootsNarrowItAndNeverWidenIt) {
  auto ceiling = make({top_ + "/ws", top_ + "/other"});
  EXPECT_EQ(ceiling.narrowedBy(std::nullopt), ceiling.folders());
  // Inside: the client's root; wider: the ceiling's folder; outside: nothing.
  EXPECT_EQ(ceiling.narrowedBy(std::vector{fileRoot(top_ + "/ws/sub"), fileRoot("/")}),
            (std::vector<std::string>{top_ + "/ws/sub", top_ + "/ws", top_ + "/other"}));
  EXPECT_EQ(ceiling.narrowedBy(std::vector{fileRoot("/usr")}), std::vector<std::string>{});
  EXPECT_EQ(ceiling.narrowedBy(std::vector<Root>{}), std::vector<std::string>{});
  // A root that leaves the ceiling through a link, a repository's own files
  // and a root that is no file do not count.
  auto narrowed =
      ceiling.narrowedBy(std::vector{fileRoot(top_ + "/ws/away/x"), fileRoot(top_ + "/ws/.git"),
                                     Root{.uri = "https://example.com/ws"}});
  EXPECT_EQ(narrowed, std::vector<std::string>{});
}

TEST_F(Ceiling, ACallsRootLiesInsideTheAllowedFolders) {
  std::vector<std::string> allowed{top_ + "/ws", top_ + "/other"};
  auto root = [&](std::optional<std::string> requested) {
    auto chosen = VornAgentRunnerMcp::workspaceRootWithin(requested, allowed);
    if (auto* refusal = std::get_if<vorn::Refusal>(&chosen)) return "refused: " + refusal->text;
    return std::get<std::string>(chosen);
  };
  EXPECT_EQ(root(std::nullopt), top_ + "/ws");
  EXPECT_EQ(root(" \t"), top_ + "/ws");
  EXPECT_EQ(root("sub/"), top_ + "/ws/sub");
  EXPECT_EQ(root(top_ + "/other/new"), top_ + "/other/new");
  const std::string refused = "refused: path_outside_workspace: workspace_root must lie inside " +
                              top_ + "/ws, " + top_ + "/other";
  for (std::string outside : {std::string("/"), top_, std::string(".."), std::string("sub/../.."),
                              std::string("away"), std::string(".git"), std::string(".GIT/hooks"),
                              std::string("~"), std::string("sub\0", 4)}) {
    EXPECT_EQ(root(outside), refused) << outside;
  }
  allowed.clear();
  EXPECT_EQ(root(std::nullopt),
            "refused: path_outside_workspace: none of the client's roots lies inside this "
            "server's workspace folders");
}

TEST(McpCommandLine, WorkspacesInOrderOtherArgumentsLeftToTheirModes) {
  auto read = [](std::vector<std::string_view> arguments) {
    return VornAgentRunnerMcp::mcpOptions(arguments);
  };
  auto options =
      read({"--sandbox", "--workspace", "/a", "--mcp", "--workspace=/b c", "--workspace="});
  ASSERT_TRUE(std::holds_alternative<VornAgentRunnerMcp::McpOptions>(options));
  EXPECT_EQ(std::get<VornAgentRunnerMcp::McpOptions>(options).workspaces,
            (std::vector<std::string>{"/a", "/b c", ""}));
  auto missing = read({"--mcp", "--workspace"});
  ASSERT_TRUE(std::holds_alternative<std::string>(missing));
  EXPECT_EQ(std::get<std::string>(missing), "--workspace needs a folder after it");
}

TEST(McpProgress, NamesTheProgramRunning) {
  using VornAgentRunnerMcp::progressWords;
  EXPECT_EQ(progressWords("/usr/bin/git", {"status", "--porcelain=1"}), "running git status");
  EXPECT_EQ(progressWords("/usr/bin/env", {"git", "log", "-n", "5"}), "running git log");
  EXPECT_EQ(progressWords("/usr/bin/git", {"--version"}), "running git");
  EXPECT_EQ(progressWords("/bin/zsh", {"-c", "make all"}), "running the shell command");
  EXPECT_EQ(progressWords("/usr/bin/env", {}), "running env");
}

}  // namespace
