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

std::string joined(const std::string& folder, std::string_view name) {
  std::string out = folder;
  if (!out.ends_with('/')) out += '/';
  out += name;
  return out;
}

// A file created with 0666 so the process's umask applies, as for any new
// file; a replaced file's own mode is put back afterwards.
struct TemporaryFile {
  std::string name;
  UniqueFd fd;
};

std::optional<TemporaryFile> createTemporaryIn(int folder, int& err) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = ".vorn-write-" + randomSuffix();
    int fd =
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) return TemporaryFile{name, UniqueFd(fd)};
    err = errno;
    if (err != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

Status syncFolder(int folder, const std::string& folderText) {
  UniqueFd fd(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || ::fsync(fd.get()) != 0) return Status::fromErrno(folderText);
  return Status::success();
}

// The replaced file is looked at where it stands, not followed: callers
// have resolved links already, and a link put there since is replaced.
Status fillAndReplace(int folder, TemporaryFile& temp, const std::string& name,
                      const std::string& shown, std::string_view content, Durability durability) {
  struct stat old;
  if (::fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(old.st_mode)) {
    if (S_ISDIR(old.st_mode)) return Status::fromErrno(shown, EISDIR);
    if (::fchmod(temp.fd.get(), old.st_mode & 07777) != 0) return Status::fromErrno(shown);
    // Keeping the owner matters when a privileged caller edits another
    // user's file; when we may not, the file simply becomes ours.
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
      (void)::fchown(temp.fd.get(), old.st_uid, old.st_gid);
    }
  }
  if (auto s = writeAll(temp.fd.get(), content, shown); !s.ok()) return s;
  if (durability == Durability::kSynced && ::fsync(temp.fd.get()) != 0) {
    return Status::fromErrno(shown);
  }
  if (::close(temp.fd.release()) != 0) return Status::fromErrno(shown);
  if (::renameat(folder, temp.name.c_str(), folder, name.c_str()) != 0) {
    return Status::fromErrno(shown);
  }
  return Status::success();
}

struct Identity {
  dev_t dev;
  ino_t ino;
  bool operator==(const Identity&) const = default;
};

std::optional<Identity> identityOf(int fd, const char* name = "", int flags = AT_EMPTY_PATH) {
  struct stat st;
  if (::fstatat(fd, name, &st, flags | AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return Identity{st.st_dev, st.st_ino};
}

// Removes, deepest first, the folders a failed makeDirectoriesAt made. Each
// is found again through ".." of the one below it and removed only while it
// is still the very folder made (same inode) under the one made before it,
// so nothing that was moved or put there meanwhile is touched.
void undoDirectories(UniqueFd deepest, const std::vector<std::string>& names,
                     const std::vector<Identity>& made, const Identity& base) {
  for (std::size_t i = made.size(); i-- > 0;) {
    UniqueFd parent(::openat(deepest.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    Identity expectedParent = i == 0 ? base : made[i - 1];
    if (!parent.valid() || identityOf(parent.get()) != expectedParent) return;
    if (identityOf(parent.get(), names[i].c_str(), 0) != made[i]) return;
    if (::unlinkat(parent.get(), names[i].c_str(), AT_REMOVEDIR) != 0) return;
    deepest = std::move(parent);
  }
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

Status writeFileAtomicallyAt(int folder, const std::string& folderText, const std::string& name,
                             std::string_view content, Durability durability) {
  std::string shown = joined(folderText, name);
  int err = 0;
  auto temp = createTemporaryIn(folder, err);
  if (!temp) return Status::fromErrno(shown, err);
  Status status = fillAndReplace(folder, *temp, name, shown, content, durability);
  if (!status.ok()) {
    ::unlinkat(folder, temp->name.c_str(), 0);
    return status;
  }
  return durability == Durability::kSynced ? syncFolder(folder, folderText) : Status::success();
}

Status writeFileAtomically(const std::string& path, std::string_view content,
                           Durability durability) {
  std::string folderText = parentPath(path);
  if (folderText.empty()) folderText = ".";
  UniqueFd folder(::open(folderText.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return Status::fromErrno(path);
  std::string name = path.substr(path.rfind('/') + 1);
  return writeFileAtomicallyAt(folder.get(), folderText, name, content, durability);
}

std::variant<UniqueFd, Status> makeDirectoriesAt(int folder, const std::string& folderText,
                                                 std::span<const std::string> names,
                                                 bool undoOnFailure) {
  UniqueFd current(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  std::string shown = folderText;
  std::vector<std::string> madeNames;
  std::vector<Identity> made;
  Identity chainBase{};
  for (const auto& name : names) {
    if (!shown.ends_with('/')) shown += '/';
    shown += name;
    if (made.empty()) chainBase = identityOf(current.get()).value_or(Identity{});
    bool created = ::mkdirat(current.get(), name.c_str(), 0777) == 0;
    int err = errno;
    UniqueFd next;
    if (created || err == EEXIST) {
      // Never through a link: one put here since the walk is in the way.
      next.reset(
          ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next.valid()) err = errno == ELOOP ? EEXIST : errno;
    }
    if (!next.valid()) {
      if (undoOnFailure && !made.empty()) {
        undoDirectories(std::move(current), madeNames, made, chainBase);
      }
      return Status::fromErrno(shown, err);
    }
    if (created) {
      madeNames.push_back(name);
      made.push_back(identityOf(next.get()).value_or(Identity{}));
    } else {
      // Only an unbroken chain of folders made here is ever undone.
      madeNames.clear();
      made.clear();
    }
    current = std::move(next);
  }
  return current;
}

Status removeItemAt(int folder, const std::string& folderText, const std::string& name) {
  std::string shown = joined(folderText, name);
  struct stat st;
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Status::success() : Status::fromErrno(shown);
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT)
      return Status::fromErrno(shown);
    return Status::success();
  }
  UniqueFd dir(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return Status::fromErrno(shown);
  if (auto s = removeContents(dir.get(), shown); !s.ok()) return s;
  if (::unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0) return Status::fromErrno(shown);
  return Status::success();
}

Status removeItem(const std::string& path) {
  std::string folderText = parentPath(path);
  if (folderText.empty()) folderText = ".";
  UniqueFd folder(::open(folderText.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) {
    return errno == ENOENT ? Status::success() : Status::fromErrno(path);
  }
  if (path == "/") return Status::fromErrno(path, EBUSY);
  return removeItemAt(folder.get(), folderText, path.substr(path.rfind('/') + 1));
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
