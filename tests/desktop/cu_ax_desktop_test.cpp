// The accessibility core on a real desktop (scripts/with-desktop): what
// "observe" reads of the fixture application, and what "perform" does to it,
// as the fixture's event log shows.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/desktop/fixture_app.h"
#include "tests/support/program_session.h"

namespace {

using nlohmann::json;
using vorn::testing::FixtureApp;
using vorn::testing::ProgramSession;
using vorn::testing::runProgram;

const std::string kHelper = VORN_COMPUTER_USE;

json ask(const json& request) {
  auto r = runProgram(kHelper, {{"--json", request.dump()}});
  EXPECT_EQ(r.err, "");
  return json::parse(r.out, nullptr, false);
}

// The helper in serve mode: states are held between its requests.
class Server {
 public:
  Server() : session_(kHelper, {{"--serve"}}) {}
  json ask(const json& request) {
    EXPECT_TRUE(session_.write(request.dump() + "\n"));
    auto line = session_.readLine();
    return line ? json::parse(*line, nullptr, false) : json();
  }

 private:
  ProgramSession session_;
};

// An outline as text: one "role title=value" line per node, indented.
void describe(const json& node, int depth, std::string& out) {
  out += std::string(2 * depth, ' ') + node["ref"].get<std::string>() + " " +
         node["role"].get<std::string>();
  if (node["title"].is_string()) out += " '" + node["title"].get<std::string>() + "'";
  if (node["value"].is_string()) {
    std::string value = node["value"];
    out += " =" + value.substr(0, value.find('\n'));
    if (value.find('\n') != std::string::npos) out += "...";
  }
  if (!node["enabled"].get<bool>()) out += " disabled";
  out += "\n";
  for (const auto& child : node["children"]) describe(child, depth + 1, out);
}

// The reference of the first node with `role` and, when given, `title`.
std::string refOf(const json& node, const std::string& role, const std::string& title = "") {
  if (node["role"] == role && (title.empty() || node["title"] == title)) return node["ref"];
  for (const auto& child : node["children"]) {
    if (auto ref = refOf(child, role, title); !ref.empty()) return ref;
  }
  return "";
}

bool isEvent(const json& e, const std::string& name) { return e.value("event", "") == name; }

class AXDesktop : public testing::Test {
 protected:
  void SetUp() override {
    if (!vorn::testing::haveDisplay())
      GTEST_SKIP() << "needs a desktop: run under scripts/with-desktop";
  }
};

TEST_F(AXDesktop, ObserveReadsTheFixtureWindow) {
  FixtureApp app({"--second-window"});
  ASSERT_TRUE(app.ready());
  json answer = ask({{"op", "observe"},
                     {"pid", app.pid()},
                     {"title", "Vorn Fixture"},
                     {"app_name", "VornFixture"},
                     {"window_number", 7}});
  ASSERT_EQ(answer.value("ok", false), true) << answer;
  std::string outline;
  describe(answer["outline"][0], 0, outline);
  // The unnamed boxes, frames, the scrolled window and the colour swatch
  // carry nothing and pass through: their children take their places.
  EXPECT_EQ(outline,
            "@e0 window 'Vorn Fixture'\n"
            "  @e1 AXStaticText 'Name:' =Name:\n"
            "  @e2 AXTextField =\n"
            "  @e3 AXButton 'Press Me'\n"
            "  @e4 AXCheckBox 'Remember me' =0\n"
            "  @e5 AXRadioButton 'Small' =1\n"
            "  @e6 AXRadioButton 'Large' =0\n"
            "  @e7 AXIncrementor =0\n"
            "  @e8 AXComboBox 'Apple'\n"
            "    @e9 AXMenu\n"
            "      @e10 AXMenuItem 'Apple'\n"
            "      @e11 AXMenuItem 'Banana'\n"
            "      @e12 AXMenuItem 'Cherry'\n"
            "  @e13 AXTextArea =Notes...\n"
            "  @e14 AXScrollBar =0\n"
            "  @e15 AXScrollBar =0\n"
            "  @e16 AXList\n"
            "    @e17 AXRow\n"
            "      @e18 AXStaticText 'First' =First\n"
            "    @e19 AXRow\n"
            "      @e20 AXStaticText 'Second' =Second\n"
            "    @e21 AXRow\n"
            "      @e22 AXStaticText 'Third' =Third\n"
            "  @e23 AXStaticText 'Click pad' =Click pad\n")
      << outline;
  EXPECT_EQ(answer["elements"].size(), 24u);
  EXPECT_EQ(answer["window_number"], 7);
  EXPECT_EQ(answer["outline"][0]["description"], "VornFixture");

  // The second window has no title; asked for by a title nothing has, the
  // first window is read.
  json small = ask({{"op", "observe"}, {"pid", app.pid()}, {"title", "Nope"}, {"max_depth", 1}});
  ASSERT_FALSE(small["outline"][0]["children"].empty());
  for (const auto& child : small["outline"][0]["children"]) EXPECT_TRUE(child["children"].empty());
  EXPECT_EQ(small["outline"][0]["title"], "Nope");
}

TEST_F(AXDesktop, ElementActionsReachTheApplication) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  Server helper;
  json seen = helper.ask({{"op", "observe"}, {"pid", app.pid()}});
  ASSERT_EQ(seen.value("ok", false), true) << seen;
  const json& root = seen["outline"][0];
  auto act = [&](json request) {
    request["op"] = "perform";
    request["state_id"] = seen["state_id"];
    json answer = helper.ask(request);
    EXPECT_EQ(answer["ax_in_helper"], true) << answer;
    EXPECT_FALSE(answer.contains("error")) << answer;
    return answer;
  };

