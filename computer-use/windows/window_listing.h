// The window listing behind "list_windows": on-screen windows of ordinary
// applications, front to back, one record per native key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "computer-use/platform/platform.h"

namespace ComputerUseHelperMain {

/// One element of the "windows" array.
struct WindowRecord {
  std::int32_t pid;
  std::int64_t windowNumber;  ///< 0 when the window server reports none
  std::string title;          ///< the window's name, else the owner's name
  std::optional<std::string> bundleId;
  std::string appName;  ///< the owner's name, "App" when there is none
  std::string nativeKey;

  bool operator==(const WindowRecord&) const = default;
};

/// What "list_windows" reads: how many windows at most (see listWindows).
struct ListWindowsRequest {
  double limit = 40;
};

/// "pid:<pid>|win:<window number>|bundle:<bundle id, or ->".
std::string nativeKey(std::int32_t pid, std::int64_t windowNumber,
                      const std::optional<std::string>& bundleId);

/// The records of the on-screen windows of layer 0 that have an owner pid and
/// are not the window server's own, in the window server's order; a window
/// whose native key was already listed is skipped. Stops once the records
/// number at least `limit`, checked after each record, so a limit of 0 or less
/// still lists the first window. No window list: no records. One window-list
/// call, and one application lookup per window that passes the tests.
std::vector<WindowRecord> listWindows(double limit, vorn::platform::Platform& platform);

}  // namespace ComputerUseHelperMain
