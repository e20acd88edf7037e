// Screenshots of the fixture application on a real X display, run through
// the built helper with TMPDIR pointing into the test's own folder. What the
// files hold is read back by ImageMagick, what the windows are by xdotool.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tests/desktop/fixture_app.h"
#include "tests/desktop/real_app.h"
#include "tests/support/program_session.h"

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vorn::testing::FixtureApp;
using vorn::testing::ProgramRun;
using vorn::testing::runProgram;

const std::string kHelper = VORN_COMPUTER_USE;
// The fixture's swatch colour, and one no fixture window shows elsewhere.
const std::string kSwatch = "srgb(32,192,96)";
const std::string kOtherSwatch = "FF0000";

std::map<std::string, int> geometry(unsigned long window) {
  return vorn::testing::windowGeometry(window);
}

unsigned long rootWindow() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 0;
  unsigned long root = DefaultRootWindow(display);
  XCloseDisplay(display);
  return root;
}

// "PNG <width> <height>" as ImageMagick reads the file.
std::string identify(const std::string& path) {
  return runProgram("/usr/bin/identify", {{"-format", "%m %w %h", path}}).out;
}

// The colour of one pixel as ImageMagick reads it, e.g. "srgb(32,192,96)".
std::string pixelAt(const std::string& image, int x, int y) {
  std::string where = "%[pixel:p{" + std::to_string(x) + "," + std::to_string(y) + "}]";
  return runProgram("/usr/bin/convert", {{image, "-format", where, "info:"}}).out;
}

class Screenshots : public testing::Test {
 protected:
  void SetUp() override {
    if (!vorn::testing::haveDisplay())
      GTEST_SKIP() << "needs a desktop: run under scripts/with-desktop";
    std::string pattern = (fs::temp_directory_path() / "vorn-shots-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    tmp_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!tmp_.empty()) fs::remove_all(tmp_, ignored);
  }

  ProgramRun shoot(unsigned long window) {
    json request = {{"op", "screenshot"}, {"window_number", window}};
    return runProgram(kHelper, {{"--json", request.dump()}, {"TMPDIR=" + tmp_.string()}});
  }
  json shot(unsigned long window) {
    ProgramRun r = shoot(window);
    EXPECT_EQ(r.err, "");
    json answer = json::parse(r.out, nullptr, false);
    EXPECT_EQ(r.status, answer.value("ok", false) ? 0 : 1) << r.out;
    return answer;
  }
  fs::path folder() const { return tmp_ / "vorn-ui-screenshots"; }

  fs::path tmp_;
};

TEST_F(Screenshots, TheFixtureWindowBecomesAPngOfItsOwnSizeAndColours) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  const unsigned long window = app.window("main");
  auto g = geometry(window);

  json answer = shot(window);
  ASSERT_EQ(answer.value("ok", false), true) << answer;
  const std::string path = answer["path"];
  EXPECT_EQ(answer["window_number"], window);
  EXPECT_EQ(answer["window_frame"],
            (json{{"x", g["X"]}, {"y", g["Y"]}, {"width", g["WIDTH"]}, {"height", g["HEIGHT"]}}));
  EXPECT_EQ(answer["image_size"], (json{{"width", g["WIDTH"]}, {"height", g["HEIGHT"]}}));
  EXPECT_EQ(answer["scale"], 1);
  EXPECT_EQ(answer["url"], "file://" + path);
  EXPECT_EQ(fs::path(path).parent_path(), folder());
  EXPECT_EQ(identify(path),
            "PNG " + std::to_string(g["WIDTH"]) + " " + std::to_string(g["HEIGHT"]));
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  // The swatch's corners and centre, in the image's coordinates.
  auto swatch = app.geometryOf("swatch");
  const int left = swatch.x - g["X"], top = swatch.y - g["Y"];
  for (auto [x, y] : {std::pair{left + 1, top + 1},
                      {left + swatch.width / 2, top + swatch.height / 2},
                      {left + swatch.width - 2, top + swatch.height - 2}}) {
    EXPECT_EQ(pixelAt(path, x, y), kSwatch) << x << "," << y;
  }
  EXPECT_NE(pixelAt(path, left + 1, top - 3), kSwatch);  // just above it

  json again = shot(window);
  ASSERT_EQ(again.value("ok", false), true) << again;
  EXPECT_NE(again["path"], answer["path"]);
  EXPECT_TRUE(fs::exists(path) && fs::exists(again["path"].get<std::string>()));
}

TEST_F(Screenshots, WindowsThatAreNotOnScreenAreNotShareable) {
  FixtureApp app({"--second-window"});
  ASSERT_TRUE(app.ready());
  auto notShareable = [](unsigned long window) {
    return json{{"ok", false},
                {"error", "unknown_root"},
                {"message", "Window " + std::to_string(window) + " is not shareable."}};
  };
  const unsigned long second = app.window("second");
  ASSERT_EQ(shot(second).value("ok", false), true);
  ProgramRun unmap =
      runProgram("/usr/bin/xdotool", {{"windowunmap", "--sync", std::to_string(second)}});
  ASSERT_EQ(unmap.status, 0);
  EXPECT_EQ(shot(second), notShareable(second));
  // No such window, and a window that is no top-level one (the root).
  EXPECT_EQ(shot(4000000000ul), notShareable(4000000000ul));
  const unsigned long root = rootWindow();
  EXPECT_EQ(shot(root), notShareable(root));
  // The main window is still there to be captured.
  EXPECT_EQ(shot(app.window("main")).value("ok", false), true);
}