  EXPECT_EQ(act({{"action", "press"}, {"ref", refOf(root, "AXButton", "Press Me")}})["ok"], true);
  EXPECT_TRUE(
      app.waitFor([](const json& e) { return isEvent(e, "clicked") && e["widget"] == "button"; }));

  json right = act({{"action", "click"}, {"button", "right"}, {"ref", refOf(root, "AXButton")}});
  auto [cx, cy] = app.centreOf("button");
  auto press = app.waitFor([](const json& e) { return isEvent(e, "button-press"); });
  ASSERT_TRUE(press) << right;
  EXPECT_EQ((*press)["button"], 3);
  EXPECT_NEAR((*press)["x"].get<int>(), cx, 1);
  EXPECT_NEAR((*press)["y"].get<int>(), cy, 1);

  std::string entry = refOf(root, "AXTextField");
  EXPECT_EQ(act({{"action", "focus"}, {"ref", entry}})["ok"], true);
  EXPECT_TRUE(app.waitFor(
      [](const json& e) { return isEvent(e, "widget-focus") && e["widget"] == "entry"; }));
  EXPECT_EQ(act({{"action", "settext"}, {"ref", entry}, {"text", "héllo"}})["ok"], true);
  EXPECT_TRUE(app.waitFor(
      [](const json& e) { return isEvent(e, "text-changed") && e["text"] == "héllo"; }));
  EXPECT_EQ(act({{"action", "typetext"}, {"ref", entry}, {"text", ""}})["ok"], true);
  EXPECT_TRUE(
      app.waitFor([](const json& e) { return isEvent(e, "text-changed") && e["text"] == ""; }));
  // The value read again shows the change.
  json again = helper.ask({{"op", "observe"}, {"pid", app.pid()}, {"max_depth", 2}});
  EXPECT_EQ(again["outline"][0]["children"][1]["value"], "");

  json scrolled = act({{"action", "scroll"}, {"ref", refOf(root, "AXTextArea")}});
  EXPECT_EQ(scrolled["message"], "scroll:AXScrollDownByPage");
  EXPECT_TRUE(app.waitFor([](const json& e) { return isEvent(e, "scroll"); }));
  EXPECT_TRUE(app.waitFor(
      [](const json& e) { return isEvent(e, "scrolled") && e["value"].get<double>() > 0; }));
  // A button cannot scroll, but it can be pressed: scroll's last resort.
  EXPECT_EQ(act({{"action", "scroll"}, {"ref", refOf(root, "AXButton")}})["message"],
            "scroll:AXPress");
  json label = act({{"action", "scroll"}, {"ref", refOf(root, "AXStaticText")}});
  EXPECT_EQ(label["message"], "AX scroll actions unavailable for this element");
}

