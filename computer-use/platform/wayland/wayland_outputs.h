// The compositor's outputs and where they lie in its global layout: the
// space in which window rectangles, clicks and captures are given.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "computer-use/platform/platform.h"
#include "computer-use/platform/wayland/wayland_display.h"

struct wl_output;

namespace vorn::platform::wayland {

struct Output {
  std::string name;  ///< the compositor's name for it ("HEADLESS-1"), may be empty
  Frame logical;     ///< its place and size in the layout, in logical pixels
  std::int32_t scale = 1;
  wl_output* proxy = nullptr;  ///< owned by `Outputs`
};

/// The outputs of one connection. They stay bound, so what the compositor
/// announces later (a changed mode, a moved output) is seen whenever the
/// connection's events are read.
class Outputs {
 public:
  /// Binds every output and reads its logical place (xdg-output where the
  /// compositor offers it, else the output's own position and mode). Nothing
  /// when the compositor does not answer by `deadline`.
  static std::unique_ptr<Outputs> read(Display& display, Clock::time_point deadline);
  ~Outputs();
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  /// The outputs as last announced.
  std::vector<Output> list() const;
  /// The smallest rectangle that holds every output.
  Frame layout() const;

  struct Entry;

 private:
  Outputs() = default;
  void* xdgManager_ = nullptr;
  std::vector<std::unique_ptr<Entry>> entries_;
};

/// The smallest rectangle that holds every frame of `frames`; an empty frame
/// at the origin when there are none.
Frame boundingBox(const std::vector<Frame>& frames);

/// Whether `inner` lies wholly inside `outer`.
bool contains(const Frame& outer, const Frame& inner);

}  // namespace vorn::platform::wayland
