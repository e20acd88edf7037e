// The runner's protocol mode chooses each call's workspace root from text a
// client sends (the root it names, the roots it offers). Whatever the text,
// a folder the ceiling narrows to and a root it answers must lie inside a
// ceiling folder once their links are resolved. Input: the requested root on
// the first line, client roots (paths) on the others. The tree is real and
// has links out of and within the ceiling.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "agent-runner/mcp/workspace_ceiling.h"

namespace {

// base/a and base/b are the ceiling; base/out lies outside; a/out and
// a/back lead out and back in.
struct Tree {
  std::string base;
  std::vector<std::string> ceiling;  // real paths
};

const Tree& tree() {
  static const Tree t = [] {
    char pattern[] = "/tmp/vorn-fuzz-ceiling-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    char* real = ::realpath(pattern, nullptr);
    std::string base = real;
    std::free(real);
    for (const char* d : {"/a", "/a/in", "/a/.git", "/b", "/out", "/out/x"}) {
      ::mkdir((base + d).c_str(), 0700);
    }
    if (::symlink((base + "/out").c_str(), (base + "/a/out").c_str()) != 0 ||
        ::symlink("../b", (base + "/a/back").c_str()) != 0 ||
        ::symlink("in/../../out/x", (base + "/a/sly").c_str()) != 0) {
      std::abort();
    }
    return Tree{base, {base + "/a", base + "/b"}};
  }();
  return t;
}

// `path` with the links of its deepest existing ancestor resolved.
std::string realLocation(const std::string& path) {
  std::string head = path;
  std::string rest;
  for (;;) {
    if (char* real = ::realpath(head.c_str(), nullptr)) {
      std::string resolved = real;
      std::free(real);
      return resolved + rest;
    }
    auto slash = head.rfind('/');
    if (slash == std::string::npos || slash == 0) return path;
    rest = head.substr(slash) + rest;
    head.resize(slash);
  }
}

bool insideCeiling(const std::string& path) {
  std::string real = realLocation(path);
  for (const auto& folder : tree().ceiling) {
    if (real == folder || real.starts_with(folder + "/")) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const Tree& t = tree();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  for (std::size_t start = 0;;) {
    std::size_t end = input.find('\n', start);
    std::string line(input.substr(start, end - start));
    // "@" stands for the tree, so short inputs reach inside it.
    for (std::size_t at; (at = line.find('@')) != std::string::npos;) line.replace(at, 1, t.base);
    lines.push_back(std::move(line));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  auto made = VornAgentRunnerMcp::WorkspaceCeiling::make({t.base + "/a", "b"}, t.base);
  const auto& ceiling = std::get<VornAgentRunnerMcp::WorkspaceCeiling>(made);
  std::optional<std::vector<vorn::mcp::Root>> roots;
  if (lines.size() > 1) {
    roots.emplace();
    for (std::size_t i = 1; i < lines.size(); ++i) roots->push_back({.uri = "", .path = lines[i]});
  }
  auto allowed = ceiling.narrowedBy(roots);
  for (const auto& folder : allowed) {
    if (!insideCeiling(folder)) std::abort();
  }
  auto root = VornAgentRunnerMcp::workspaceRootWithin(lines[0], allowed);
  if (auto* chosen = std::get_if<std::string>(&root); chosen && !insideCeiling(*chosen)) {
    std::abort();
  }
  return 0;
}
