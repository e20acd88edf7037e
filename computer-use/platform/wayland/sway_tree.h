// sway's layout tree (the answer to GET_TREE), read into what the helper
// needs of it: the outputs, and every window with its owner, names, place,
// workspace and stacking, most recently focused first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "computer-use/platform/platform.h"

namespace vorn::platform::wayland::sway {

struct Output {
  std::string name;
  Frame rect;  ///< in the global layout
  double scale = 1;
  bool operator==(const Output&) const = default;
};

struct Window {
  std::int64_t id = 0;  ///< sway's container id: stable for the window's life
  std::optional<std::int64_t> pid;
  std::optional<std::string> appId;     ///< native windows: the Wayland app id
  std::optional<std::string> title;     ///< the window's name
  std::optional<std::string> x11Class;  ///< XWayland windows: WM_CLASS's class
  bool xwayland = false;
  Frame outer;                      ///< with borders and title bar
  Frame content;                    ///< the application's own surface
  bool visible = false;             ///< drawn now, in sway's judgement
  bool onCurrentWorkspace = false;  ///< on the workspace its output shows
  std::string output;
  std::int64_t workspace = 0;
  /// Higher is nearer the top within its workspace: tiled windows, then the
  /// floating ones in their order, then a fullscreen one.
  std::int64_t stacking = 0;
  bool operator==(const Window&) const = default;
};

struct Tree {
  std::vector<Output> outputs;
  /// Most recently focused first, following each container's focus order;
  /// the scratchpad (sway's minimised windows) left out.
  std::vector<Window> windows;
};

/// The tree in `json`; nothing when it is not sway's tree (not JSON, no
/// root node). Parts that do not have the expected shape are skipped, and
/// nodes beyond 128 levels are not read.
std::optional<Tree> parseTree(std::string_view json);

enum class Exposure {
  kUncovered,  ///< wholly on one output, nothing drawn over it
  kCovered,    ///< another window lies over part of it
  kOffScreen,  ///< not wholly on one output
  kHidden,     ///< not drawn: another workspace, a hidden tab, no size
};

/// How much of `window`'s content the screen shows. A window of another
/// workspace that overlaps it counts as covering it (sway draws a floating
/// window on every output it reaches).
Exposure exposure(const Tree& tree, const Window& window);

/// The window with container id `id`; null when there is none.
const Window* findWindow(const Tree& tree, std::int64_t id);

}  // namespace vorn::platform::wayland::sway
