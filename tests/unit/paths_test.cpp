#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "agent-runner/protocol/dispatch.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"

namespace {

namespace fs = std::filesystem;
using VornAgentRunnerMain::authorize;
using VornAgentRunnerMain::resolveRoot;

// The file operation `op` on `request`, answered as the runner answers it.
vorn::RunnerResponse answer(const char* op, vorn::RunnerRequest request) {
  request.op = op;
  return VornAgentRunnerMain::handle(std::move(request));
}

// Only homes matter for tilde expansion; nothing exists in this view.
class FakeHomes final : public vorn::FileSystemView {
 public:
  vorn::PathKind kind(const std::string&) const override { return vorn::PathKind::kMissing; }
  std::optional<std::string> realPath(const std::string&) const override { return std::nullopt; }
  std::optional<std::string> homeDirectory(std::string_view user) const override {
    if (user.empty()) return "/home/me";
    if (user == "bob") return "/srv/bob/";
    return std::nullopt;
  }
};

// A fresh folder under the system's temporary directory, with its links
// resolved so expected paths compare equal to what authorisation returns.
std::string makeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "vorn-unit-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return fs::canonical(pattern).string();
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string readText(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

using Case = std::pair<const char*, const char*>;

TEST(StandardizePath, IsLexical) {
  const Case cases[] = {{"", ""},
                        {"/", "/"},
                        {"//a//b/", "/a/b"},
                        {"a/./b/.", "a/b"},
                        {"/..", "/"},
                        {"/a/../..", "/"},
                        {"/a/b/../c", "/a/c"},
                        {"a/..", "."},
                        {"./", "."},
                        {"../a", "../a"},
                        {"a/../../b", "../b"},
                        {"../..", "../.."},
                        {"/a/.../b", "/a/.../b"},
                        {"a/..b", "a/..b"}};
  for (auto [in, out] : cases) EXPECT_EQ(vorn::standardizePath(in), out) << in;
}

TEST(ExpandTilde, ReplacesOnlyALeadingHome) {
  FakeHomes homes;
  const Case cases[] = {{"~", "/home/me"},
                        {"~/x", "/home/me/x"},
                        {"~bob", "/srv/bob/"},
                        {"~bob/x", "/srv/bob//x"},
                        {"~nobody/x", "~nobody/x"},
                        {"a/~/x", "a/~/x"},
                        {"/~", "/~"},
                        {"", ""}};
  for (auto [in, out] : cases) EXPECT_EQ(vorn::expandTilde(in, homes), out) << in;
}

TEST(ResolveRoot, TrimsExpandsAndStandardizes) {
  FakeHomes homes;
  EXPECT_EQ(resolveRoot(std::nullopt, homes), "");
  EXPECT_EQ(resolveRoot(" \t\n", homes), "");
  EXPECT_EQ(resolveRoot(" ~/w/ \n", homes), "/home/me/w");
  EXPECT_EQ(resolveRoot("~bob/x", homes), "/srv/bob/x");
  EXPECT_EQ(resolveRoot("/x//y/./", homes), "/x/y");
}

// One tree for all authorisation cases: base/w is the workspace, with
// siblings whose names share its prefix and links of every kind inside it.
class Authorize : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = makeTempDir();
    for (const char* d : {"w/a", "w2", "w-x", "out"}) fs::create_directories(base_ + "/" + d);
    for (const char* f : {"w/a/b.txt", "w2/f", "w-x/f", "out/secret"})
      writeText(base_ + "/" + f, "x");
    fs::create_directory_symlink("../out", base_ + "/w/out");
    fs::create_directory_symlink("l2", base_ + "/w/l1");
    fs::create_directory_symlink("a", base_ + "/w/l2");
    fs::create_directory_symlink("c2", base_ + "/w/c1");
    fs::create_directory_symlink(base_ + "/out", base_ + "/w/c2");
    fs::create_symlink(base_ + "/out/missing", base_ + "/w/dangling");
    fs::create_directory_symlink("/", base_ + "/w/slash");
    fs::create_directory_symlink("w", base_ + "/wl");
  }
  static void TearDownTestSuite() { fs::remove_all(base_); }

  static std::string expand(std::string s) {
    for (auto at = s.find('@'); at != s.npos; at = s.find('@')) s.replace(at, 1, base_);
    return s;
  }

  static inline std::string base_;
};

