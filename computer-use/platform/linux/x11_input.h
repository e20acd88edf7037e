// Synthetic keyboard and mouse input on X11 through the XTest extension.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/platform.h"

namespace vorn::platform::x11 {

/// Posts with XTest, never XSendEvent (applications drop events flagged as
/// sent). Keys map to keysyms resolved against the current keymap; a keysym
/// without a keycode gets a spare keycode bound to it, which stays bound.
/// Modifiers are held around the key: command = Super, shift = Shift,
/// alternate = Alt, control = Control. Buttons: left 1, middle 2, right 3.
/// X11 has no click-state field (toolkits count clicks by time), so it is not
/// sent. The permission test is a display with XTest.
class XTestInput final : public InputDevice {
 public:
  explicit XTestInput(Connection& connection);
  ~XTestInput() override;

  bool trusted() override;
  /// The default screen's root window: (0, 0) and its size.
  std::optional<ScreenArea> screenArea() override;
  /// Holds the connection until it is dropped, so one operation's events are
  /// never interleaved with another's.
  std::unique_ptr<EventSource> createEventSource() override;

  class Keymap;
  /// The current keymap of the connection behind `lease`.
  Keymap& keymap(const Connection::Lease& lease);

 private:
  bool hasXTest(const Connection::Lease& lease);

  Connection& connection_;
  // Guarded by the connection's lease.
  std::uint64_t checkedGeneration_ = 0;
  bool xtest_ = false;
  std::uint64_t keymapEpoch_ = 0;
  std::unique_ptr<Keymap> keymap_;
};

/// The pixel that holds the point `v` of a coordinate axis (rounded down),
/// when it lies within [0, `extent`); nothing otherwise (the server would move
/// a far-off point onto the screen's edge), and for a value that is not
/// finite.
std::optional<int> pixelCoordinate(double v, int extent);

}  // namespace vorn::platform::x11
