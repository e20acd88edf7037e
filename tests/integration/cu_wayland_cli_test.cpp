// The built helper in Wayland sessions it cannot serve: a compositor that is
// not there, and one that lacks what the helper needs (weston, headless).
// Each affected operation names the compositor and what is missing; none
// answers an empty window list, and none falls back to the X11 display.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/program_session.h"

namespace {

namespace fs = std::filesystem;
using vorn::testing::ProgramRun;
using vorn::testing::ProgramSession;
using vorn::testing::runProgram;

const std::string kHelper = VORN_COMPUTER_USE;

// An X11 display is there too (XWayland's, say): it must not be used.
ProgramRun ask(const std::string& request, const std::string& waylandDisplay) {
  return runProgram(
      kHelper,
      {{"--json", request}, {"WAYLAND_DISPLAY=" + waylandDisplay, "DISPLAY=:4242"}, {"SWAYSOCK"}});
}

std::string didnt(const std::string& message) {
  return R"({"message":")" + message +
         R"(","ok":false,"outcome":"didnt"})"
         "\n";
}

std::string failure(const std::string& error, const std::string& message) {
  return R"({"error":")" + error + R"(","message":")" + message +
         R"(","ok":false})"
         "\n";
}

const std::string kScreenshotPrefix = "Screen Recording is required in the helper: ";

TEST(CliWayland, ACompositorThatIsNotThereIsNamedInEveryAnswer) {
  const std::string socket = "/nonexistent/wayland-9";
  const std::string gone = "The Wayland compositor at " + socket + " cannot be reached.";
  ProgramRun list = ask(R"({"op":"list_windows"})", socket);
  EXPECT_EQ(list.out, failure("unsupported", gone));
  EXPECT_EQ(list.status, 1);
  EXPECT_EQ(list.err, "");
  EXPECT_EQ(ask(R"({"op":"keypress","key":"a"})", socket).out, didnt(gone));
  EXPECT_EQ(ask(R"({"op":"click_xy","x":1,"y":1})", socket).out, didnt(gone));
  EXPECT_EQ(ask(R"({"op":"screenshot","window_number":5})", socket).out,
            failure("permission_required", kScreenshotPrefix + gone));
  EXPECT_EQ(ask(R"({"op":"ping"})", socket).status, 0);
  // A bare name lies in the runtime folder.
  ProgramRun named =
      runProgram(kHelper, {{"--json", R"({"op":"keypress","key":"a"})"},
                           {"WAYLAND_DISPLAY=wayland-77", "XDG_RUNTIME_DIR=/nonexistent/run"},
                           {"SWAYSOCK"}});
  EXPECT_EQ(named.out,
            didnt("The Wayland compositor at /nonexistent/run/wayland-77 cannot be reached."));
}

class CliWeston : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/weston")) GTEST_SKIP() << "needs weston";
    std::string pattern = (fs::temp_directory_path() / "vorn-weston-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    runtime_ = pattern;
    socket_ = runtime_ + "/wayland-vorn";
    weston_ = std::make_unique<ProgramSession>(
        "/usr/bin/weston",
        vorn::testing::Launch{{"--backend=headless-backend.so", "--socket=wayland-vorn",
                               "--shell=fullscreen-shell.so", "--no-config", "--idle-time=0"},
                              {"XDG_RUNTIME_DIR=" + runtime_},
                              {"WAYLAND_DISPLAY", "DISPLAY"}});
    // A bounded wait for its socket; it times nothing.
    for (int i = 0; i < 1000 && !fs::exists(socket_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(socket_)) << "weston did not start";
  }
  void TearDown() override {
    weston_.reset();
    if (!runtime_.empty()) fs::remove_all(runtime_);
  }

  std::string runtime_, socket_;
  std::unique_ptr<ProgramSession> weston_;
};

TEST_F(CliWeston, EachOperationNamesTheCompositorAndWhatItLacks) {
  const std::string weston = "The Wayland compositor weston is not supported: ";
  EXPECT_EQ(ask(R"({"op":"list_windows"})", socket_).out,
            failure("unsupported", weston + "listing windows needs sway's IPC socket (SWAYSOCK)."));
  // Headless weston has no seat at all, and neither protocol.
  const std::string input =
      weston +
      "keys and clicks need the virtual keyboard protocol (zwp_virtual_keyboard_manager_v1), the "
      "virtual pointer protocol (zwlr_virtual_pointer_manager_v1) and a seat (wl_seat).";
  EXPECT_EQ(ask(R"({"op":"keypress","key":"ctrl+a"})", socket_).out, didnt(input));
  EXPECT_EQ(ask(R"({"op":"click_xy","x":10,"y":10})", socket_).out, didnt(input));
  EXPECT_EQ(ask(R"({"op":"screenshot","window_number":3})", socket_).out,
            failure("permission_required",
                    kScreenshotPrefix + weston +
                        "screenshots need sway's IPC socket (SWAYSOCK) and the screencopy "
                        "protocol (zwlr_screencopy_manager_v1)."));
}

}  // namespace
