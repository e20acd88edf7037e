// Synthetic keyboard and mouse input on a wlroots compositor: a virtual
// keyboard (zwp_virtual_keyboard_v1) and a virtual pointer
// (zwlr_virtual_pointer_v1), both going through the compositor's own input
// path, so they reach native and XWayland windows alike.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "computer-use/platform/platform.h"

namespace vorn::platform::wayland {

/// The devices are made on first use and kept for the life of the process,
/// and made again when the compositor went away. On a seat that had no
/// keyboard or no pointer (a headless desktop), a new device is a new
/// capability that each application must first take up, and events sent
/// before it has are lost: then the first use waits a settle (100 ms) after
/// making the devices. A seat with real devices costs no wait. The keyboard carries the full US
/// layout, so that toolkits read shortcuts as from a real keyboard. Points are in the compositor's
/// global layout (logical pixels); a point outside every output is refused.
class VirtualInput final : public InputDevice {
 public:
  /// `bound`: the longest any one call waits for the compositor.
  explicit VirtualInput(std::chrono::milliseconds bound = std::chrono::milliseconds(2500));
  ~VirtualInput() override;

  /// Why no input can be posted: no compositor answers, or it offers neither
  /// protocol (named, with the compositor's process name).
  std::optional<std::string> inputUnsupported() override;
  bool trusted() override;
  /// The smallest rectangle that holds every output (a point in a gap
  /// between outputs passes here and is refused when posted).
  std::optional<ScreenArea> screenArea() override;
  /// Holds the devices until it is dropped, so one operation's events never
  /// interleave with another's.
  std::unique_ptr<EventSource> createEventSource() override;

  class Devices;

 private:
  /// The devices, made when there are none or they broke; else the reason.
  std::variant<Devices*, std::string> devices();

  std::chrono::milliseconds bound_;
  std::mutex mutex_;  // guards what follows, and every use of the devices
  std::unique_ptr<Devices> devices_;
};

}  // namespace vorn::platform::wayland
