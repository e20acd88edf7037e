// The helper on the applications agents drive: two browsers on a local form
// page, a GTK 4 calculator, a GTK 3 editor, Qt 5 and Qt 6 applications and a
// word processor, each started once for its suite and driven bare and under
// openbox. Each suite runs as one CTest test (label desktop-apps), so an
// application starts once per suite, not once per case.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "tests/desktop/fixture_app.h"
#include "tests/desktop/real_app.h"

namespace {

using nlohmann::json;
using vorn::testing::findNode;
using vorn::testing::findNodes;
using vorn::testing::HelperServer;
using vorn::testing::Openbox;
using vorn::testing::RealApp;
using vorn::testing::textUnder;
using vorn::testing::WindowManager;
using Clock = std::chrono::steady_clock;

const std::string kHelper = VORN_COMPUTER_USE;
const std::string kFormPage = "file://" VORN_FIXTURES "/form.html";

// An outline as text, for failure messages.
std::string outlineText(const json& node, int depth = 0) {
  std::string out = std::string(2 * depth, ' ') + node.value("ref", "") + " " +
                    node.value("role", "") + " " + node["title"].dump() + " " +
                    node["value"].dump() + "\n";
  for (const auto& child : node.value("children", json::array())) {
    out += outlineText(child, depth + 1);
  }
  return out;
}

// Observes until `holds` is true of the outline, for `wait` at most (the
// application updates its tree after the action's answer).
bool eventually(HelperServer& helper, pid_t pid, const std::function<bool(const json&)>& holds,
                std::chrono::seconds wait = std::chrono::seconds(10)) {
  const auto deadline = Clock::now() + wait;
  do {
    json seen = helper.ask({{"op", "observe"}, {"pid", pid}});
    if (seen.value("ok", false) && holds(seen["outline"][0])) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  } while (Clock::now() < deadline);
  return false;
}

json act(HelperServer& helper, const json& seen, const json& node, json request) {
  request["op"] = "perform";
  request["state_id"] = seen["state_id"];
  request["ref"] = node["ref"];
  return helper.ask(request);
}

// Each case runs bare or under openbox, which is started for it alone.
class AppCase : public testing::TestWithParam<WindowManager> {
 protected:
  void SetUp() override {
    if (!vorn::testing::haveDisplay()) {
      GTEST_SKIP() << "needs a desktop: run under scripts/with-desktop";
    }
    if (GetParam() == WindowManager::kOpenbox) {
      wm_ = std::make_unique<Openbox>();
      ASSERT_TRUE(wm_->running());
    }
  }
  std::unique_ptr<Openbox> wm_;
};

std::string wmName(const testing::TestParamInfo<WindowManager>& info) {
  return vorn::testing::windowManagerName(info.param);
}

#define APP_SUITE(Suite)              \
  INSTANTIATE_TEST_SUITE_P(Wm, Suite, \
                           testing::Values(WindowManager::kNone, WindowManager::kOpenbox), wmName)

// A suite whose application is started once from `Launch::argv()`.
template <class Launch>
class DesktopApp : public AppCase {
 protected:
  static void SetUpTestSuite() {
    if (vorn::testing::haveDisplay()) {
      app_ = new RealApp(Launch::argv(), Launch::environment(), Launch::window());
    }
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }
  void SetUp() override {
    AppCase::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(app_ != nullptr && app_->ready());
  }
  static RealApp* app_;
};
template <class Launch>
RealApp* DesktopApp<Launch>::app_ = nullptr;

// ---- Browsers: the local form page ----

// With default limits the form's four controls are reached; what is typed,
// checked and pressed arrives in the page, which says so in its status line.
void fillInTheForm(const RealApp& app) {
  HelperServer helper(kHelper);
  // On a busy machine the window can be up before the page has loaded.
  json seen;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  do {
    seen = helper.ask({{"op", "observe"}, {"pid", app.pid()}});
    if (seen.value("ok", false) && findNode(seen["outline"][0], "AXLink", "More details")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  } while (Clock::now() < deadline);
  ASSERT_EQ(seen.value("ok", false), true) << seen;
  const json& root = seen["outline"][0];
  const json* name = findNode(root, "AXTextField", "Name");
  const json* agree = findNode(root, "AXCheckBox", "I agree");
  const json* send = findNode(root, "AXButton", "Send");
  const json* more = findNode(root, "AXLink", "More details");
  ASSERT_TRUE(name && agree && send && more) << outlineText(root);
  auto statusSays = [&](const std::string& text) {
    return eventually(helper, app.pid(), [&](const json& outline) {
      const json* status = findNode(outline, "AXStatusBar", "Status");
      if (status == nullptr) status = findNode(outline, "AXGroup", "Status");
      return status != nullptr && textUnder(*status).find(text) != std::string::npos;
    });
  };
  const std::string text = "h\u00e9llo w\u00f6rld \u65e5\u672c";
  json typed = act(helper, seen, *name, {{"action", "settext"}, {"text", text}});
  EXPECT_EQ(typed["outcome"], "worked") << typed;
  EXPECT_TRUE(statusSays("name=" + text));
  // The page outlives a case: the box may be checked already.
  const bool checked = (*agree)["value"] == "1";
  EXPECT_EQ(act(helper, seen, *agree, {{"action", "press"}})["ok"], true);
  EXPECT_TRUE(statusSays(checked ? "agree=false" : "agree=true"));
  EXPECT_EQ(act(helper, seen, *send, {{"action", "press"}})["ok"], true);
  EXPECT_TRUE(statusSays("sent"));
  EXPECT_EQ(act(helper, seen, *more, {{"action", "press"}})["ok"], true);
  EXPECT_TRUE(statusSays("details"));
  // Clearing is text entry too.
  EXPECT_EQ(act(helper, seen, *name, {{"action", "typetext"}, {"text", ""}})["outcome"], "worked");
}

// The page stays the page's own under another window: its white background
// where the other window covers it, never the other window nor one colour.
void screenshotUnderCover(const RealApp& app) {
  auto g = vorn::testing::windowGeometry(app.window());
  vorn::testing::FixtureApp cover({"--size", "300x150"});
  ASSERT_TRUE(cover.ready());
  const int coverX = g["X"] + 500, coverY = g["Y"] + g["HEIGHT"] - 250;
  vorn::testing::runProgram("/usr/bin/xdotool",
                            {{"windowmove", "--sync", std::to_string(cover.window("main")),
                              std::to_string(coverX), std::to_string(coverY)}});
  vorn::testing::runProgram("/usr/bin/xdotool",
                            {{"windowraise", std::to_string(cover.window("main"))}});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  auto shoot = [&] {
    auto shot = vorn::testing::runProgram(
        kHelper, {{"--json", json({{"op", "screenshot"}, {"window_number", app.window()}}).dump()},
                  {"TMPDIR=" + app.home()}});
    return json::parse(shot.out, nullptr, false);
  };
  json answer = shoot();
  ASSERT_EQ(answer.value("ok", false), true) << answer;
  const std::string path = answer["path"];
  auto colours =
      vorn::testing::runProgram("/usr/bin/convert", {{path, "-format", "%k", "info:"}}).out;
  EXPECT_GT(std::stoi(colours.empty() ? "0" : colours), 16) << path;
  const int x = coverX + 150 - static_cast<int>(answer["window_frame"]["x"].get<double>());
  const int y = coverY + 75 - static_cast<int>(answer["window_frame"]["y"].get<double>());
  std::string where = "%[pixel:p{" + std::to_string(x) + "," + std::to_string(y) + "}]";
  EXPECT_EQ(vorn::testing::runProgram("/usr/bin/convert", {{path, "-format", where, "info:"}}).out,
            "srgb(255,255,255)");
}

std::vector<std::string> chromiumArguments() {
  std::vector<std::string> argv = {
      "chromium",
      "--user-data-dir={home}/profile",
      "--no-first-run",
      "--no-default-browser-check",
      // No network: nothing in the background, and no host name resolves.
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-quic",
      "--host-resolver-rules=MAP * ~NOTFOUND",
      "--disable-gpu",
      // Chromium builds its page tree for accessibility only when asked.
      "--force-renderer-accessibility",
      "--window-size=1000,700",
      "--window-position=40,40",
  };
  if (::geteuid() == 0) argv.push_back("--no-sandbox");  // refused as root otherwise
  argv.push_back(kFormPage);
  return argv;
}

struct ChromiumLaunch {
  static std::vector<std::string> argv() { return chromiumArguments(); }
  static std::vector<std::string> environment() { return {}; }
  static std::string window() { return "Vorn Form"; }
};
using Chromium = DesktopApp<ChromiumLaunch>;

TEST_P(Chromium, TheFormIsReachedAndFilledIn) { fillInTheForm(*app_); }
TEST_P(Chromium, ACoveredWindowIsCapturedAsItsOwnPage) { screenshotUnderCover(*app_); }
APP_SUITE(Chromium);

struct FirefoxLaunch {
  // The profile must exist before Firefox starts: a launcher script copies
  // it into the private home first.
  static std::vector<std::string> argv() {
    return {"sh", "-c",
            std::string("mkdir -p \"$HOME/profile\" && cp ") + VORN_FIXTURES +
                "/firefox-user.js \"$HOME/profile/user.js\" && exec firefox-esr --no-remote "
                "--new-instance --profile \"$HOME/profile\" --width 1000 --height 700 " +
                kFormPage};
  }
  // Firefox turns its accessibility on for an assistive technology that
  // GNOME announces this way.
  static std::vector<std::string> environment() {
    return {"GNOME_ACCESSIBILITY=1", "MOZ_CRASHREPORTER_DISABLE=1"};
  }
  static std::string window() { return "Vorn Form"; }
};
using Firefox = DesktopApp<FirefoxLaunch>;

TEST_P(Firefox, TheFormIsReachedAndFilledIn) { fillInTheForm(*app_); }
TEST_P(Firefox, ACoveredWindowIsCapturedAsItsOwnPage) { screenshotUnderCover(*app_); }
APP_SUITE(Firefox);

// ---- Desktop applications ----

struct CalculatorLaunch {
  static std::vector<std::string> argv() { return {"gnome-calculator"}; }
  static std::vector<std::string> environment() { return {}; }
  static std::string window() { return "calculator"; }
};
using Calculator = DesktopApp<CalculatorLaunch>;

// GTK 4: the keypad sits seven unnamed containers down, and every element
// is SENSITIVE rather than ENABLED.
TEST_P(Calculator, TheKeypadIsReachedEnabledAndPressed) {
  HelperServer helper(kHelper);
  json seen = helper.ask({{"op", "observe"}, {"pid", app_->pid()}});
  ASSERT_EQ(seen.value("ok", false), true) << seen;
  const json& root = seen["outline"][0];
  std::map<std::string, const json*> digits;
  // A digit's button holds a label that says the digit.
  for (const json* button : findNodes(root, "AXButton")) {
    const json* label = findNode(*button, "AXStaticText");
    if (label == nullptr || !(*label)["value"].is_string()) continue;
    std::string digit = (*label)["value"];
    if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') digits[digit] = button;
  }
  for (const auto& [digit, button] : digits) EXPECT_EQ((*button)["enabled"], true) << digit;
  ASSERT_EQ(digits.size(), 10u) << outlineText(root);
  EXPECT_EQ(act(helper, seen, *digits["7"], {{"action", "press"}})["ok"], true);
  EXPECT_TRUE(eventually(helper, app_->pid(), [](const json& outline) {
    const json* display = findNode(outline, "AXTextArea");
    return display != nullptr && (*display)["value"].is_string() &&
           (*display)["value"].get<std::string>().find('7') != std::string::npos;
  }));
}
APP_SUITE(Calculator);

struct MousepadLaunch {
  static std::vector<std::string> argv() { return {"mousepad"}; }
  static std::vector<std::string> environment() { return {}; }
  static std::string window() { return "mousepad"; }
};
using Mousepad = DesktopApp<MousepadLaunch>;

TEST_P(Mousepad, TheTextAreaIsReachedAndWritten) {
  HelperServer helper(kHelper);
  json seen = helper.ask({{"op", "observe"}, {"pid", app_->pid()}});
  ASSERT_EQ(seen.value("ok", false), true) << seen;
  const json* area = findNode(seen["outline"][0], "AXTextArea");
  ASSERT_NE(area, nullptr) << outlineText(seen["outline"][0]);
  const std::string text = "first line\nsecond \u00fc";
  EXPECT_EQ(act(helper, seen, *area, {{"action", "settext"}, {"text", text}})["outcome"], "worked");
}
APP_SUITE(Mousepad);

// Qt's bridge crashes on a batched property read; fifty rounds of observing
// and acting leave the application running.
void fiftyRounds(const RealApp& app, const std::string& textRole, const std::string& pressRole) {
  HelperServer helper(kHelper);
  for (int round = 0; round < 50; ++round) {
    json seen = helper.ask({{"op", "observe"}, {"pid", app.pid()}});
    ASSERT_EQ(seen.value("ok", false), true) << "round " << round << ": " << seen;
    const json* text = findNode(seen["outline"][0], textRole);
    const json* toggle = findNode(seen["outline"][0], pressRole);
    ASSERT_TRUE(text && toggle) << outlineText(seen["outline"][0]);
    json typed = act(helper, seen, *text,
                     {{"action", "settext"}, {"text", "round " + std::to_string(round)}});
    EXPECT_EQ(typed["outcome"], "worked") << typed;
    EXPECT_EQ(act(helper, seen, *toggle, {{"action", "press"}})["ok"], true);
    ASSERT_TRUE(app.alive()) << "round " << round;
  }
}

struct FeatherPadLaunch {
  static std::vector<std::string> argv() { return {"featherpad"}; }
  static std::vector<std::string> environment() { return {}; }
  static std::string window() { return "featherpad"; }
};
using FeatherPad = DesktopApp<FeatherPadLaunch>;
TEST_P(FeatherPad, FiftyRoundsWithoutACrash) { fiftyRounds(*app_, "AXTextArea", "AXCheckBox"); }
APP_SUITE(FeatherPad);

struct Qt6ctLaunch {
  static std::vector<std::string> argv() { return {"qt6ct"}; }
  static std::vector<std::string> environment() { return {}; }
  static std::string window() { return "qt6ct"; }
};
using Qt6ct = DesktopApp<Qt6ctLaunch>;
TEST_P(Qt6ct, FiftyRoundsWithoutACrash) { fiftyRounds(*app_, "AXTextField", "AXCheckBox"); }
APP_SUITE(Qt6ct);

struct WriterLaunch {
  static std::vector<std::string> argv() {
    return {"lowriter", "--norestore", "--nologo", "--nolockcheck",
            "-env:UserInstallation=file://{home}/profile"};
  }
  // The GTK 3 plugin brings LibreOffice's accessibility to AT-SPI.
  static std::vector<std::string> environment() { return {"SAL_USE_VCLPLUGIN=gtk3"}; }
  static std::string window() { return "LibreOffice Writer"; }
};
using Writer = DesktopApp<WriterLaunch>;

TEST_P(Writer, AThousandElementsAreRead) {
  HelperServer helper(kHelper);
  json seen =
      helper.ask({{"op", "observe"}, {"pid", app_->pid()}, {"max_depth", 12}, {"max_nodes", 1000}});
  ASSERT_EQ(seen.value("ok", false), true) << seen;
  EXPECT_EQ(seen["elements"].size(), 1001u);
  const json* menus = findNode(seen["outline"][0], "AXMenuBar");
  ASSERT_NE(menus, nullptr);
  EXPECT_NE(findNode(*menus, "AXMenu", "File"), nullptr);
  EXPECT_TRUE(app_->alive());
}
APP_SUITE(Writer);

}  // namespace
