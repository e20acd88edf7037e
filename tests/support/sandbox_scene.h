// A scene for sandboxed runs: a workspace (a git repository), and around it
// in the same test folder the things a confined command must not reach: a
// home with a ~/.bashrc, a folder with a secret file and a repository of
// its own, a runtime folder for the session's sockets. The sandbox is
// switched on only inside the caller child (unprivileged.h), never in the
// test process itself.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/git_sandbox.h"

namespace vorn::testing {

/// Every file and folder beneath a root, with what a write of any kind
/// changes (type and mode, owner, size, times of change, contents, link
/// target), keyed by path.
using TreeSnapshot = std::map<std::string, std::string>;

/// `root` as it is now; paths starting with one of `skipped` are left out.
TreeSnapshot snapshotTree(const std::string& root, const std::vector<std::string>& skipped = {});

/// The paths whose entries differ between `before` and `after`, one a line.
std::string treeDifferences(const TreeSnapshot& before, const TreeSnapshot& after);

class SandboxScene {
 public:
  SandboxScene();
  const std::string& folder() const { return dir_.path(); }
  std::string workspace() const { return folder() + "/ws"; }
  std::string home() const { return folder() + "/home"; }
  std::string outside() const { return folder() + "/outside"; }
  std::string runtime() const { return folder() + "/run"; }
  std::string temp() const { return folder() + "/tmp"; }

  /// In the caller child: TMPDIR in the scene, the sandbox on, and its
  /// private temporary folder made, so that later snapshots hold still.
  void enterSandboxMode() const;

 private:
  TempDir dir_;
};

}  // namespace vorn::testing
