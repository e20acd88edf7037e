// The GTK fixture application of tests/fixtures, started for one test, and
// the event log through which it reports what reached it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vorn::testing {

class FixtureApp {
 public:
  /// Starts the fixture with `arguments` (besides its log) on $DISPLAY and
  /// waits until its windows are on screen; `ready()` is false when it never
  /// got there.
  explicit FixtureApp(std::vector<std::string> arguments);
  /// Stops the fixture (SIGTERM, then SIGKILL) and removes its log.
  ~FixtureApp();
  FixtureApp(const FixtureApp&) = delete;
  FixtureApp& operator=(const FixtureApp&) = delete;

  bool ready() const { return !readyEvent_.is_null(); }
  pid_t pid() const { return pid_; }
  /// The X window id of the window in `role` ("main", "second"); 0 on Wayland.
  unsigned long window(const std::string& role) const;
  /// Where the content of the window in `role` started when it was mapped,
  /// in the coordinates widgets are reported in (the root's on X11, the
  /// window's own, so 0, 0, on Wayland).
  std::pair<int, int> originOf(const std::string& role) const;
  /// The centre of a widget ("entry", "button", "check", "pad", "swatch") in
  /// root coordinates.
  std::pair<int, int> centreOf(const std::string& widget) const;
  struct Rect {
    int x, y, width, height;
  };
  /// A widget's rectangle in root coordinates.
  Rect geometryOf(const std::string& widget) const;

  /// The first event logged after the previous match that satisfies `match`,
  /// waiting for it up to `wait`; nothing when none came.
  std::optional<nlohmann::json> waitFor(const std::function<bool(const nlohmann::json&)>& match,
                                        std::chrono::milliseconds wait = std::chrono::seconds(10));
  /// Every event the fixture logged so far.
  std::vector<nlohmann::json> events();

 private:
  void readNewEvents();

  pid_t pid_ = -1;
  std::string directory_;
  std::string logPath_;
  std::string partial_;
  std::size_t logOffset_ = 0;
  std::vector<nlohmann::json> events_;
  std::size_t cursor_ = 0;
  nlohmann::json readyEvent_;
};

/// True when tests can reach an X display of an X11 desktop.
bool haveDisplay();
/// True on a Wayland desktop (scripts/with-desktop --wayland).
bool haveWaylandDesktop();

}  // namespace vorn::testing