TEST_F(AXDesktop, OneShotRequestsReattachByRoleTitleAndValue) {
  FixtureApp app({"--second-window"});
  ASSERT_TRUE(app.ready());
  json answer = ask({{"op", "perform"},
                     {"action", "press"},
                     {"ref", "@e5"},
                     {"pid", app.pid()},
                     {"window_title", "Vorn Fixture"},
                     {"role", "AXCheckBox"},
                     {"title", "Remember me"},
                     {"value", "0"}});
  EXPECT_EQ(
      answer,
      (json{{"ok", true}, {"outcome", "worked"}, {"message", nullptr}, {"ax_in_helper", true}}));
  EXPECT_TRUE(
      app.waitFor([](const json& e) { return isEvent(e, "toggled") && e["active"] == true; }));
  // The value it had is gone now: nothing matches any more.
  answer = ask({{"op", "perform"},
                {"action", "press"},
                {"ref", "@e5"},
                {"pid", app.pid()},
                {"role", "AXCheckBox"},
                {"value", "0"}});
  EXPECT_EQ(answer["error"], "unknown_element") << answer;
}

TEST_F(AXDesktop, AClosedDialogAnswersDidntWithAnErrorCode) {
  FixtureApp app({"--dialog"});
  ASSERT_TRUE(app.ready());
  Server helper;
  json seen = helper.ask({{"op", "observe"}, {"pid", app.pid()}, {"title", "Vorn Dialog"}});
  std::string ok = refOf(seen["outline"][0], "AXButton", "OK");
  ASSERT_FALSE(ok.empty()) << seen;
  ::kill(app.pid(), SIGUSR1);
  ASSERT_TRUE(app.waitFor([](const json& e) { return isEvent(e, "dialog-closed"); }));
  json answer = helper.ask(
      {{"op", "perform"}, {"action", "press"}, {"state_id", seen["state_id"]}, {"ref", ok}});
  EXPECT_EQ(answer["ok"], false) << answer;
  EXPECT_EQ(answer["outcome"], "didnt");
  EXPECT_FALSE(answer.contains("error"));
  EXPECT_TRUE(answer["message"].get<std::string>().starts_with("AX press failed (-252")) << answer;
  EXPECT_FALSE(app.waitFor([](const json& e) { return e.value("widget", "") == "dialog-ok"; },
                           std::chrono::milliseconds(300)));
  // The helper goes on serving.
  EXPECT_EQ(helper.ask({{"op", "observe"}, {"pid", app.pid()}})["ok"], true);
}

TEST_F(AXDesktop, AStoppedApplicationGetsAnAnswerNotAHang) {
  FixtureApp app({});
  ASSERT_TRUE(app.ready());
  Server helper;
  json seen = helper.ask({{"op", "observe"}, {"pid", app.pid()}});
  ASSERT_EQ(seen.value("ok", false), true);
  ::kill(app.pid(), SIGSTOP);
  json press = helper.ask({{"op", "perform"},
                           {"action", "press"},
                           {"state_id", seen["state_id"]},
                           {"ref", refOf(seen["outline"][0], "AXButton")}});
  json observed = helper.ask({{"op", "observe"}, {"pid", app.pid()}});
  ::kill(app.pid(), SIGCONT);
  EXPECT_EQ(press["outcome"], "didnt") << press;
  EXPECT_EQ(press["message"], "AX press failed (-25204)");
  EXPECT_EQ(observed["error"], "unknown_root") << observed;
  // Once it runs again, so does everything else.
  EXPECT_EQ(helper.ask({{"op", "observe"}, {"pid", app.pid()}})["ok"], true);
}

}  // namespace
