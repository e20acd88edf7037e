// The helper on a real X display (scripts/with-desktop): what it lists must
// match an independent tool, and the input it posts must reach the fixture
// application, as the fixture's event log shows.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/linux/x11_windows.h"
#include "tests/desktop/fixture_app.h"
#include "tests/support/program_session.h"

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

using nlohmann::json;
using vorn::testing::FixtureApp;
using vorn::testing::ProgramRun;
using vorn::testing::runProgram;

const std::string kHelper = VORN_COMPUTER_USE;

json ask(const json& request) {
  ProgramRun r = runProgram(kHelper, {{"--json", request.dump()}});
  EXPECT_EQ(r.err, "");
  return json::parse(r.out, nullptr, false);
}

void xdotool(const std::vector<std::string>& arguments) {
  ProgramRun r = runProgram("/usr/bin/xdotool", {arguments});
  ASSERT_EQ(r.status, 0) << r.err;
}

std::set<unsigned long> xdotoolSearchPid(pid_t pid) {
  ProgramRun r =
      runProgram("/usr/bin/xdotool", {{"search", "--onlyvisible", "--pid", std::to_string(pid)}});
  std::set<unsigned long> ids;
  std::istringstream lines(r.out);
  for (unsigned long id; lines >> id;) ids.insert(id);
  return ids;
}

// The modifiers a key event carried, of the four the helper can hold.
std::set<std::string> modifiersOf(const json& event) {
  std::set<std::string> held;
  for (const auto& name : event["modifiers"]) {
    std::string n = name.get<std::string>();
    if (n == "shift" || n == "control" || n == "mod1" || n == "mod4") held.insert(n);
  }
  return held;
}

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    if (!vorn::testing::haveDisplay())
      GTEST_SKIP() << "needs a desktop: run under scripts/with-desktop";
  }
};

TEST_F(Desktop, ListedWindowsAreTheOnesXdotoolFindsForEachProcess) {
  FixtureApp app({"--app-id", "dev.vorn.Fixture", "--second-window"});
  FixtureApp plain({"--title", "Plain Fixture"});
  ASSERT_TRUE(app.ready() && plain.ready());

  json answer = ask({{"op", "list_windows"}, {"limit", 1000}});
  ASSERT_EQ(answer.value("ok", false), true) << answer;
  std::map<pid_t, std::set<unsigned long>> listed;
  std::map<unsigned long, json> records;
  for (const auto& w : answer["windows"]) {
    listed[w["pid"].get<pid_t>()].insert(w["window_number"].get<unsigned long>());
    records[w["window_number"].get<unsigned long>()] = w;
  }
  EXPECT_EQ(listed[app.pid()], xdotoolSearchPid(app.pid()));
  EXPECT_EQ(listed[plain.pid()], xdotoolSearchPid(plain.pid()));
  EXPECT_EQ(listed[app.pid()], (std::set{app.window("main"), app.window("second")}));

  const std::string pid = std::to_string(app.pid());
  EXPECT_EQ(records[app.window("main")],
            (json{{"pid", app.pid()},
                  {"window_number", app.window("main")},
                  {"title", "Vorn Fixture"},
                  {"bundle_id", "dev.vorn.Fixture"},
                  {"app_name", "VornFixture"},
                  {"native_key", "pid:" + pid + "|win:" + std::to_string(app.window("main")) +
                                     "|bundle:dev.vorn.Fixture"}}));
  // An empty title falls back to the owner's name.
  EXPECT_EQ(records[app.window("second")]["title"], "VornFixture");
  const json& bare = records[plain.window("main")];
  EXPECT_EQ(bare["title"], "Plain Fixture");
  EXPECT_TRUE(bare["bundle_id"].is_null());
  EXPECT_TRUE(bare["native_key"].get<std::string>().ends_with("|bundle:-"));
}

TEST_F(Desktop, ListingRunsFrontToBack) {
  FixtureApp app({"--second-window"});
  ASSERT_TRUE(app.ready());
  for (const char* role : {"main", "second"}) {
    xdotool({"windowraise", std::to_string(app.window(role))});
    json answer = ask({{"op", "list_windows"}, {"limit", 1}});
    ASSERT_EQ(answer["windows"].size(), 1u) << answer;
    EXPECT_EQ(answer["windows"][0]["window_number"], app.window(role)) << role;
  }
}

