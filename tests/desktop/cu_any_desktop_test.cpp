// The helper on whichever desktop it runs: X11 (scripts/with-desktop) or
// Wayland (scripts/with-desktop --wayland, headless sway). The fixture's event
// log witnesses the input; where windows are, the desktop's own tool says
// (on Wayland, swaymsg; on X11 the fixture's root coordinates are the
// screen's). Cases that only Wayland has come last.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>

#include "tests/desktop/fixture_app.h"
#include "tests/support/program_session.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vorn::testing::FixtureApp;
using vorn::testing::haveWaylandDesktop;
using vorn::testing::runProgram;

const std::string kHelper = VORN_COMPUTER_USE;

json ask(const json& request) {
  auto r = runProgram(kHelper, {{"--json", request.dump()}});
  EXPECT_EQ(r.err, "");
  return json::parse(r.out, nullptr, false);
}

// A window as the desktop's own tool places it: the number the listing must
// report, and where its content starts on the screen.
struct Placed {
  std::int64_t number = 0;
  int x = 0, y = 0;
  std::string appId;  ///< the application id the desktop knows it by
};

// sway's view of the window of `pid` titled `title`.
std::optional<Placed> swayWindow(pid_t pid, const std::string& title) {
  auto r = runProgram("/usr/bin/swaymsg", {{"-t", "get_tree", "-r"}});
  json tree = json::parse(r.out, nullptr, false);
  std::optional<Placed> found;
  std::function<void(const json&)> walk = [&](const json& n) {
    if (n.value("pid", -1) == pid && n.value("name", "") == title) {
      const json &outer = n["rect"], &inner = n["window_rect"];
      found = Placed{n["id"].get<std::int64_t>(), outer["x"].get<int>() + inner["x"].get<int>(),
                     outer["y"].get<int>() + inner["y"].get<int>(),
                     n["app_id"].is_string() ? n["app_id"].get<std::string>() : ""};
    }
    for (const char* key : {"nodes", "floating_nodes"}) {
      if (n.contains(key)) {
        for (const auto& child : n[key]) walk(child);
      }
    }
  };
  if (!tree.is_discarded()) walk(tree);
  return found;
}

