// The temporary folder that sandboxed children share within one runner
// process, and the only place outside the workspace they may write files.
#pragma once

#include <string>
#include <variant>

#include "common/status.h"

namespace vorn::sandbox {

/// The process's private temporary folder: made on first use (mode 0700, a
/// fresh name beneath $TMPDIR when that is an absolute path, else /tmp) and
/// removed with everything in it when the process ends normally. Links
/// inside are removed as links, never followed. The process holds a lock on
/// it while it lives; before making its own, it removes the folders of this
/// kind, of its own user, unchanged for over a minute and held by nobody
/// (left by a runner that was killed). Thread-safe.
std::variant<std::string, Status> privateTempFolder();

}  // namespace vorn::sandbox
