// Standardisation must be idempotent, keep absolute paths absolute, and never
// leave "." or ".." after a root; authorisation over an in-memory view must
// only ever answer a path inside the root. The descriptor walk runs on a
// small real tree whose links the input makes: wherever they point, a walk
// that reaches a folder reaches one inside the workspace.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/descriptor_walk.h"
#include "agent-runner/workspace/file_mutations.h"
#include "agent-runner/workspace/path_standardize.h"
#include "agent-runner/workspace/root_set.h"

namespace {

// A world where every path under /w exists and nothing is a link.
class FakeView final : public vorn::FileSystemView {
 public:
  vorn::PathKind kind(const std::string& path) const override {
    bool there = path == "/" || path == "/w" || path.starts_with("/w/");
    return there ? vorn::PathKind::kPresent : vorn::PathKind::kMissing;
  }
  std::optional<std::string> realPath(const std::string& path) const override {
    return exists(path) ? std::optional<std::string>(path) : std::nullopt;
  }
  std::optional<std::string> homeDirectory(std::string_view user) const override {
    if (user.empty()) return "/home/me";
    return std::nullopt;
  }
};

void checkLexicalRules(std::string_view input) {
  std::string once = vorn::standardizePath(input);
  if (vorn::standardizePath(once) != once) std::abort();
  if (!input.empty() && input[0] == '/' && (once.empty() || once[0] != '/')) std::abort();
  if (once.starts_with("/..") && (once.size() == 3 || once[3] == '/')) std::abort();
  if (once.find("/./") != std::string::npos || once.ends_with("/.")) std::abort();
  FakeView fs;
  auto authorized = VornAgentRunnerMain::authorize(input, "/w", {}, fs);
  if (authorized && *authorized != "/w" && !authorized->starts_with("/w/")) std::abort();
  (void)vorn::expandTilde(input, fs);
}

// base/w (with folders d and d/e) is the workspace; base/out is outside.
struct Tree {
  std::string base;
  std::string workspace;
};

const Tree& tree() {
  static const Tree t = [] {
    char pattern[] = "/tmp/vorn-fuzz-walk-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    std::string base = pattern;
    for (const char* d : {"/w", "/w/d", "/w/d/e", "/out", "/out/x"}) {
      ::mkdir((base + d).c_str(), 0700);
    }
    char* real = ::realpath((base + "/w").c_str(), nullptr);
    Tree result{base, real};
    std::free(real);
    return result;
  }();
  return t;
}

std::string descriptorPath(int fd) {
  char buffer[4096];
  ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool safeName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos && name.size() < 64;
}

// Input: up to four lines "name<TAB>target" make links in w (or in w/d when
// the name starts with "d:"), the last line is the path to walk.
void walkGeneratedTree(std::string_view input) {
  const Tree& t = tree();
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= input.size() && lines.size() < 5) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos || lines.size() == 4) end = input.size();
    lines.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  std::string path = lines.back();
  lines.pop_back();
  std::vector<std::string> made;
  for (const auto& line : lines) {
    std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string name = line.substr(0, tab);
    std::string folder = t.workspace;
    if (name.starts_with("d:")) {
      name.erase(0, 2);
      folder += "/d";
    }
    std::string target = line.substr(tab + 1);
    if (!safeName(name) || target.empty() || target.find('\0') != std::string::npos) continue;
    if (::symlink(target.c_str(), (folder + "/" + name).c_str()) == 0)
      made.push_back(folder + "/" + name);
  }
  for (auto last : {vorn::LastLink::kFollow, vorn::LastLink::kKeep}) {
    vorn::RootSet roots(t.workspace, {});
    auto candidate = roots.candidate(path);
    if (!candidate) continue;
    auto walk = vorn::walkBeneath(roots, *candidate, last);
    if (auto* reached = std::get_if<vorn::Reached>(&walk)) {
      std::string where = descriptorPath(reached->folder.get());
      if (where != t.workspace && !where.starts_with(t.workspace + "/")) std::abort();
      for (const auto& name : reached->tail) {
        if (vorn::isGitAdminName(name)) std::abort();
      }
    }
  }
  for (const auto& link : made) ::unlink(link.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  checkLexicalRules(input);
  if (size < 4096) walkGeneratedTree(input);
  return 0;
}
