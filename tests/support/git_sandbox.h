// Real git repositories in temporary folders for tests. The process's HOME
// and global git config point into a folder of the test's own, so the
// machine's configuration never leaks in.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace vorn::testing {

/// A fresh folder (links resolved), removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Points HOME and GIT_CONFIG_GLOBAL at a private folder with an identity,
/// "main" as the first branch and no system config. Idempotent.
void isolateGitConfig();

/// Runs `command` through /bin/sh in `directory`; its standard output.
/// Fails the test when the command fails, unless `mayFail`.
std::string sh(const std::string& directory, const std::string& command, bool mayFail = false);

void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);
bool exists(const std::string& path);

/// A repository with one commit ("init": README with "hello\n") on main.
class GitRepo {
 public:
  explicit GitRepo(bool withCommit = true);
  const std::string& root() const { return dir_.path(); }
  std::string path(const std::string& relative) const { return root() + "/" + relative; }
  void write(const std::string& relative, const std::string& text) const;
  std::string read(const std::string& relative) const { return readText(path(relative)); }
  /// `git <args>` in the root; its standard output.
  std::string git(const std::string& args, bool mayFail = false) const;
  /// Writes, stages and commits one file.
  void commitFile(const std::string& relative, const std::string& text,
                  const std::string& message) const;

 private:
  TempDir dir_;
};

/// A request for `op` in `root`.
RunnerRequest request(const std::string& op, const std::string& root);

/// The git command lines (after "git") that handling `request` ran, as
/// git's trace reports them (not the gits those started), with the answer.
struct Traced {
  RunnerResponse answer;
  std::vector<std::string> commands;
};
Traced traced(const RunnerRequest& request);

}  // namespace vorn::testing
