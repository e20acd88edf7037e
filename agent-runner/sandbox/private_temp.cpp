#include "agent-runner/sandbox/private_temp.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

#include "agent-runner/workspace/file_mutations.h"
#include "common/unique_fd.h"

namespace vorn::sandbox {
namespace {

std::string parentFolder() {
  const char* configured = ::getenv("TMPDIR");
  std::string folder = configured && configured[0] == '/' ? configured : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

constexpr std::string_view kPrefix = "vorn-sandbox-";
// A folder younger than this may belong to a runner that has made it and
// not yet locked it.
constexpr std::time_t kLockGraceSeconds = 60;

// A runner that did not end normally (a service stopped by a signal, say)
// leaves its folder behind. Each live runner holds a lock on its own, so a
// folder of ours that is old enough and that nobody holds is left over, and
// goes, through descriptors, as the runner's own would.
void removeLeftovers(const std::string& parent) {
  UniqueFd folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return;
  DIR* listing = ::fdopendir(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
  if (!listing) return;
  std::vector<std::string> leftovers;
  while (const dirent* entry = ::readdir(listing)) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(kPrefix)) continue;
    UniqueFd candidate(
        ::openat(folder.get(), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!candidate.valid() || ::fstat(candidate.get(), &info) != 0 || info.st_uid != ::geteuid() ||
        info.st_mtime > std::time(nullptr) - kLockGraceSeconds ||
        ::flock(candidate.get(), LOCK_EX | LOCK_NB) != 0) {
      continue;
    }
    leftovers.emplace_back(name);
  }
  ::closedir(listing);
  for (const auto& name : leftovers) (void)removeItemAt(folder.get(), parent, name);
}

// mkdtemp makes the folder with a fresh name, 0700: nobody else can have
// put anything there first. The lock on it lasts as long as the process.
class TempFolder {
 public:
  TempFolder() {
    removeLeftovers(parentFolder());
    std::string pattern = parentFolder() + "/" + std::string(kPrefix) + "XXXXXX";
    if (::mkdtemp(pattern.data())) {
      path_ = std::move(pattern);
      lock_ = UniqueFd(::open(path_->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (lock_.valid()) (void)::flock(lock_.get(), LOCK_EX);
    } else {
      made_ = Status::fromErrno("cannot make the sandbox's temporary folder in " + parentFolder());
    }
  }
  // What children left behind goes with the process; the removal walks
  // descriptors, so a link they planted leads nowhere.
  ~TempFolder() {
    if (path_) (void)removeItem(*path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::variant<std::string, Status> path() const {
    if (path_) return *path_;
    return made_;
  }

 private:
  std::optional<std::string> path_;
  UniqueFd lock_;
  Status made_ = Status::success();
};

}  // namespace

std::variant<std::string, Status> privateTempFolder() {
  static const TempFolder folder;
  return folder.path();
}

}  // namespace vorn::sandbox