// The fixture's main window; on X11 the fixture reports root coordinates
// and its own window id.
Placed placed(const FixtureApp& app, const std::string& title, const std::string& appId) {
  if (!haveWaylandDesktop()) return {static_cast<std::int64_t>(app.window("main")), 0, 0, appId};
  // GTK reports a window mapped when it asks for it; sway shows it a little
  // later, and places it floating and adds its title bar in steps. A bounded
  // wait for two readings a while apart that agree; it times nothing.
  std::optional<Placed> last;
  for (int i = 0; i < 100; ++i) {
    auto found = swayWindow(app.pid(), title);
    if (found && last && found->number == last->number && found->x == last->x &&
        found->y == last->y) {
      return *found;
    }
    last = found;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "sway does not show " << title;
  return {};
}

std::pair<int, int> onScreen(const FixtureApp& app, const Placed& window, const char* widget) {
  auto [x, y] = app.centreOf(widget);
  return {window.x + x, window.y + y};
}

bool isEvent(const json& e, const char* name) { return e.value("event", "") == name; }

class AnyDesktop : public testing::Test {
 protected:
  void SetUp() override {
    if (!vorn::testing::haveDisplay() && !haveWaylandDesktop())
      GTEST_SKIP() << "needs a desktop: run under scripts/with-desktop [--wayland]";
  }

  // A re-attached element request for the fixture titled "Vorn Fixture".
  static json element(const FixtureApp& app, json fields) {
    fields["pid"] = app.pid();
    fields["window_title"] = "Vorn Fixture";
    fields["ref"] = "@e99";
    return fields;
  }
};

TEST_F(AnyDesktop, ListsEachWindowOnceWithItsOwnerFrontToBack) {
  FixtureApp first({"--app-id", "dev.vorn.Fixture", "--title", "First Fixture"});
  FixtureApp second({"--title", "Second Fixture"});
  ASSERT_TRUE(first.ready() && second.ready());
  Placed one = placed(first, "First Fixture", "dev.vorn.Fixture");
  Placed two = placed(second, "Second Fixture", "");

  json answer = ask({{"op", "list_windows"}, {"limit", 100}});
  ASSERT_EQ(answer.value("ok", false), true) << answer;
  std::map<pid_t, std::vector<json>> byPid;
  for (const auto& w : answer["windows"]) byPid[w["pid"].get<pid_t>()].push_back(w);
  ASSERT_EQ(byPid[first.pid()].size(), 1u) << answer;
  ASSERT_EQ(byPid[second.pid()].size(), 1u) << answer;
  const json& record = byPid[first.pid()][0];
  EXPECT_EQ(record["title"], "First Fixture");
  EXPECT_EQ(record["window_number"], one.number);
  EXPECT_EQ(record["bundle_id"], one.appId);
  EXPECT_EQ(record["native_key"], "pid:" + std::to_string(first.pid()) + "|win:" +
                                      std::to_string(one.number) + "|bundle:" + one.appId);
  EXPECT_EQ(byPid[second.pid()][0]["window_number"], two.number);

  // The helper's own activation brings each to the front of the listing.
  for (const FixtureApp* app : {&first, &second, &first}) {
    json focus = {{"op", "perform"}, {"action", "focus"},     {"pid", app->pid()},
                  {"ref", "@e99"},   {"role", "AXTextField"}, {"prefer_background", false}};
    ASSERT_EQ(ask(focus).value("ok", false), true);
    json front = ask({{"op", "list_windows"}, {"limit", 1}});
    ASSERT_EQ(front["windows"].size(), 1u) << front;
    EXPECT_EQ(front["windows"][0]["pid"], app->pid());
  }
}

TEST_F(AnyDesktop, KeysReachTheFocusedEntryWithTheirModifiers) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  auto text = [&](const std::string& expected) {
    return app.waitFor([&](const json& e) {
      return isEvent(e, "text-changed") && e.value("text", "") == expected;
    });
  };
  ASSERT_EQ(ask(element(app, {{"op", "perform"},
                              {"action", "settext"},
                              {"role", "AXTextField"},
                              {"text", "hello"}}))["ok"],
            true);
  ASSERT_TRUE(text("hello"));
  ASSERT_EQ(ask(element(app, {{"op", "perform"},
                              {"action", "focus"},
                              {"role", "AXTextField"},
                              {"prefer_background", false}}))["ok"],
            true);

  // A shortcut, then plain keys and a shifted letter.
  EXPECT_EQ(ask({{"op", "keypress"}, {"key", "ctrl+a"}})["message"], "hid:ctrl+a");
  auto selectAll = app.waitFor(
      [](const json& e) { return isEvent(e, "key-press") && e.value("keyname", "") == "a"; });
  ASSERT_TRUE(selectAll);
  EXPECT_EQ((*selectAll)["modifiers"], json::array({"control"}));
  EXPECT_EQ(ask({{"op", "keypress"}, {"key", "delete"}})["ok"], true);
  EXPECT_TRUE(text(""));
  EXPECT_EQ(ask({{"op", "keypress"}, {"key", "x"}})["ok"], true);
  EXPECT_TRUE(text("x"));
  EXPECT_EQ(ask({{"op", "keypress"}, {"key", "shift+a"}})["ok"], true);
  EXPECT_TRUE(text("xA"));
}

// A field that keeps only what is typed into it, as web pages' fields do:
// the text is typed instead, any Unicode, and read back. It needs more
// characters bound than the layout has spare keys, and afterwards the
// layout's own keys and shortcuts work as before.
TEST_F(AnyDesktop, TextAFieldWillNotTakeIsTypedAndReadBack) {
  FixtureApp app({"--typed-only"});
  ASSERT_TRUE(app.ready());
  auto text = [&](const std::string& expected) {
    return app.waitFor([&](const json& e) {
      return isEvent(e, "text-changed") && e.value("text", "") == expected;
    });
  };
  const std::string typed = "Grüße aus Köln: 日本語のテキスト ✓ αβγδεζηθ A";
  json answer = ask(element(
      app, {{"op", "perform"}, {"action", "settext"}, {"role", "AXTextField"}, {"text", typed}}));
  EXPECT_EQ(answer.value("ok", false), true) << answer;
  EXPECT_TRUE(text(typed)) << answer;

  EXPECT_EQ(ask({{"op", "keypress"}, {"key", "ctrl+a"}})["ok"], true);
  EXPECT_EQ(ask({{"op", "keypress"}, {"key", "delete"}})["ok"], true);
  EXPECT_TRUE(text(""));
  EXPECT_EQ(ask({{"op", "keypress"}, {"key", "shift+z"}})["ok"], true);
  EXPECT_TRUE(text("Z"));

  // Bindings outlive the helper that made them: a later helper must still
  // find keys for characters of its own once every spare key is taken.
  const std::string later = "Жизнь: ЙЦУКЕНГШЩЗ ξψω ℃";
  answer = ask(element(
      app, {{"op", "perform"}, {"action", "settext"}, {"role", "AXTextField"}, {"text", later}}));
  EXPECT_EQ(answer.value("ok", false), true) << answer;
  EXPECT_TRUE(text(later)) << answer;
}