// Input and expected result; "@" stands for the base folder, null for refused.
class AuthorizeTable : public Authorize, public testing::WithParamInterface<Case> {};

TEST_P(AuthorizeTable, AgainstTheWorkspaceRoot) {
  auto [path, expected] = GetParam();
  auto result = authorize(expand(path), base_ + "/w", {});
  if (expected == nullptr) {
    EXPECT_EQ(result, std::nullopt);
  } else {
    EXPECT_EQ(result, expand(expected));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AuthorizeTable,
    testing::Values(Case{"a/b.txt", "@/w/a/b.txt"}, Case{"./a/b.txt", "@/w/a/b.txt"},
                    Case{"@/w/a/b.txt", "@/w/a/b.txt"}, Case{" a/b.txt\n", "@/w/a/b.txt"},
                    Case{"a//new/../b.txt", "@/w/a/b.txt"},
                    Case{"a/new/deep.txt", "@/w/a/new/deep.txt"}, Case{".", "@/w"},
                    Case{"@/w", "@/w"}, Case{"@/w/", "@/w"}, Case{"l1/b.txt", "@/w/l1/b.txt"},
                    Case{"l1/new", "@/w/l1/new"}, Case{"dangling", "@/w/dangling"},
                    Case{"@/w2/f", nullptr}, Case{"@/w-x/f", nullptr}, Case{"../w2/f", nullptr},
                    Case{"..", nullptr}, Case{"../out/secret", nullptr},
                    Case{"a/../../out/secret", nullptr}, Case{"@/w/../out/secret", nullptr},
                    Case{"out", nullptr}, Case{"out/secret", nullptr}, Case{"out/new.txt", nullptr},
                    Case{"c1", nullptr}, Case{"c1/secret", nullptr}, Case{"slash", nullptr},
                    Case{"slash/etc", nullptr}, Case{"/", nullptr}));

TEST_F(Authorize, RootOfTheFileSystemAdmitsAnyAbsolutePath) {
  EXPECT_EQ(authorize(base_ + "/out/secret", "/", {}), base_ + "/out/secret");
  EXPECT_EQ(authorize("/", "/", {}), "/");
}

TEST_F(Authorize, LinkedRootIsComparedByItsRealLocation) {
  EXPECT_EQ(authorize("a/b.txt", base_ + "/wl", {}), base_ + "/wl/a/b.txt");
  EXPECT_EQ(authorize(base_ + "/w/a/b.txt", base_ + "/wl", {}), std::nullopt);
}

TEST_F(Authorize, MissingRootRefusesEverything) {
  const std::string root = base_ + "/missing";
  for (std::string p : {std::string("x"), root, root + "/x", std::string(".")}) {
    EXPECT_EQ(authorize(p, root, {}), std::nullopt) << p;
  }
}

TEST_F(Authorize, ExtraRootsAdmitOnlyWhenPassed) {
  const std::string f = base_ + "/w2/f";
  EXPECT_EQ(authorize(f, base_ + "/w", {}), std::nullopt);
  EXPECT_EQ(authorize(f, base_ + "/w", {" " + base_ + "/w2/ "}), f);
  EXPECT_EQ(authorize(f, "", {base_ + "/w2"}), f);
  EXPECT_EQ(authorize("f", "", {base_ + "/w2"}), std::nullopt);  // relative needs a workspace
  EXPECT_EQ(authorize(f, "", {}), std::nullopt);
}

class FileOps : public testing::Test {
 protected:
  void SetUp() override {
    base_ = makeTempDir();
    root_ = base_ + "/w";
    fs::create_directories(root_);
    fs::create_directories(base_ + "/out");
  }
  void TearDown() override { fs::remove_all(base_); }

  vorn::RunnerRequest request(std::string path, std::optional<std::string> content = {},
                              std::vector<std::string> extra = {}) const {
    return {.workspace_root = root_, .extra_roots = extra, .path = path, .content = content};
  }

  // Names of atomic-write temporaries anywhere under the base folder.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(base_)) {
      if (e.path().filename().string().starts_with(".vorn-write-")) found.push_back(e.path());
    }
    return found;
  }

  std::string base_, root_;
};