TEST_F(Desktop, KeyCombinationsArriveWithTheirModifiersHeld) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  xdotool({"windowfocus", "--sync", std::to_string(app.window("main"))});

  struct Expected {
    const char* key;
    const char* keyname;
    std::set<std::string> modifiers;
  };
  const Expected cases[] = {
      {"cmd+a", "a", {"mod4"}},
      {"shift+z", "Z", {"shift"}},
      {"opt+x", "x", {"mod1"}},
      {"control+c", "c", {"control"}},
      {"CMD+Shift+Z", "Z", {"mod4", "shift"}},
      {"ctrl+alt+shift+meta+v", "V", {"control", "mod1", "shift", "mod4"}},
      // Nothing is left held: a plain key comes alone.
      {"Return", "Return", {}},
      {"esc", "Escape", {}},
  };
  for (const auto& c : cases) {
    json answer = ask({{"op", "keypress"}, {"key", c.key}});
    EXPECT_EQ(answer.value("outcome", ""), "worked") << answer;
    auto press = app.waitFor([&](const json& e) {
      return e.value("event", "") == "key-press" && e.value("keyname", "") == c.keyname;
    });
    ASSERT_TRUE(press) << c.key;
    EXPECT_EQ(modifiersOf(*press), c.modifiers) << c.key;
    EXPECT_TRUE(app.waitFor([&](const json& e) {
      return e.value("event", "") == "key-release" && e.value("keyname", "") == c.keyname;
    })) << c.key;
  }
}

TEST_F(Desktop, ClicksArriveWithEachButtonWhereTheyWereAimed) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  auto [x, y] = app.centreOf("pad");
  const std::pair<const char*, int> buttons[] = {{"left", 1}, {"Middle", 2}, {"right", 3}};
  for (auto [name, number] : buttons) {
    json answer = ask({{"op", "click_xy"}, {"x", x + 0.9}, {"y", y}, {"button", name}});
    EXPECT_EQ(answer.value("outcome", ""), "worked") << answer;
    for (const char* kind : {"button-press", "button-release"}) {
      auto event = app.waitFor([&](const json& e) { return e.value("event", "") == kind; });
      ASSERT_TRUE(event) << name << " " << kind;
      EXPECT_EQ((*event)["button"], number) << name;
      EXPECT_EQ((*event)["x"], x) << name;
      EXPECT_EQ((*event)["y"], y) << name;
    }
  }
  // A left click on the button presses it.
  auto [bx, by] = app.centreOf("button");
  ask({{"op", "click_xy"}, {"x", bx}, {"y", by}});
  EXPECT_TRUE(app.waitFor([](const json& e) { return e.value("event", "") == "clicked"; }));
}

TEST_F(Desktop, ServeModeTypesIntoTheFocusedEntry) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  auto [x, y] = app.centreOf("entry");
  vorn::testing::ProgramSession helper(kHelper, {{"--serve"}});
  ASSERT_TRUE(helper.write(json{{"op", "click_xy"}, {"x", x}, {"y", y}}.dump() + "\n"));
  ASSERT_TRUE(helper.readLine());
  for (const char* key : {"a", "shift+z", "space", "x", "backspace", "c"}) {
    ASSERT_TRUE(helper.write(json{{"op", "keypress"}, {"key", key}}.dump() + "\n"));
    auto line = helper.readLine();
    ASSERT_TRUE(line);
    EXPECT_NE(line->find(R"("ok":true)"), std::string::npos) << *line;
  }
  EXPECT_TRUE(app.waitFor([](const json& e) {
    return e.value("event", "") == "text-changed" && e.value("text", "") == "aZ c";
  })) << json(app.events()).dump();
  EXPECT_EQ(helper.finish().status, 0);
}

