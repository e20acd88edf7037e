#include "agent-runner/workspace/root_set.h"

#include <fcntl.h>
#include <unistd.h>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace vorn {
namespace {

// The rest of `path` below `root` when `path` is `root` or lies inside it.
std::optional<std::string> restBelow(std::string_view path, std::string_view root) {
  if (path == root) return std::string();
  if (root == "/")
    return path.starts_with('/') ? std::optional(std::string(path.substr(1))) : std::nullopt;
  if (path.size() > root.size() && path.starts_with(root) && path[root.size()] == '/') {
    return std::string(path.substr(root.size() + 1));
  }
  return std::nullopt;
}

// Where an open descriptor really is, as the kernel names it.
std::optional<std::string> pathOfDescriptor(int fd) {
  char buffer[4096];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer || buffer[0] != '/') {
    return std::nullopt;
  }
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

RootSet::RootSet(std::string workspaceRoot, const std::vector<std::string>& extraRoots,
                 const FileSystemView& fs)
    : workspaceRoot_(std::move(workspaceRoot)), fs_(fs) {
  holdsNul_ = holdsNul(workspaceRoot_);
  if (!workspaceRoot_.empty()) roots_.push_back({standardizePath(workspaceRoot_)});
  for (const auto& extra : extraRoots) {
    holdsNul_ = holdsNul_ || holdsNul(extra);
    auto root = VornAgentRunnerMain::resolveRoot(extra, fs);
    if (!root.empty()) roots_.push_back({std::move(root)});
  }
}

std::optional<std::string> RootSet::candidate(std::string_view path) const {
  if (holdsNul_ || holdsNul(path) || roots_.empty()) return std::nullopt;
  std::string expanded = expandTilde(text::trim(path), fs_);
  if (!expanded.starts_with('/')) {
    if (workspaceRoot_.empty()) return std::nullopt;
    expanded = workspaceRoot_ + "/" + expanded;
  }
  std::string standardized = standardizePath(expanded);
  for (const auto& root : roots_) {
    if (restBelow(standardized, root.text)) return standardized;
  }
  return std::nullopt;
}

std::optional<RootSet::Match> RootSet::find(std::string_view path, bool alsoReal) {
  for (std::size_t i = 0; i < roots_.size(); ++i) {
    auto rest = restBelow(path, roots_[i].text);
    std::string prefix = roots_[i].text;
    if (!rest && alsoReal && fd(i) >= 0) {
      prefix = realPath(i);
      rest = restBelow(path, prefix);
    }
    if (rest && fd(i) >= 0) return Match{i, std::move(prefix), std::move(*rest)};
  }
  return std::nullopt;
}

int RootSet::fd(std::size_t root) {
  Root& r = roots_[root];
  if (!r.opened) {
    r.opened = true;
    r.fd.reset(::open(r.text.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  return r.fd.get();
}

const std::string& RootSet::realPath(std::size_t root) {
  Root& r = roots_[root];
  if (!r.real) {
    int descriptor = fd(root);
    auto real = descriptor >= 0 ? pathOfDescriptor(descriptor) : std::nullopt;
    r.real = real ? *real : fs_.realPath(r.text).value_or(r.text);
  }
  return *r.real;
}

}  // namespace vorn
