// Where accessibility positions start. On X11 toolkits report an element's
// position on the screen; on Wayland a client never learns where its window
// is, so they report it relative to the window, and only the compositor can
// say where that window lies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vorn::platform {

struct ScreenOffset {
  double x = 0;
  double y = 0;
  bool operator==(const ScreenOffset&) const = default;
};

class ElementOrigins {
 public:
  virtual ~ElementOrigins() = default;
  /// What to add to the positions the elements of process `pid`'s window
  /// titled `title` report, to have them on the screen: the window's place
  /// for a native Wayland window, nothing to add for an X11 one. Nothing when
  /// no such window is on the screen.
  virtual std::optional<ScreenOffset> elementOffset(std::int32_t pid, const std::string& title) = 0;
};

}  // namespace vorn::platform
