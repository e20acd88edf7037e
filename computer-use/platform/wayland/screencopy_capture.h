// Window screenshots on a wlroots compositor: wlr-screencopy copies a region
// of an output, which holds a window's pixels only where the window is in
// view. So a window is captured only when it lies wholly on one output with
// nothing over it, checked before and after the copy: an image never holds
// another window's pixels.
#pragma once

#include "computer-use/platform/platform.h"
#include "computer-use/platform/wayland/sway_desktop.h"

namespace vorn::platform::wayland {

/// Each capture opens a connection of its own (a capture may outlive its
/// request) and finds windows through `windows` (sway's IPC). Scale: the
/// window's output's.
class ScreencopyCapture final : public ScreenCapture {
 public:
  explicit ScreencopyCapture(SwayDesktop& windows) : windows_(windows) {}

  /// Failures name the compositor and what it lacks (sway's IPC, the
  /// screencopy protocol), or say that it cannot be reached.
  std::variant<std::unique_ptr<ShareableContent>, CaptureFailure> shareableContent() override;

 private:
  SwayDesktop& windows_;
};

/// Straight RGBA from a copied buffer of `format` (a wl_shm format: the
/// 32-bit little-endian XRGB/ARGB/XBGR/ABGR ones), rows of `stride` bytes,
/// bottom row first when `yInverted`. Opaque whatever the buffer's alpha says
/// (the screen has no transparency). Nothing for another format.
std::optional<Image> imageFromBuffer(const std::uint8_t* pixels, std::uint32_t format,
                                     PixelSize size, std::uint32_t stride, bool yInverted);

}  // namespace vorn::platform::wayland