// In-process: the X backend's activation without a window manager.
TEST_F(Desktop, ActivationRaisesAndFocusesTheFrontWindow) {
  FixtureApp app({"--second-window"});
  ASSERT_TRUE(app.ready());
  xdotool({"windowraise", std::to_string(app.window("main"))});
  xdotool({"windowfocus", "--sync", std::to_string(app.window("second"))});
  ASSERT_TRUE(app.waitFor([](const json& e) {
    return e.value("event", "") == "focus-in" && e.value("window", "") == "second";
  }));
  vorn::platform::x11::Connection connection;
  vorn::platform::x11::Desktop desktop(connection);
  EXPECT_TRUE(desktop.activate(app.pid()));
  EXPECT_TRUE(app.waitFor([](const json& e) {
    return e.value("event", "") == "focus-in" && e.value("window", "") == "main";
  }));
  EXPECT_FALSE(desktop.activate(std::numeric_limits<std::int32_t>::max()));
}

// A request about a window that is gone meets a protocol error; the
// process carries on and the connection stays usable.
TEST_F(Desktop, AVanishedWindowIsAnAbsentAnswer) {
  vorn::platform::x11::Connection connection;
  auto lease = connection.lease();
  ASSERT_TRUE(lease);
  Display* display = lease->display();
  Window gone = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
  XDestroyWindow(display, gone);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  EXPECT_NE(XGetWindowProperty(display, gone, XA_WM_NAME, 0, 16, False, AnyPropertyType, &type,
                               &format, &count, &remaining, &data),
            Success);
  XWindowAttributes attributes;
  EXPECT_EQ(XGetWindowAttributes(display, gone, &attributes), 0);
  EXPECT_FALSE(lease->broken());
  EXPECT_NE(XSync(display, False), 0);
}

// Windows made here with the properties under test, described by the X
// backend in process.
class OwnWindows : public Desktop {
 protected:
  void SetUp() override {
    Desktop::SetUp();
    if (IsSkipped()) return;
    auto lease = connection_.lease();
    ASSERT_TRUE(lease);
    lease_.emplace(std::move(*lease));
    display_ = lease_->display();
  }
  void TearDown() override {
    if (!display_) return;
    for (Window w : made_) XDestroyWindow(display_, w);
    XSync(display_, False);
  }

  Window make(bool overrideRedirect = false) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = overrideRedirect ? True : False;
    Window w =
        XCreateWindow(display_, DefaultRootWindow(display_), 10, 10, 50, 50, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    made_.push_back(w);
    return w;
  }
  void setBytes(Window w, const char* property, const char* type, std::string_view bytes) {
    XChangeProperty(display_, w, XInternAtom(display_, property, False),
                    XInternAtom(display_, type, False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<int>(bytes.size()));
  }
  void setCardinal(Window w, const char* property, const char* type, unsigned long value) {
    XChangeProperty(display_, w, XInternAtom(display_, property, False),
                    XInternAtom(display_, type, False), 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&value), 1);
  }
  void setPid(Window w, unsigned long pid) { setCardinal(w, "_NET_WM_PID", "CARDINAL", pid); }
  // Maps the windows and describes the screen through a second connection,
  // as the helper would.
  std::map<unsigned long, vorn::platform::WindowDescription> describeAll() {
    for (Window w : made_) XMapWindow(display_, w);
    XSync(display_, False);
    vorn::platform::x11::Connection helperConnection;
    vorn::platform::x11::Desktop desktop(helperConnection);
    std::map<unsigned long, vorn::platform::WindowDescription> found;
    auto windows = desktop.onScreenWindows();
    EXPECT_TRUE(windows);
    for (const auto& w : windows.value_or(std::vector<vorn::platform::WindowDescription>{})) {
      found[static_cast<unsigned long>(w.windowNumber.value_or(0))] = w;
    }
    return found;
  }

  vorn::platform::x11::Connection connection_;
  std::optional<vorn::platform::x11::Connection::Lease> lease_;
  Display* display_ = nullptr;
  std::vector<Window> made_;
};

