#include "agent-runner/workspace/path_standardize.h"

#include <vector>

namespace vorn {

std::string expandTilde(std::string_view path, const FileSystemView& fs) {
  if (path.empty() || path[0] != '~') return std::string(path);
  std::size_t slash = path.find('/');
  std::string_view user = path.substr(1, slash == path.npos ? path.npos : slash - 1);
  auto home = fs.homeDirectory(user);
  if (!home) return std::string(path);
  std::string rest(slash == path.npos ? std::string_view() : path.substr(slash));
  return *home + rest;
}

std::string standardizePath(std::string_view path) {
  if (path.empty()) return {};
  bool absolute = path[0] == '/';
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < path.size()) {
    std::size_t end = path.find('/', i);
    if (end == path.npos) end = path.size();
    std::string_view part = path.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." && !parts.empty() && parts.back() != "..") {
      parts.pop_back();
    } else if (part == ".." && absolute) {
      continue;  // ".." at the root is the root
    } else {
      parts.push_back(part);
    }
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += '/';
    out += parts[k];
  }
  return out.empty() ? std::string(".") : out;
}

bool holdsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool isGitAdminName(std::string_view component) {
  static constexpr std::string_view kGit = ".git";
  if (component.size() != kGit.size()) return false;
  for (std::size_t i = 0; i < kGit.size(); ++i) {
    char c = component[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kGit[i]) return false;
  }
  return true;
}

bool namesGitAdminEntry(std::string_view path) {
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    if (isGitAdminName(path.substr(i, end - i))) return true;
    i = end + 1;
  }
  return false;
}

std::string parentPath(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == path.npos) return {};
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

}  // namespace vorn
