// A connection to the Wayland compositor: the globals it advertises, and
// waits for its answers that are bounded in time (libwayland's own
// round trip would wait forever on a compositor that stopped answering).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_interface;

namespace vorn::platform::wayland {

using Clock = std::chrono::steady_clock;

/// One global object the compositor advertised.
struct Global {
  std::uint32_t name = 0;
  std::string interface;
  std::uint32_t version = 0;
};

/// The socket $WAYLAND_DISPLAY names (a name in $XDG_RUNTIME_DIR, or an
/// absolute path), as libwayland resolves it; nothing when it names none.
std::optional<std::string> socketPath();

/// The compositor's process name, from the credentials of the socket's peer;
/// nothing when the socket does not say. The only name a compositor gives
/// every client alike: Wayland has no request for it.
std::optional<std::string> compositorName(int socket);

class Display {
 public:
  /// Connects to $WAYLAND_DISPLAY and reads the globals; nothing when no
  /// compositor listens there or it has not answered by `deadline`.
  static std::unique_ptr<Display> connect(Clock::time_point deadline);
  ~Display();
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  wl_display* get() const { return display_; }
  /// The globals advertised when the connection was made, in their order.
  const std::vector<Global>& globals() const { return globals_; }
  /// The first global of `interface`; null when there is none.
  const Global* find(std::string_view interface) const;
  /// Binds `global` at the lower of its version and `version`; the caller
  /// owns the proxy.
  void* bind(const Global& global, const wl_interface* interface, std::uint32_t version);

  /// Sends what is queued and handles events until `done()` holds. False
  /// when the deadline passed first or the connection broke.
  bool dispatchUntil(const std::function<bool()>& done, Clock::time_point deadline);
  /// Handles the events that have arrived, without waiting for more. False
  /// when the connection broke.
  bool dispatchPending();
  /// Waits until the compositor has handled every request sent so far.
  bool roundtrip(Clock::time_point deadline);
  /// Whether the connection still stands (no protocol error, not closed).
  bool usable() const;
  /// The compositor's process name (see `compositorName`), or "unknown".
  std::string compositor() const;

 private:
  explicit Display(wl_display* display) : display_(display) {}
  bool flush(Clock::time_point deadline);

  wl_display* display_;
  wl_registry* registry_ = nullptr;
  std::vector<Global> globals_;
};

}  // namespace vorn::platform::wayland
