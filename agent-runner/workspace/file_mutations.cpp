#include "agent-runner/workspace/file_mutations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "agent-runner/workspace/path_standardize.h"
#include "common/unique_fd.h"

namespace vorn {
namespace {

constexpr int kMaxLinkHops = 40;

Status makeOneDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return Status::success();
  int err = errno;
  struct stat st;
  if (err == EEXIST && ::stat(path.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode) ? Status::success() : Status::fromErrno(path, ENOTDIR);
  }
  return Status::fromErrno(path, err);
}

Status writeAll(int fd, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::fromErrno(path);
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return Status::success();
}

std::string randomSuffix() {
  unsigned char bytes[8] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    auto fallback = static_cast<unsigned long>(::getpid()) ^ reinterpret_cast<uintptr_t>(&bytes);
    std::memcpy(bytes, &fallback, sizeof bytes < sizeof fallback ? sizeof bytes : sizeof fallback);
  }
  char hex[17];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
  return hex;
}

// A file created with 0666 so the process's umask applies, as for any new
// file; a replaced file's own mode is put back afterwards.
struct TemporaryFile {
  std::string path;
  UniqueFd fd;
};

std::optional<TemporaryFile> createTemporaryNextTo(const std::string& folder, int& err) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string path = folder + "/.vorn-write-" + randomSuffix();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) return TemporaryFile{path, UniqueFd(fd)};
    err = errno;
    if (err != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

Status syncFolder(const std::string& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || ::fsync(fd.get()) != 0) return Status::fromErrno(folder);
  return Status::success();
}

Status fillAndReplace(TemporaryFile& temp, const std::string& path, std::string_view content,
                      Durability durability) {
  struct stat old;
  if (::stat(path.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) return Status::fromErrno(path, EISDIR);
    if (::fchmod(temp.fd.get(), old.st_mode & 07777) != 0) return Status::fromErrno(path);
    // Keeping the owner matters when a privileged caller edits another
    // user's file; when we may not, the file simply becomes ours.
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
      (void)::fchown(temp.fd.get(), old.st_uid, old.st_gid);
    }
  }
  if (auto s = writeAll(temp.fd.get(), content, path); !s.ok()) return s;
  if (durability == Durability::kSynced && ::fsync(temp.fd.get()) != 0) {
    return Status::fromErrno(path);
  }
  if (::close(temp.fd.release()) != 0) return Status::fromErrno(path);
  if (::rename(temp.path.c_str(), path.c_str()) != 0) return Status::fromErrno(path);
  return Status::success();
}

Status removeContents(int dirFd, const std::string& display);

Status removeEntry(int dirFd, const std::string& name, const std::string& display) {
  if (::unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT) return Status::success();
  if (errno != EISDIR && errno != EPERM) return Status::fromErrno(display);
  UniqueFd child(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!child.valid()) return Status::fromErrno(display);
  if (auto s = removeContents(child.get(), display); !s.ok()) return s;
  if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) return Status::fromErrno(display);
  return Status::success();
}

// Names are read first and removed afterwards, so the directory is never
// changed under an open listing.
Status removeContents(int dirFd, const std::string& display) {
  int listFd = ::dup(dirFd);
  if (listFd < 0) return Status::fromErrno(display);
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return Status::fromErrno(display);
  }
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  for (const auto& name : names) {
    if (auto s = removeEntry(dirFd, name, display + "/" + name); !s.ok()) return s;
  }
  return Status::success();
}

}  // namespace

Status makeDirectories(const std::string& path) {
  if (path.empty()) return Status::success();
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    if (auto s = makeOneDirectory(path.substr(0, i)); !s.ok()) return s;
  }
  return Status::success();
}

Status writeFileAtomically(const std::string& path, std::string_view content,
                           Durability durability) {
  std::string folder = parentPath(path);
  if (folder.empty()) folder = ".";
  int err = 0;
  auto temp = createTemporaryNextTo(folder, err);
  if (!temp) return Status::fromErrno(path, err);
  Status status = fillAndReplace(*temp, path, content, durability);
  if (!status.ok()) {
    ::unlink(temp->path.c_str());
    return status;
  }
  return durability == Durability::kSynced ? syncFolder(folder) : Status::success();
}

Status removeItem(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? Status::success() : Status::fromErrno(path);
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Status::fromErrno(path);
    return Status::success();
  }
  UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return Status::fromErrno(path);
  if (auto s = removeContents(dir.get(), path); !s.ok()) return s;
  if (::rmdir(path.c_str()) != 0) return Status::fromErrno(path);
  return Status::success();
}

std::optional<std::string> followLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return std::nullopt;
    std::string next(target.data(), static_cast<std::size_t>(n));
    std::string folder = parentPath(current);
    current = next.starts_with('/') || folder.empty() ? next : folder + "/" + next;
  }
  return std::nullopt;
}

}  // namespace vorn
