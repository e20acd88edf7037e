#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "agent-runner/workspace/file_system_view.h"

namespace vorn {
namespace {

std::optional<std::string> passwordHome(const char* user) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  int rc = user ? ::getpwnam_r(user, &entry, buffer.data(), buffer.size(), &found)
                : ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
  if (rc != 0 || found == nullptr || found->pw_dir == nullptr) return std::nullopt;
  return std::string(found->pw_dir);
}

class PosixFileSystemView final : public FileSystemView {
 public:
  PathKind kind(const std::string& path) const override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return PathKind::kMissing;
    if (!S_ISLNK(st.st_mode)) return PathKind::kPresent;
    return ::stat(path.c_str(), &st) == 0 ? PathKind::kLink : PathKind::kDanglingLink;
  }

  std::optional<std::string> realPath(const std::string& path) const override {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
  }

  std::optional<std::string> homeDirectory(std::string_view user) const override {
    if (user.empty()) {
      const char* home = std::getenv("HOME");
      if (home != nullptr && *home != '\0') return std::string(home);
      return passwordHome(nullptr);
    }
    return passwordHome(std::string(user).c_str());
  }
};

}  // namespace

const FileSystemView& posixFileSystem() {
  static const PosixFileSystemView view;
  return view;
}

}  // namespace vorn
