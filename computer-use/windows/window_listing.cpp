#include "computer-use/windows/window_listing.h"

#include <unordered_set>

namespace ComputerUseHelperMain {
namespace {

std::optional<WindowRecord> recordFor(const vorn::platform::WindowDescription& window,
                                      vorn::platform::Applications& applications) {
  if (window.layer != 0 || !window.ownerPid) return std::nullopt;
  // The pid's 32-bit value, as the window server's number type gives it.
  auto pid = static_cast<std::int32_t>(*window.ownerPid);
  std::string owner = window.ownerName.value_or("App");
  if (owner == "Window Server") return std::nullopt;
  WindowRecord record{
      .pid = pid,
      .windowNumber = window.windowNumber.value_or(0),
      .title = window.windowName.value_or(""),
      .bundleId = applications.bundleIdentifier(pid),
      .appName = owner,
  };
  if (record.title.empty()) record.title = owner;
  record.nativeKey = nativeKey(pid, record.windowNumber, record.bundleId);
  return record;
}

}  // namespace

std::string nativeKey(std::int32_t pid, std::int64_t windowNumber,
                      const std::optional<std::string>& bundleId) {
  return "pid:" + std::to_string(pid) + "|win:" + std::to_string(windowNumber) +
         "|bundle:" + bundleId.value_or("-");
}

std::vector<WindowRecord> listWindows(double limit, vorn::platform::Platform& platform) {
  std::vector<WindowRecord> records;
  auto windows = platform.windows.onScreenWindows();
  if (!windows) return records;
  std::unordered_set<std::string> seen;
  for (const auto& window : *windows) {
    auto record = recordFor(window, platform.applications);
    if (!record || !seen.insert(record->nativeKey).second) continue;
    records.push_back(std::move(*record));
    if (static_cast<double>(records.size()) >= limit) break;
  }
  return records;
}

}  // namespace ComputerUseHelperMain