// A serving helper keeps its input devices: every key of a burst arrives,
// in order.
TEST_F(AnyDesktop, AServingHelpersKeysAllArrive) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  ASSERT_EQ(ask(element(app, {{"op", "perform"},
                              {"action", "focus"},
                              {"role", "AXTextField"},
                              {"prefer_background", false}}))["ok"],
            true);
  std::string lines;
  for (const char* key : {"x", "c", "shift+z", "v", "a"}) {
    lines += json{{"op", "keypress"}, {"key", key}}.dump() + "\n";
  }
  auto r = runProgram(kHelper, {{"--serve"}}, lines);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(app.waitFor([](const json& e) {
    return isEvent(e, "text-changed") && e.value("text", "") == "xcZva";
  })) << r.out;
}

TEST_F(AnyDesktop, ClicksLandWhereTheScreenShowsTheButton) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  Placed window = placed(app, "Vorn Fixture", "");
  auto [x, y] = onScreen(app, window, "button");
  json answer = ask({{"op", "click_xy"}, {"x", x}, {"y", y}});
  EXPECT_EQ(answer["ok"], true) << answer;
  EXPECT_TRUE(app.waitFor([](const json& e) {
    return isEvent(e, "clicked") && e.value("widget", "") == "button";
  })) << x
      << "," << y << " " << json(app.events()).dump();
  // Off the screen, a click is refused rather than moved onto its edge.
  json refused = ask({{"op", "click_xy"}, {"x", -5000}, {"y", y}});
  EXPECT_EQ(refused["ok"], false);
  EXPECT_EQ(refused["message"],
            "Click position -5000," + std::to_string(y) + " is outside the screen.");
}

TEST_F(AnyDesktop, ElementActionsFindTheElementsCentreAndScroll) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  json press = element(
      app, {{"op", "perform"}, {"action", "press"}, {"role", "AXButton"}, {"title", "Press Me"}});
  EXPECT_EQ(ask(press)["ok"], true);
  EXPECT_TRUE(app.waitFor([](const json& e) { return isEvent(e, "clicked"); }));

  // The right button clicks at the centre: the fixture sees it there, in the
  // coordinates it reports its widgets in.
  press["button"] = "right";
  json answer = ask(press);
  EXPECT_EQ(answer["ok"], true) << answer;
  auto down = app.waitFor(
      [](const json& e) { return isEvent(e, "button-press") && e.value("button", 0) == 3; });
  ASSERT_TRUE(down);
  auto [cx, cy] = app.centreOf("button");
  EXPECT_NEAR((*down)["x"].get<int>(), cx, 2) << *down;
  EXPECT_NEAR((*down)["y"].get<int>(), cy, 2) << *down;

  json scroll = element(app, {{"op", "perform"}, {"action", "scroll"}, {"role", "AXTextArea"}});
  EXPECT_EQ(ask(scroll)["ok"], true);
  EXPECT_TRUE(app.waitFor(
      [](const json& e) { return isEvent(e, "scrolled") && e.value("value", 0.0) > 0; }));
}

// The colour of one pixel as ImageMagick reads it, e.g. "srgb(255,0,0)".
std::string pixelAt(const std::string& image, int x, int y) {
  std::string where = "%[pixel:p{" + std::to_string(x) + "," + std::to_string(y) + "}]";
  return runProgram("/usr/bin/convert", {{image, "-format", where, "info:"}}).out;
}

TEST_F(AnyDesktop, AScreenshotOfAWindowInViewHoldsItsPixels) {
  FixtureApp app({"--swatch", "FF0000", "--size", "500x440"});
  ASSERT_TRUE(app.ready());
  Placed window = placed(app, "Vorn Fixture", "");
  json shot = ask({{"op", "screenshot"}, {"window_number", window.number}});
  ASSERT_EQ(shot.value("ok", false), true) << shot;
  const std::string path = shot["path"].get<std::string>();
  EXPECT_EQ(shot["image_size"]["width"], shot["window_frame"]["width"]);
  EXPECT_EQ(shot["image_size"]["height"], shot["window_frame"]["height"]);
  auto [sx, sy] = onScreen(app, window, "swatch");
  int x = sx - shot["window_frame"]["x"].get<int>(), y = sy - shot["window_frame"]["y"].get<int>();
  EXPECT_EQ(pixelAt(path, x, y), "srgb(255,0,0)");
  auto [ex, ey] = onScreen(app, window, "entry");
  EXPECT_NE(pixelAt(path, ex - shot["window_frame"]["x"].get<int>(),
                    ey - shot["window_frame"]["y"].get<int>()),
            "srgb(255,0,0)");
  fs::remove(path);
}

