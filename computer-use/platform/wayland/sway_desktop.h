// Windows and applications on sway, through its IPC: native Wayland windows
// and XWayland ones in one list, since sway manages both.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "computer-use/platform/linux/element_origins.h"
#include "computer-use/platform/platform.h"
#include "computer-use/platform/wayland/sway_tree.h"

namespace vorn::platform::wayland {

/// The windows on the workspaces the outputs show, most recently focused
/// first; window number = sway's container id (stable while the window
/// lives); owner name = the app id (XWayland: the WM_CLASS class), else the
/// process name; window name = the title. Bundle identifier = the app id of
/// a native window; for an XWayland-only process, what `xwayland` (the X11
/// backend on XWayland's display) says.
class SwayDesktop final : public WindowServer, public Applications, public ElementOrigins {
 public:
  /// `xwayland` may be null (no X11 display); `input`, the process's input
  /// devices, may be null; `bound`: the longest a call waits for sway.
  explicit SwayDesktop(Applications* xwayland, InputDevice* input = nullptr,
                       std::chrono::milliseconds bound = std::chrono::milliseconds(2500))
      : xwayland_(xwayland), input_(input), bound_(bound) {}

  std::optional<std::vector<WindowDescription>> onScreenWindows() override;
  /// Without $SWAYSOCK: the compositor named, and sway's IPC as what it lacks.
  std::optional<std::string> windowsUnsupported() override;
  std::optional<std::string> bundleIdentifier(std::int32_t pid) override;
  /// Focuses the process's most recently focused window (sway switches to
  /// its workspace). A window holds the keyboard focus only on a seat with a
  /// keyboard: on a seat without one (a headless desktop) that is `input`'s
  /// virtual keyboard, made first.
  bool activate(std::int32_t pid) override;
  std::optional<ScreenOffset> elementOffset(std::int32_t pid, const std::string& title) override;

  /// The tree as sway has it now; nothing when sway cannot be asked.
  std::optional<sway::Tree> tree();

 private:
  struct KnownApplication {
    std::uint64_t startTime;
    std::optional<std::string> appId;
  };
  void remember(const sway::Tree& tree);

  Applications* xwayland_;
  InputDevice* input_;
  std::chrono::milliseconds bound_;
  std::mutex mutex_;  // guards what follows
  std::unordered_map<std::int32_t, KnownApplication> known_;
};

/// What the listing reports of `window`.
WindowDescription describe(const sway::Window& window);

/// The window whose elements process `pid`'s window titled `title` holds:
/// the most recently focused of the pid's windows on a shown workspace with
/// that title, else of all its windows there; null when it has none.
const sway::Window* windowOf(const sway::Tree& tree, std::int32_t pid, const std::string& title);

}  // namespace vorn::platform::wayland