TEST_F(FileOps, WriteCountsBytesAndCreatesParents) {
  for (auto [name, content, bytes] : {std::tuple{"empty", "", 0}, {"p/q/r.txt", "héllo", 6}}) {
    auto r = answer("write_file", request(name, content));
    ASSERT_TRUE(r.ok) << *r.error;
    EXPECT_EQ(r.written_bytes, bytes);
    EXPECT_EQ(r.path, root_ + "/" + name);
    EXPECT_EQ(readText(root_ + "/" + name), content);
  }
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(FileOps, WriteRequiresPathAndContent) {
  EXPECT_EQ(answer("write_file", request(" \n", "x")).error, "path is required");
  EXPECT_EQ(answer("write_file", request("f")).error, "content is required");
}

TEST_F(FileOps, WriteOverADirectoryFailsAndLeavesItAlone) {
  fs::create_directories(root_ + "/d");
  writeText(root_ + "/d/keep", "k");
  auto r = answer("write_file", request("d", "x"));
  EXPECT_TRUE(r.error->starts_with("write_failed: ")) << *r.error;
  EXPECT_EQ(readText(root_ + "/d/keep"), "k");
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(FileOps, ReplacedFileKeepsItsMode) {
  writeText(root_ + "/f", "old");
  ::chmod((root_ + "/f").c_str(), 0640);
  ASSERT_TRUE(answer("write_file", request("f", "new")).ok);
  struct stat st;
  ASSERT_EQ(::stat((root_ + "/f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(readText(root_ + "/f"), "new");
}

TEST_F(FileOps, WriteGoesThroughALinkToItsTarget) {
  writeText(root_ + "/real.txt", "old");
  fs::create_symlink("real.txt", root_ + "/link");
  auto r = answer("write_file", request("link", "new"));
  ASSERT_TRUE(r.ok) << *r.error;
  EXPECT_EQ(r.path, root_ + "/link");
  EXPECT_TRUE(fs::is_symlink(root_ + "/link"));
  EXPECT_EQ(readText(root_ + "/real.txt"), "new");
}

TEST_F(FileOps, DanglingLinkOutsideIsRefused) {
  fs::create_symlink(base_ + "/out/new.txt", root_ + "/dl");
  EXPECT_EQ(answer("write_file", request("dl", "x")).error, "path_outside_workspace");
  EXPECT_FALSE(fs::exists(base_ + "/out/new.txt"));
  EXPECT_TRUE(fs::is_symlink(root_ + "/dl"));
  EXPECT_TRUE(fs::is_empty(base_ + "/out"));
}

TEST_F(FileOps, MkdirCreatesTreesButNotOverFiles) {
  EXPECT_TRUE(answer("mkdir", request("x/y/z")).ok);
  EXPECT_TRUE(answer("mkdir", request("x/y")).ok);
  EXPECT_TRUE(fs::is_directory(root_ + "/x/y/z"));
  writeText(root_ + "/file", "");
  auto r = answer("mkdir", request("file"));
  EXPECT_TRUE(r.error->starts_with("mkdir_failed: ")) << *r.error;
  EXPECT_TRUE(answer("mkdir", request("file/sub")).error->starts_with("mkdir_failed: "));
}

TEST_F(FileOps, DeleteOfAMissingPathSucceeds) {
  auto r = answer("delete_file", request("nothing"));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.message, "deleted");
}

TEST_F(FileOps, DeleteRemovesLinksNotWhatTheyPointAt) {
  writeText(base_ + "/out/secret", "s");
  fs::create_symlink(base_ + "/out/missing", root_ + "/dangling");
  fs::create_directories(root_ + "/tree/sub");
  fs::create_directory_symlink(base_ + "/out", root_ + "/tree/sub/out");
  EXPECT_TRUE(answer("delete_file", request("dangling")).ok);
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ + "/dangling")));
  EXPECT_TRUE(answer("delete_file", request("tree")).ok);
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ + "/tree")));
  EXPECT_EQ(readText(base_ + "/out/secret"), "s");
}

TEST_F(FileOps, OnlyWriteHonoursExtraRoots) {
  const std::string extra = base_ + "/out";
  auto w = answer("write_file", request(extra + "/f", "x", {extra}));
  ASSERT_TRUE(w.ok) << *w.error;
  EXPECT_EQ(answer("write_file", request(extra + "/g", "x")).error, "path_outside_workspace");
  EXPECT_EQ(answer("mkdir", request(extra + "/d", {}, {extra})).error, "path_outside_workspace");
  EXPECT_EQ(answer("delete_file", request(extra + "/f", {}, {extra})).error,
            "path_outside_workspace");
  EXPECT_EQ(readText(extra + "/f"), "x");
}

}  // namespace
