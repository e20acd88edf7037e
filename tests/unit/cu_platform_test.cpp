// The Linux backend's pieces that need no display.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <limits>

#include "computer-use/platform/image_scale.h"
#include "computer-use/platform/linux/proc.h"
#include "computer-use/platform/linux/x11_capture.h"
#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/linux/x11_input.h"
#include "computer-use/platform/linux/x11_windows.h"

namespace {

using namespace vorn::platform;

// The server would move a point off the screen onto its edge (and wrap one
// beyond 16 bits): such a point makes no pixel at all.
TEST(PixelCoordinate, RoundsDownAndKeepsOnlyPixelsOnTheScreen) {
  EXPECT_EQ(x11::pixelCoordinate(10.9, 1280), 10);
  EXPECT_EQ(x11::pixelCoordinate(-0.0, 1280), 0);
  EXPECT_EQ(x11::pixelCoordinate(1279.99, 1280), 1279);
  EXPECT_EQ(x11::pixelCoordinate(1280, 1280), std::nullopt);
  EXPECT_EQ(x11::pixelCoordinate(-0.5, 1280), std::nullopt);
  EXPECT_EQ(x11::pixelCoordinate(-5000, 1280), std::nullopt);
  EXPECT_EQ(x11::pixelCoordinate(70000, 1280), std::nullopt);
  EXPECT_EQ(x11::pixelCoordinate(std::nan(""), 1280), std::nullopt);
  EXPECT_EQ(x11::pixelCoordinate(-INFINITY, 1280), std::nullopt);
}

TEST(Proc, KnowsRunningProcessesOnly) {
  auto self = static_cast<std::int32_t>(::getpid());
  EXPECT_TRUE(linux_proc::processStartTime(self));
  EXPECT_EQ(linux_proc::processStartTime(self), linux_proc::processStartTime(self));
  EXPECT_NE(linux_proc::processStartTime(1), linux_proc::processStartTime(self));
  EXPECT_TRUE(linux_proc::processName(self).has_value());
  for (std::int32_t pid : {0, -1, std::numeric_limits<std::int32_t>::max()}) {
    EXPECT_FALSE(linux_proc::processStartTime(pid)) << pid;
    EXPECT_FALSE(linux_proc::processName(pid)) << pid;
  }
}

// Without a display every answer is "none", quickly and without a word.
TEST(X11WithoutDisplay, AnswersNothingAndNeverExits) {
  x11::Connection connection(std::string("/nonexistent/socket:0"));
  x11::Desktop desktop(connection);
  x11::XTestInput input(connection);
  EXPECT_FALSE(desktop.onScreenWindows());
  EXPECT_FALSE(desktop.bundleIdentifier(static_cast<std::int32_t>(::getpid())));
  EXPECT_FALSE(desktop.activate(static_cast<std::int32_t>(::getpid())));
  EXPECT_FALSE(input.trusted());
  EXPECT_EQ(input.createEventSource(), nullptr);
}

TEST(X11WithoutDisplay, CaptureSaysWhichDisplayItCouldNotReach) {
  x11::WindowCapture capture(std::string("/nonexistent/socket:0"));
  auto content = capture.shareableContent();
  ASSERT_TRUE(std::holds_alternative<CaptureFailure>(content));
  EXPECT_EQ(std::get<CaptureFailure>(content).description,
            "cannot connect to the X display \"/nonexistent/socket:0\"");
}

std::vector<std::uint8_t> pixels(std::initializer_list<std::array<std::uint8_t, 4>> list) {
  std::vector<std::uint8_t> out;
  for (const auto& p : list) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(PixelConversion, EveryLayoutTheServerMayHandOverBecomesStraightRgba) {
  // 32 bits, least significant byte first (B, G, R, X), with row padding.
  const std::uint8_t bgrx[] = {0x30, 0x20, 0x10, 0x99, 0xFF, 0xEE, 0xDD, 0x00, 0, 0, 0, 0,  //
                               0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0, 0, 0, 0};
  auto plain = x11::rgbaImage(bgrx, 12, {2, 2}, {});
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->rgba, pixels({{0x10, 0x20, 0x30, 0xFF},
                                 {0xDD, 0xEE, 0xFF, 0xFF},
                                 {0x03, 0x02, 0x01, 0xFF},
                                 {0x07, 0x06, 0x05, 0xFF}}));

  // Most significant byte first: X, R, G, B.
  const std::uint8_t xrgb[] = {0x99, 0x10, 0x20, 0x30};
  auto msb = x11::rgbaImage(xrgb, 4, {1, 1}, {.msbFirst = true});
  EXPECT_EQ(msb->rgba, pixels({{0x10, 0x20, 0x30, 0xFF}}));

  // 16 bits, 5-6-5: full and half intensities widen to 8 bits.
  const std::uint8_t rgb565[] = {0x00, 0xF8, 0xE0, 0x07, 0x10, 0x00};
  auto narrow = x11::rgbaImage(
      rgb565, 6, {3, 1},
      {.bitsPerPixel = 16, .redMask = 0xF800, .greenMask = 0x07E0, .blueMask = 0x001F});
  EXPECT_EQ(narrow->rgba, pixels({{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 132, 255}}));

  // Depth 32: premultiplied alpha in the top byte becomes straight alpha.
  const std::uint8_t argb[] = {0x20, 0x40, 0x80, 0x80, 0x00, 0x00, 0x00, 0x00};
  auto translucent = x11::rgbaImage(argb, 8, {2, 1}, {.premultipliedAlpha = true});
  EXPECT_EQ(translucent->rgba, pixels({{0xFF, 0x80, 0x40, 0x80}, {0, 0, 0, 0}}));

  EXPECT_FALSE(x11::rgbaImage(bgrx, 12, {2, 2}, {.bitsPerPixel = 4}));
}

TEST(ImageScale, FlatAreasKeepTheirColourAndEdgesBlendBetweenCentres) {
  Image flat{{3, 2}, {}};
  for (int i = 0; i < 6; ++i) flat.rgba.insert(flat.rgba.end(), {0x20, 0xC0, 0x60, 0xFF});
  for (PixelSize size : {PixelSize{7, 5}, PixelSize{1, 1}, PixelSize{3, 2}}) {
    Image scaled = scaledImage(flat, size);
    ASSERT_EQ(scaled.size, size);
    for (std::size_t i = 0; i < scaled.rgba.size(); i += 4) {
      ASSERT_EQ(scaled.rgba[i + 1], 0xC0) << size.width << "x" << size.height;
    }
  }

  Image edge{{2, 1}, pixels({{0, 0, 0, 255}, {255, 255, 255, 255}})};
  Image wide = scaledImage(edge, {4, 1});
  EXPECT_EQ(
      wide.rgba,
      pixels({{0, 0, 0, 255}, {64, 64, 64, 255}, {191, 191, 191, 255}, {255, 255, 255, 255}}));

  // A transparent pixel lends its neighbour no colour, only transparency.
  Image half{{2, 1}, pixels({{255, 0, 0, 255}, {0, 0, 255, 0}})};
  Image three = scaledImage(half, {3, 1});
  EXPECT_EQ(three.rgba, pixels({{255, 0, 0, 255}, {255, 0, 0, 128}, {0, 0, 0, 0}}));

  EXPECT_EQ(scaledImage(Image{}, {0, 0}).size, (PixelSize{1, 1}));
}

}  // namespace