TEST_F(OwnWindows, TitlesAndClassesBecomeUtf8WhateverTheirEncoding) {
  Window latin1 = make();
  setPid(latin1, static_cast<unsigned long>(::getpid()));
  setBytes(latin1, "WM_NAME", "STRING", "caf\xe9");
  setBytes(latin1, "WM_CLASS", "STRING", std::string_view("tool\0Caf\xe9\0", 10));
  Window utf8 = make();
  setPid(utf8, static_cast<unsigned long>(::getpid()));
  setBytes(utf8, "_NET_WM_NAME", "UTF8_STRING", "na\xc3\xafve \xff");
  setBytes(utf8, "WM_NAME", "STRING", "ignored");

  auto found = describeAll();
  ASSERT_TRUE(found.count(latin1) && found.count(utf8));
  EXPECT_EQ(found[latin1].windowName, "caf\xc3\xa9");
  EXPECT_EQ(found[latin1].ownerName, "Caf\xc3\xa9");
  EXPECT_EQ(found[latin1].ownerPid, ::getpid());
  EXPECT_EQ(found[latin1].layer, 0);
  // Bytes that are not UTF-8 in a UTF-8 property become U+FFFD.
  EXPECT_EQ(found[utf8].windowName, "na\xc3\xafve \xef\xbf\xbd");
  // Without WM_CLASS the owner is named by its process.
  EXPECT_TRUE(found[utf8].ownerName.has_value());
}

TEST_F(OwnWindows, PopUpsDocksAndDesktopsAreNotOrdinaryWindows) {
  Window popup = make(/*overrideRedirect=*/true);
  Window dock = make();
  setCardinal(dock, "_NET_WM_WINDOW_TYPE", "ATOM",
              XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False));
  Window dialog = make();
  setCardinal(dialog, "_NET_WM_WINDOW_TYPE", "ATOM",
              XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DIALOG", False));
  Window desktop = make();
  setCardinal(desktop, "_NET_WM_WINDOW_TYPE", "ATOM",
              XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DESKTOP", False));
  Window hidden = make();
  setCardinal(hidden, "_NET_WM_STATE", "ATOM",
              XInternAtom(display_, "_NET_WM_STATE_HIDDEN", False));
  Window bogusPid = make();
  setPid(bogusPid, 0xFFFFFFFFul);
  Window unmapped = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 5, 5, 0, 0, 0);

  auto found = describeAll();
  XDestroyWindow(display_, unmapped);
  EXPECT_NE(found.at(popup).layer, 0);
  EXPECT_NE(found.at(dock).layer, 0);
  EXPECT_EQ(found.at(dialog).layer, 0);
  EXPECT_FALSE(found.count(desktop));
  EXPECT_FALSE(found.count(hidden));
  EXPECT_FALSE(found.count(unmapped));
  EXPECT_FALSE(found.at(bogusPid).ownerPid.has_value());
}

// Keysyms that the keymap lacks get a spare keycode of their own.
TEST_F(Desktop, AKeyMissingFromTheKeymapIsBoundToASpareKeycode) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  xdotool({"windowfocus", "--sync", std::to_string(app.window("main"))});

  vorn::platform::x11::Connection connection;
  auto lease = connection.lease();
  ASSERT_TRUE(lease);
  Display* display = lease->display();
  KeyCode original = XKeysymToKeycode(display, XStringToKeysym("v"));
  ASSERT_NE(original, 0);
  int perKeycode = 0;
  KeySym* saved = XGetKeyboardMapping(display, original, 1, &perKeycode);
  std::vector<KeySym> row(saved, saved + perKeycode), empty(perKeycode, NoSymbol);
  XFree(saved);
  XChangeKeyboardMapping(display, original, perKeycode, empty.data(), 1);
  XSync(display, False);

  json answer = ask({{"op", "keypress"}, {"key", "v"}});
  XChangeKeyboardMapping(display, original, perKeycode, row.data(), 1);
  XSync(display, False);
  EXPECT_EQ(answer.value("outcome", ""), "worked") << answer;
  auto press = app.waitFor([](const json& e) { return e.value("event", "") == "key-press"; });
  ASSERT_TRUE(press);
  EXPECT_EQ((*press)["keyname"], "v");
  EXPECT_NE((*press)["keycode"], original);
}

}  // namespace