// ---- Wayland only ----

class WaylandDesktop : public testing::Test {
 protected:
  void SetUp() override {
    if (!haveWaylandDesktop())
      GTEST_SKIP() << "needs a desktop: run under scripts/with-desktop --wayland";
  }
};

TEST_F(WaylandDesktop, ACoveredWindowIsRefusedNeverAnsweredWithAnothersPixels) {
  // The second opens centred over the first and hides it wholly.
  FixtureApp below({"--title", "Below", "--swatch", "00FF00"});
  ASSERT_TRUE(below.ready());
  FixtureApp above({"--title", "Above", "--swatch", "0000FF", "--size", "600x500"});
  ASSERT_TRUE(above.ready());
  Placed hidden = placed(below, "Below", ""), top = placed(above, "Above", "");
  json refused = ask({{"op", "screenshot"}, {"window_number", hidden.number}});
  EXPECT_EQ(refused["ok"], false);
  EXPECT_EQ(refused["error"], "unknown_root");
  EXPECT_TRUE(refused["message"].get<std::string>().starts_with(
      "Window " + std::to_string(hidden.number) + " is not shareable: another window lies over it"))
      << refused;
  json shot = ask({{"op", "screenshot"}, {"window_number", top.number}});
  ASSERT_EQ(shot["ok"], true) << shot;
  fs::remove(shot["path"].get<std::string>());
}

TEST_F(WaylandDesktop, XWaylandWindowsAreListedAndDrivenBesideNativeOnes) {
  FixtureApp native({"--title", "Native Fixture"});
  ::setenv("GDK_BACKEND", "x11", 1);
  FixtureApp x11({"--title", "X11 Fixture", "--app-id", "dev.vorn.XFixture"});
  ::unsetenv("GDK_BACKEND");
  ASSERT_TRUE(native.ready() && x11.ready());
  ASSERT_NE(x11.window("main"), 0u);  // an X11 client indeed

  // sway's socket is found beside its Wayland socket when SWAYSOCK is unset.
  auto listed =
      runProgram(kHelper, {{"--json", R"({"op":"list_windows","limit":100})"}, {}, {"SWAYSOCK"}});
  json answer = json::parse(listed.out, nullptr, false);
  std::map<pid_t, std::vector<json>> byPid;
  for (const auto& w : answer["windows"]) byPid[w["pid"].get<pid_t>()].push_back(w);
  ASSERT_EQ(byPid[native.pid()].size(), 1u) << answer;
  ASSERT_EQ(byPid[x11.pid()].size(), 1u) << answer;
  const json& record = byPid[x11.pid()][0];
  EXPECT_EQ(record["title"], "X11 Fixture");
  EXPECT_EQ(record["app_name"], "VornFixture");
  EXPECT_EQ(record["bundle_id"], "dev.vorn.XFixture");
  EXPECT_EQ(record["window_number"], placed(x11, "X11 Fixture", "").number);

  // Its button's centre, clicked through the compositor: an X11 client's
  // positions are XWayland's root, which is the compositor's layout.
  json click = {{"op", "perform"},     {"action", "click"},
                {"button", "middle"},  {"pid", x11.pid()},
                {"ref", "@e99"},       {"role", "AXButton"},
                {"title", "Press Me"}, {"window_title", "X11 Fixture"}};
  EXPECT_EQ(ask(click)["ok"], true);
  auto down = x11.waitFor(
      [](const json& e) { return isEvent(e, "button-press") && e.value("button", 0) == 2; });
  ASSERT_TRUE(down);
  // Within the window: the fixture's root coordinates may predate sway's
  // placing of the window.
  auto [cx, cy] = x11.centreOf("button");
  auto [ox, oy] = x11.originOf("main");
  Placed now = placed(x11, "X11 Fixture", "");
  EXPECT_NEAR((*down)["x"].get<int>() - now.x, cx - ox, 2) << *down;
  EXPECT_NEAR((*down)["y"].get<int>() - now.y, cy - oy, 2) << *down;
}

}  // namespace
