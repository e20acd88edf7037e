// The Linux backend's pieces that need no display.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "computer-use/platform/linux/proc.h"
#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/linux/x11_input.h"
#include "computer-use/platform/linux/x11_windows.h"

namespace {

using namespace vorn::platform;

TEST(PixelCoordinate, RoundsDownAndStaysInsideTheX11Range) {
  EXPECT_EQ(x11::pixelCoordinate(10.9), 10);
  EXPECT_EQ(x11::pixelCoordinate(-3.2), -4);
  EXPECT_EQ(x11::pixelCoordinate(-0.0), 0);
  // 70000 would wrap to 4464 in the protocol's 16 bits.
  EXPECT_EQ(x11::pixelCoordinate(70000), 32767);
  EXPECT_EQ(x11::pixelCoordinate(-1e300), -32768);
  EXPECT_EQ(x11::pixelCoordinate(std::nan("")), std::nullopt);
  EXPECT_EQ(x11::pixelCoordinate(INFINITY), std::nullopt);
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

}  // namespace
