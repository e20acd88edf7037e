// The folder lives in a directory every user can write to, so another user
// could have put a folder, a file or a link there first. It is opened without
// following links and checked through the open descriptor, and files are
// created relative to that descriptor.
#include "computer-use/capture/screenshot_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "common/uuid.h"

namespace Capture {
namespace {

std::string shown(const std::string& path) { return vorn::text::toValidUtf8(path); }

std::string systemError(const std::string& path, int error) {
  return shown(path) + ": " + std::strerror(error);
}

// Creates the missing folders above `path`, private like the folder itself.
void createParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  }
}

std::optional<std::string> refusal(const std::string& path, const struct stat& st) {
  if (!S_ISDIR(st.st_mode)) return shown(path) + " is not a directory";
  if (st.st_uid != ::geteuid()) return shown(path) + " belongs to another user";
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return shown(path) + " is open to other users (mode " + mode + ")";
  }
  return std::nullopt;
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

// An unnamed file in the folder (Linux), or nothing where the file system
// does not offer one or it could not be named later (no /proc).
vorn::UniqueFd unnamedFile(int folder) {
#ifdef O_TMPFILE
  if (::access("/proc/self/fd", X_OK) != 0) return {};
  return vorn::UniqueFd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
#else
  (void)folder;
  return {};
#endif
}

}  // namespace

std::string temporaryDirectory() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  std::string directory =
      fromEnvironment != nullptr && fromEnvironment[0] == '/' ? fromEnvironment : "/tmp";
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory;
}

std::variant<ScreenshotFolder, std::string> openScreenshotFolder(
    const std::string& temporaryDirectory) {
  std::string path = temporaryDirectory;
  if (path.back() != '/') path += '/';
  path += kFolderName;
  createParents(path);
  bool created = ::mkdir(path.c_str(), 0700) == 0;
  if (!created && errno != EEXIST) return systemError(path, errno);
  vorn::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    int error = errno;
    // Refused already; the link test only chooses the words.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      return shown(path) + " is a symbolic link";
    }
    if (error == ENOTDIR) return shown(path) + " is not a directory";
    return systemError(path, error);
  }
  // The umask may have taken more than group and other bits.
  if (created) ::fchmod(fd.get(), 0700);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return systemError(path, errno);
  if (auto reason = refusal(path, st)) return *reason;
  return ScreenshotFolder{std::move(path), std::move(fd)};
}

std::optional<FileDestination> FileDestination::create(const ScreenshotFolder& folder,
                                                       std::string name) {
  if (auto unnamed = unnamedFile(folder.fd.get()); unnamed.valid()) {
    return FileDestination(folder.fd.get(), std::move(unnamed), std::move(name), "");
  }
  std::string temporaryName = "." + name + "." + vorn::newUuid() + ".part";
  vorn::UniqueFd fd(::openat(folder.fd.get(), temporaryName.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return std::nullopt;
  return FileDestination(folder.fd.get(), std::move(fd), std::move(name), std::move(temporaryName));
}

FileDestination::FileDestination(int folder, vorn::UniqueFd fd, std::string name,
                                 std::string temporaryName)
    : folder_(folder),
      fd_(std::move(fd)),
      name_(std::move(name)),
      temporaryName_(std::move(temporaryName)) {}

FileDestination::FileDestination(FileDestination&& other) noexcept
    : folder_(other.folder_),
      fd_(std::move(other.fd_)),
      name_(std::move(other.name_)),
      temporaryName_(std::exchange(other.temporaryName_, {})) {}

FileDestination::~FileDestination() { discard(); }

void FileDestination::discard() {
  if (fd_.valid() && !temporaryName_.empty()) ::unlinkat(folder_, temporaryName_.c_str(), 0);
  fd_.reset();
}

bool FileDestination::finish(std::span<const std::uint8_t> bytes) {
  if (!fd_.valid() || !writeAll(fd_.get(), bytes)) {
    discard();
    return false;
  }
  bool named;
  if (temporaryName_.empty()) {
    // An unnamed file gets its name through its /proc entry; linking by
    // descriptor alone (AT_EMPTY_PATH) needs a privilege.
    std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
    named = ::linkat(AT_FDCWD, self.c_str(), folder_, name_.c_str(), AT_SYMLINK_FOLLOW) == 0;
  } else {
    named = ::renameat(folder_, temporaryName_.c_str(), folder_, name_.c_str()) == 0;
    if (named) temporaryName_.clear();
  }
  discard();
  return named;
}

std::string fileUrl(std::string_view path) {
  static constexpr std::string_view kKept = "-._~!$&'()*+,:=@/";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alphanumeric || kKept.find(static_cast<char>(c)) != std::string_view::npos) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0xF];
    }
  }
  return url;
}

}  // namespace Capture
