#include "tests/support/sandbox_scene.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "agent-runner/sandbox/private_temp.h"
#include "agent-runner/sandbox/sandbox_mode.h"

namespace vorn::testing {
namespace fs = std::filesystem;

namespace {

std::string describeEntry(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return "gone";
  std::ostringstream text;
  text << std::oct << info.st_mode << std::dec << ' ' << info.st_uid << ':' << info.st_gid << ' '
       << info.st_size << ' ' << info.st_mtim.tv_sec << '.' << info.st_mtim.tv_nsec << ' '
       << info.st_ctim.tv_sec << '.' << info.st_ctim.tv_nsec << ' ' << info.st_nlink;
  if (S_ISREG(info.st_mode)) text << ' ' << readText(path.string());
  if (S_ISLNK(info.st_mode)) text << " -> " << fs::read_symlink(path).string();
  return text.str();
}

}  // namespace

TreeSnapshot snapshotTree(const std::string& root, const std::vector<std::string>& skipped) {
  TreeSnapshot snapshot{{root, describeEntry(root)}};
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string path = it->path().string();
    if (std::ranges::any_of(skipped,
                            [&](const auto& prefix) { return path.starts_with(prefix); })) {
      if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
      continue;
    }
    snapshot[path] = describeEntry(it->path());
  }
  return snapshot;
}

std::string treeDifferences(const TreeSnapshot& before, const TreeSnapshot& after) {
  std::string differences;
  for (const auto& [path, entry] : before) {
    auto found = after.find(path);
    if (found == after.end())
      differences += "removed: " + path + "\n";
    else if (found->second != entry)
      differences += "changed: " + path + "\n";
  }
  for (const auto& [path, entry] : after) {
    if (!before.contains(path)) differences += "created: " + path + "\n";
  }
  return differences;
}

SandboxScene::SandboxScene() {
  for (const auto& place : {workspace(), home(), outside(), runtime() + "/systemd", temp()}) {
    fs::create_directories(place);
  }
  writeText(home() + "/.bashrc", "# the user's own\n");
  writeText(outside() + "/secret", "secret\n");
  writeText(workspace() + "/file", "in the workspace\n");
  const char* init =
      "git init -q -b main . && git -c user.name=t -c user.email=t@t.invalid "
      "commit -q --allow-empty -m init";
  sh(workspace(), init);
  fs::create_directories(outside() + "/repo");
  sh(outside() + "/repo", init);
}

void SandboxScene::enterSandboxMode() const {
  ::setenv("TMPDIR", temp().c_str(), 1);
  vorn::sandbox::enable();
  auto made = vorn::sandbox::privateTempFolder();
  if (!std::holds_alternative<std::string>(made)) ADD_FAILURE() << "no private temporary folder";
}

}  // namespace vorn::testing
