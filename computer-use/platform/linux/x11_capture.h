// Window capture on X11: a window's own pixels, also where other windows
// cover it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "computer-use/platform/platform.h"

namespace vorn::platform::x11 {

/// The shareable windows are those the window listing reports
/// (`isOnScreenWindow`); a frame is the window's rectangle in root
/// coordinates, and a point is a pixel (scale 1). Each capture talks to the
/// server over a connection of its own (`OwnDisplay`), so a slow server never
/// holds up other requests and nothing a capture sets up outlives it.
///
/// The pixels come straight from the window when it lies wholly on the screen
/// and nothing is stacked over it. Otherwise they come from its XComposite
/// pixmap: a compositing manager's, when one redirects the window; else the
/// window is redirected for the capture and its application's repaint of the
/// hidden part is awaited through XDamage (the server's own background fill
/// does not count). An application that does not repaint within four seconds
/// (stopped, hung) gets no capture: a timed-out failure, never the pixels
/// that covered its window. Without XComposite and XDamage only a window in
/// plain view can be captured. Pixels travel through
/// MIT-SHM when the server can share memory with this process, else through
/// the socket.
class WindowCapture final : public ScreenCapture {
 public:
  /// Captures on `displayName`, or on $DISPLAY when it is not given.
  explicit WindowCapture(std::optional<std::string> displayName = std::nullopt)
      : displayName_(std::move(displayName)) {}

  /// Fails when no display can be opened.
  std::variant<std::unique_ptr<ShareableContent>, CaptureFailure> shareableContent() override;

 private:
  std::optional<std::string> displayName_;
};

/// How the pixels of an image read from the server are laid out.
struct PixelFormat {
  int bitsPerPixel = 32;  ///< 8, 16, 24 or 32
  bool msbFirst = false;  ///< the byte order of a pixel's bytes
  unsigned long redMask = 0xFF0000;
  unsigned long greenMask = 0x00FF00;
  unsigned long blueMask = 0x0000FF;
  /// Depth 32: the bits outside the colour masks hold alpha, and the colours
  /// are premultiplied by it. Otherwise every pixel is opaque.
  bool premultipliedAlpha = false;
};

/// The RGBA image of `size` pixels whose rows start `bytesPerLine` apart at
/// `data`; nothing for a pixel size other than 8, 16, 24 or 32 bits.
std::optional<Image> rgbaImage(const std::uint8_t* data, std::size_t bytesPerLine, PixelSize size,
                               const PixelFormat& format);

}  // namespace vorn::platform::x11
