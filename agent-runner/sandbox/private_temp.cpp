#include "agent-runner/sandbox/private_temp.h"

#include <stdlib.h>

#include <optional>

#include "agent-runner/workspace/file_mutations.h"

namespace vorn::sandbox {
namespace {

std::string parentFolder() {
  const char* configured = ::getenv("TMPDIR");
  std::string folder = configured && configured[0] == '/' ? configured : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// mkdtemp makes the folder with a fresh name, 0700: nobody else can have
// put anything there first.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = parentFolder() + "/vorn-sandbox-XXXXXX";
    if (::mkdtemp(pattern.data())) {
      path_ = std::move(pattern);
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
  Status made_ = Status::success();
};

}  // namespace

std::variant<std::string, Status> privateTempFolder() {
  static const TempFolder folder;
  return folder.path();
}

}  // namespace vorn::sandbox