// The temporary directory is shared; a folder someone else put there is
// refused, and nothing is written through it.
TEST_F(Screenshots, AScreenshotFolderThatIsNotPrivateIsRefused) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  fs::create_directory(tmp_ / "elsewhere");
  fs::create_directory_symlink(tmp_ / "elsewhere", folder());
  const std::string prefix = "Screen Recording is required in the helper: " + folder().string();
  EXPECT_EQ(shot(app.window("main")), (json{{"ok", false},
                                            {"error", "permission_required"},
                                            {"message", prefix + " is a symbolic link"}}));
  EXPECT_TRUE(fs::is_empty(tmp_ / "elsewhere"));

  fs::remove(folder());
  fs::create_directory(folder());
  fs::permissions(folder(), fs::perms::owner_all | fs::perms::others_all);
  EXPECT_EQ(shot(app.window("main")),
            (json{{"ok", false},
                  {"error", "permission_required"},
                  {"message", prefix + " is open to other users (mode 0707)"}}));
  EXPECT_TRUE(fs::is_empty(folder()));
}

// Covered and partly off-screen windows, bare and under openbox (which
// reparents the windows into frames of its own and decides their stacking).
// XGetImage would show the covering window (or refuse the part off the
// screen); the capture shows the window as itself.
class CoveredWindows : public Screenshots,
                       public testing::WithParamInterface<vorn::testing::WindowManager> {
 protected:
  void SetUp() override {
    Screenshots::SetUp();
    if (IsSkipped()) return;
    if (GetParam() == vorn::testing::WindowManager::kOpenbox) {
      wm_ = std::make_unique<vorn::testing::Openbox>();
      ASSERT_TRUE(wm_->running());
    }
  }
  static void moveTo(unsigned long window, int x, int y) {
    runProgram("/usr/bin/xdotool", {{"windowmove", "--sync", std::to_string(window),
                                     std::to_string(x), std::to_string(y)}});
    runProgram("/usr/bin/xdotool", {{"windowraise", std::to_string(window)}});
  }
  std::unique_ptr<vorn::testing::Openbox> wm_;
};

// Covered, the window is captured as itself; covered and stopped, it cannot
// repaint, and the answer is the timed-out one, never what covers it.
TEST_P(CoveredWindows, ACoveredWindowIsItselfAndAStoppedOneIsNoCapture) {
  FixtureApp below({});
  ASSERT_TRUE(below.ready());
  FixtureApp over({"--size", "200x100", "--swatch", kOtherSwatch});
  ASSERT_TRUE(over.ready());
  auto swatch = below.geometryOf("swatch");
  moveTo(over.window("main"), swatch.x + 20, swatch.y - 40);
  const int x = swatch.x + 40, y = swatch.y + swatch.height / 2;
  fs::path screen = tmp_ / "screen.png";
  ASSERT_EQ(runProgram("/usr/bin/import", {{"-window", "root", screen.string()}}).status, 0);
  ASSERT_NE(pixelAt(screen, x, y), kSwatch) << "the second window does not cover the swatch";

  // The application repaints at once, often within the capture's own round
  // trip: that repaint is never taken for the server's fill, so no capture
  // waits for one that already came.
  for (int i = 0; i < 12; ++i) {
    json answer = shot(below.window("main"));
    ASSERT_EQ(answer.value("ok", false), true) << "capture " << i << ": " << answer;
    auto frame = answer["window_frame"];
    EXPECT_EQ(pixelAt(answer["path"], x - static_cast<int>(frame["x"].get<double>()),
                      y - static_cast<int>(frame["y"].get<double>())),
              kSwatch);
    fs::remove(answer["path"].get<std::string>());
  }
  ASSERT_EQ(shot(below.window("main")).value("ok", false), true);

  ::kill(below.pid(), SIGSTOP);
  EXPECT_EQ(shot(below.window("main")),
            (json{{"ok", false}, {"error", "unknown_root"}, {"message", "Screenshot timed out."}}));
  ::kill(below.pid(), SIGCONT);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder())) ++files;
  EXPECT_EQ(files, 1u);  // the first capture's alone
}

TEST_P(CoveredWindows, AWindowPartlyOffTheScreenIsCapturedWhole) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  // Where the swatch lies within the window, from the window's frame as the
  // helper reports it (a window manager's decoration shifts what xdotool
  // tells).
  json first = shot(app.window("main"));
  ASSERT_EQ(first.value("ok", false), true) << first;
  auto swatch = app.geometryOf("swatch");
  const int sx = swatch.x - static_cast<int>(first["window_frame"]["x"].get<double>());
  const int sy = swatch.y - static_cast<int>(first["window_frame"]["y"].get<double>());
  moveTo(app.window("main"), -300, 40);
  auto g = geometry(app.window("main"));
  ASSERT_LT(g["X"], 0);
  json answer = shot(app.window("main"));
  ASSERT_EQ(answer.value("ok", false), true) << answer;
  EXPECT_EQ(identify(answer["path"]),
            "PNG " + std::to_string(g["WIDTH"]) + " " + std::to_string(g["HEIGHT"]));
  EXPECT_EQ(pixelAt(answer["path"], sx + 5, sy + 5), kSwatch);
}

INSTANTIATE_TEST_SUITE_P(Wm, CoveredWindows,
                         testing::Values(vorn::testing::WindowManager::kNone,
                                         vorn::testing::WindowManager::kOpenbox),
                         [](const auto& info) {
                           return vorn::testing::windowManagerName(info.param);
                         });

}  // namespace
