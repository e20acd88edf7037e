// Windows and applications on an X11 desktop, through the EWMH properties
// that window managers and toolkits keep on the root and client windows.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/platform.h"

namespace vorn::platform::x11 {

/// The window list in stacking order (`_NET_CLIENT_LIST_STACKING` under a
/// window manager, else the root's viewable children); window number = the X
/// window id; owner pid = `_NET_WM_PID`; owner name = the WM_CLASS class, else
/// the process name; window name = `_NET_WM_NAME`, else WM_NAME. An
/// application's bundle identifier is the `_GTK_APPLICATION_ID` (else
/// `_KDE_NET_WM_DESKTOP_FILE`) its windows carry.
class Desktop final : public WindowServer, public Applications {
 public:
  explicit Desktop(Connection& connection) : connection_(connection) {}

  std::optional<std::vector<WindowDescription>> onScreenWindows() override;
  std::optional<std::string> bundleIdentifier(std::int32_t pid) override;
  /// `_NET_ACTIVE_WINDOW` to a window manager that supports it; without one,
  /// raises the process's front window and gives it the input focus.
  bool activate(std::int32_t pid) override;

 private:
  // A process's application id never changes, so what a listing or a scan
  // learnt stays true while the process (pid and start time) lives.
  struct KnownApplication {
    std::uint64_t startTime;
    std::optional<std::string> appId;
  };
  /// The atoms the properties are read by, interned once per connection.
  const std::vector<unsigned long>& atomsFor(const Connection::Lease& lease);
  void remember(std::int32_t pid, const std::optional<std::string>& appId);
  std::optional<KnownApplication> recall(std::int32_t pid, std::uint64_t startTime);

  Connection& connection_;
  // Guarded by the connection's lease.
  std::uint64_t atomsGeneration_ = 0;
  std::vector<unsigned long> atoms_;
  std::mutex knownMutex_;
  std::unordered_map<std::int32_t, KnownApplication> known_;
};

/// Whether `Desktop::onScreenWindows` would list `window` (in the stacking
/// order, viewable, no desktop element, not minimised), asked over
/// `display`, a connection the caller uses alone. False when it is gone.
bool isOnScreenWindow(_XDisplay* display, unsigned long window);

}  // namespace vorn::platform::x11
