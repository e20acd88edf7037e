// Real applications on the test desktop: started in a session of their own
// with a private home (profiles, settings) in a temporary folder, found by
// their window as the helper lists it, and stopped as a whole process group.
// Also the openbox window manager, for the cases that run under one.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/program_session.h"

namespace vorn::testing {

/// The helper in serve mode: states are held between its requests.
class HelperServer {
 public:
  explicit HelperServer(const std::string& helper);
  nlohmann::json ask(const nlohmann::json& request);

 private:
  ProgramSession session_;
};

class RealApp {
 public:
  /// Starts `argv` (the program found on the search path) with `environment`
  /// added ("HOME" and the XDG folders point into a private folder, `{home}`
  /// in an argument stands for it) and waits up to `wait` for a window whose
  /// title or application name contains `windowMatch` (case-insensitive).
  RealApp(std::vector<std::string> argv, std::vector<std::string> environment,
          std::string windowMatch, std::chrono::seconds wait = std::chrono::seconds(120));
  /// Stops the whole process group (SIGTERM, then SIGKILL) and removes the
  /// private folder.
  ~RealApp();
  RealApp(const RealApp&) = delete;
  RealApp& operator=(const RealApp&) = delete;

  bool ready() const { return pid_ > 0; }
  /// The process that owns the window (not always the one started).
  pid_t pid() const { return pid_; }
  unsigned long window() const { return window_; }
  std::string title() const { return title_; }
  const std::string& home() const { return home_; }
  /// Whether the process that owns the window still runs.
  bool alive() const;

 private:
  pid_t leader_ = -1;
  pid_t pid_ = -1;
  unsigned long window_ = 0;
  std::string title_;
  std::string home_;
};

/// Openbox on $DISPLAY for as long as the object lives; `running()` once it
/// manages the screen.
class Openbox {
 public:
  Openbox();
  ~Openbox();
  Openbox(const Openbox&) = delete;
  Openbox& operator=(const Openbox&) = delete;
  bool running() const { return running_; }

 private:
  pid_t pid_ = -1;
  std::string folder_;
  bool running_ = false;
};

/// What xdotool reports of a window: X, Y, WIDTH, HEIGHT.
std::map<std::string, int> windowGeometry(unsigned long window);

/// The window managers a case runs under.
enum class WindowManager { kNone, kOpenbox };
std::string windowManagerName(WindowManager wm);

/// The first node of an outline with `role` and, when given, `title`; null
/// when there is none.
const nlohmann::json* findNode(const nlohmann::json& node, const std::string& role,
                               const std::string& title = "");
/// Every node of an outline with `role`.
std::vector<const nlohmann::json*> findNodes(const nlohmann::json& node, const std::string& role);
/// The values and titles of `node` and everything below it, joined by blanks.
std::string textUnder(const nlohmann::json& node);

}  // namespace vorn::testing
