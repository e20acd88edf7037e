// The accessibility core against a scripted element tree: numbering and
// limits of "observe", the state tables, window choice, and "perform" with
// held and re-attached elements, checked in the answers and in the calls the
// core made.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "computer-use/accessibility/ax_core.h"
#include "computer-use/protocol/json_text.h"
#include "computer-use/protocol/requests.h"
#include "tests/unit/fake_platform.h"

namespace {

using ComputerUseHelperMain::Dictionary;
using vorn::platform::AXPoint;
using vorn::platform::AXSize;
using vorn::platform::kAXErrorInvalidUIElement;
using vorn::platform::kAXErrorSuccess;
using vorn::platform::MouseButton;
using vorn::platform::MouseEvent;
using vorn::platform::MouseEventType;
using vorn::testing::FakeNode;
using vorn::testing::fakeNode;
using vorn::testing::FakePlatform;
using vorn::testing::withChildren;

constexpr std::int32_t kPid = 4242;

std::set<std::string> keysOf(const Dictionary& d) {
  std::set<std::string> keys;
  for (const auto& [key, _] : d.items()) keys.insert(key);
  return keys;
}

// The references of an outline, depth-first, as "ref(children...)".
std::string shape(const Dictionary& node) {
  std::string text = node["ref"].get<std::string>();
  if (node["children"].empty()) return text;
  text += "(";
  for (const auto& child : node["children"]) text += shape(child) + " ";
  text.back() = ')';
  return text;
}

std::vector<FakeNode> leaves(const std::string& prefix, int count) {
  std::vector<FakeNode> nodes;
  for (int i = 0; i < count; ++i) {
    nodes.push_back(fakeNode(prefix + std::to_string(i), "AXStaticText"));
  }
  return nodes;
}

class AXCoreTest : public testing::Test {
 protected:
  void SetUp() override {
    okButton = fakeNode("ok", "AXButton", "OK");
    okButton->actions["AXPress"] = kAXErrorSuccess;
    entry = fakeNode("entry", "AXTextField");
    entry->attributes["AXValue"] = std::string("hi");
    entry->settable["AXValue"] = kAXErrorSuccess;
    entry->settable["AXFocused"] = kAXErrorSuccess;
    check = fakeNode("check", "AXCheckBox", "Remember");
    check->attributes["AXValue"] = 1.0;
    group = withChildren(fakeNode("group", "AXGroup"), {okButton, entry, check});
    cancel = fakeNode("cancel", "AXButton", "Cancel");
    cancel->actions["AXPress"] = kAXErrorSuccess;
    main = withChildren(fakeNode("main", "AXWindow", "Main"), {group, cancel});
    other = withChildren(fakeNode("other", "AXWindow", "Other"), {fakeNode("x", "AXButton")});
    app = fakeNode("app", "AXApplication");
    app->attributes["AXWindows"] = vorn::testing::elements({main, other});
    fake.accessibility.applications[kPid] = app;
  }

  Dictionary observe(Dictionary request) {
    if (!request.contains("pid")) request["pid"] = kPid;
    request["op"] = "observe";
    return ComputerUseHelperMain::handle(request, fake.platform());
  }
  Dictionary perform(Dictionary request) {
    request["op"] = "perform";
    return ComputerUseHelperMain::handle(request, fake.platform());
  }

  std::vector<std::string> calls(const std::string& prefix) {
    return fake.accessibility.callsStartingWith(prefix);
  }

  FakePlatform fake;
  FakeNode app, main, other, group, okButton, entry, check, cancel;
};

// ---- observe ----

TEST_F(AXCoreTest, ReferencesRunDepthFirstInPreOrderAndEveryNodeIsListedComplete) {
  Dictionary answer = observe({{"title", "Main"}, {"app_name", "Editor"}});
  ASSERT_EQ(answer["ok"], true) << answer;
  EXPECT_EQ(keysOf(answer),
            (std::set<std::string>{"ok", "state_id", "pid", "bundle_id", "window_number",
                                   "native_key", "title", "outline", "elements", "ax_in_helper"}));
  ASSERT_EQ(answer["outline"].size(), 1u);
  const Dictionary& root = answer["outline"][0];
  EXPECT_EQ(shape(root), "@e0(@e1(@e2 @e3 @e4) @e5)");
  EXPECT_EQ(root, (Dictionary{{"ref", "@e0"},
                              {"role", "window"},
                              {"title", "Main"},
                              {"value", nullptr},
                              {"description", "Editor"},
                              {"enabled", true},
                              {"children", root["children"]}}));
  const Dictionary& ok = root["children"][0]["children"][0];
  EXPECT_EQ(ok, (Dictionary{{"ref", "@e2"},
                            {"role", "AXButton"},
                            {"title", "OK"},
                            {"value", nullptr},
                            {"description", nullptr},
                            {"enabled", true},
                            {"children", Dictionary::array()}}));
  // "elements": the root and every node, each with its whole subtree.
  std::map<std::string, Dictionary> byRef;
  for (const auto& node : answer["elements"]) {
    EXPECT_EQ(keysOf(node).size(), 7u);
    byRef[node["ref"]] = node;
  }
  EXPECT_EQ(byRef.size(), 6u);
  EXPECT_EQ(byRef["@e0"], root);
  EXPECT_EQ(byRef["@e1"], root["children"][0]);
  EXPECT_EQ(shape(byRef["@e1"]), "@e1(@e2 @e3 @e4)");
  // The state id: "S-" and eight uppercase hexadecimal digits.
  std::string id = answer["state_id"];
  EXPECT_TRUE(id.size() == 10 && id.starts_with("S-") &&
              id.find_first_not_of("0123456789ABCDEF", 2) == std::string::npos)
      << id;
  EXPECT_EQ(answer["pid"], kPid);
  EXPECT_EQ(calls("prefetch"), (std::vector<std::string>{"prefetch main 4 180"}));
}

TEST_F(AXCoreTest, NodeValuesAreTextAndUnreadableAttributesTakeTheirDefaults) {
  check->attributes["AXEnabled"] = 0.0;
  entry->attributes["AXEnabled"] = std::string("no");  // neither boolean nor number
  okButton->attributes["AXEnabled"] = false;
  okButton->attributes["AXDescription"] = std::string("Confirms");
  group->attributes.erase("AXRole");
  auto spin = fakeNode("spin", "AXIncrementor");
  spin->attributes["AXValue"] = 2.5;
  cancel->attributes["AXChildren"] = vorn::testing::elements({spin});
  Dictionary answer = observe({});
  const Dictionary& root = answer["outline"][0];
  const Dictionary& g = root["children"][0];
  EXPECT_EQ(g["role"], "unknown");
  EXPECT_EQ(g["title"], nullptr);
  EXPECT_EQ(g["children"][0]["enabled"], false);
  EXPECT_EQ(g["children"][0]["description"], "Confirms");
  EXPECT_EQ(g["children"][1]["value"], "hi");
  EXPECT_EQ(g["children"][1]["enabled"], true);
  EXPECT_EQ(g["children"][2]["value"], "1");
  EXPECT_EQ(g["children"][2]["enabled"], false);
  EXPECT_EQ(root["children"][1]["children"][0]["value"], "2.5");
  // Without "title" and "app_name" the root shows empty strings.
  EXPECT_EQ(root["title"], "");
  EXPECT_EQ(root["description"], "");
}

TEST_F(AXCoreTest, LimitsCutTheWalkWithOneBudgetSharedByAllBranches) {
  struct Case {
    Dictionary limits;
    std::string shape;
  } cases[] = {
      {{{"max_depth", 0}}, "@e0"},
      {{{"max_nodes", 0}}, "@e0"},
      {{{"max_depth", -3}}, "@e0"},
      {{{"max_nodes", 1}}, "@e0(@e1)"},
      {{{"max_nodes", 4}}, "@e0(@e1(@e2 @e3 @e4))"},
      {{{"max_depth", 1}}, "@e0(@e1 @e2)"},
      {{{"max_depth", 2.0}, {"max_nodes", 5}}, "@e0(@e1(@e2 @e3 @e4) @e5)"},
      // Wrong types mean the defaults.
      {{{"max_depth", "1"}, {"max_nodes", 2.5}}, "@e0(@e1(@e2 @e3 @e4) @e5)"},
      {{{"max_depth", true}, {"max_nodes", nullptr}}, "@e0(@e1(@e2 @e3 @e4) @e5)"},
  };
  for (const auto& c : cases) {
    Dictionary answer = observe(c.limits);
    EXPECT_EQ(shape(answer["outline"][0]), c.shape) << c.limits;
    EXPECT_EQ(answer["elements"].size(),
              static_cast<std::size_t>(std::count(c.shape.begin(), c.shape.end(), '@')));
  }
  // With one node, the first child's own children are never read.
  fake.accessibility.calls.clear();
  observe({{"max_nodes", 1}});
  EXPECT_TRUE(calls("copy group AXChildren").empty());
  EXPECT_EQ(calls("copy main AXChildren").size(), 1u);
}

TEST_F(AXCoreTest, TheDefaultBudgetOf180IsUsedUpByEarlyBranches) {
  auto big = withChildren(fakeNode("big", "AXGroup"), leaves("a", 200));
  auto late = fakeNode("late", "AXButton", "Late");
  main->attributes["AXChildren"] = vorn::testing::elements({big, late});
  Dictionary answer = observe({});
  const Dictionary& root = answer["outline"][0];
  ASSERT_EQ(root["children"].size(), 1u);  // "late" got no number
  EXPECT_EQ(root["children"][0]["children"].size(), 179u);
  EXPECT_EQ(answer["elements"].size(), 181u);
  EXPECT_TRUE(calls("copy late").empty());
  // Depth 4 by default: the fifth level is never read.
  auto deep = fakeNode("d5", "AXGroup");
  for (int level = 4; level >= 1; --level) {
    deep = withChildren(fakeNode("d" + std::to_string(level), "AXGroup"), {deep});
  }
  main->attributes["AXChildren"] = vorn::testing::elements({deep});
  EXPECT_EQ(shape(observe({})["outline"][0]), "@e0(@e1(@e2(@e3(@e4))))");
}

// Toolkits nest content in containers that carry nothing: they give up
// their place (no reference, no level) to their children.
TEST_F(AXCoreTest, ContainersThatPassThroughTakeNoReferenceAndNoLevel) {
  auto inner = withChildren(fakeNode("inner", "AXGroup"), {okButton, entry});
  inner->passThrough = true;
  auto outer = withChildren(fakeNode("outer", "AXGroup"), {inner, check});
  outer->passThrough = true;
  main->attributes["AXChildren"] = vorn::testing::elements({outer, cancel});
  Dictionary answer = observe({{"max_depth", 1}});
  EXPECT_EQ(shape(answer["outline"][0]), "@e0(@e1 @e2 @e3 @e4)");
  EXPECT_EQ(answer["outline"][0]["children"][0]["title"], "OK");
  EXPECT_EQ(answer["elements"].size(), 5u);
  // The node budget counts referenced elements only.
  EXPECT_EQ(shape(observe({{"max_nodes", 2}})["outline"][0]), "@e0(@e1 @e2)");
  // A held reference is a real element, and re-attachment finds it.
  std::string id = answer["state_id"];
  EXPECT_EQ(perform({{"action", "press"}, {"state_id", id}, {"ref", "@e1"}})["ok"], true);
  EXPECT_EQ(calls("perform"), (std::vector<std::string>{"perform ok AXPress"}));
}

TEST_F(AXCoreTest, PassingThroughIsBoundedInNestingAndInCount) {
  // 40 containers in a row: the 33rd is shown, and the walk goes on below it.
  FakeNode chain = fakeNode("leaf", "AXButton");
  for (int i = 40; i >= 1; --i) {
    chain = withChildren(fakeNode("c" + std::to_string(i), "AXGroup"), {chain});
    chain->passThrough = true;
  }
  main->attributes["AXChildren"] = vorn::testing::elements({chain});
  Dictionary answer = observe({});
  EXPECT_EQ(shape(answer["outline"][0]), "@e0(@e1(@e2))");
  EXPECT_EQ(answer["outline"][0]["children"][0]["role"], "AXGroup");
  EXPECT_EQ(answer["outline"][0]["children"][0]["children"][0]["role"], "AXButton");
  // Beyond max_nodes + 256 containers in one walk, the rest are elements.
  std::vector<FakeNode> many;
  for (int i = 0; i < 300; ++i) {
    many.push_back(withChildren(fakeNode("g" + std::to_string(i), "AXGroup"), {}));
    many.back()->passThrough = true;
  }
  main->attributes["AXChildren"] = vorn::testing::elements(many);
  answer = observe({{"max_nodes", 10}});
  EXPECT_EQ(answer["elements"].size(), 11u);
  EXPECT_EQ(answer["outline"][0]["children"][0]["role"], "AXGroup");
}

TEST_F(AXCoreTest, TheWindowIsChosenByTitleElseTheFirstElseAWindowAmongTheChildren) {
  // Canonically equivalent titles match: "Café" composed and decomposed.
  other->attributes["AXTitle"] = std::string("Caf\u00e9");
  fake.accessibility.calls.clear();
  Dictionary answer = observe({{"title", "Cafe\u0301"}});
  EXPECT_EQ(calls("prefetch"), (std::vector<std::string>{"prefetch other 4 180"}));
  EXPECT_EQ(answer["outline"][0]["title"], "Cafe\u0301");
  // No match: the first window, under the title asked for.
  fake.accessibility.calls.clear();
  answer = observe({{"title", "caf\u00e9"}});
  EXPECT_EQ(calls("prefetch"), (std::vector<std::string>{"prefetch main 4 180"}));
  EXPECT_EQ(answer["title"], "caf\u00e9");
  // No "AXWindows": the first child whose role is AXWindow.
  app->attributes["AXWindows"] = std::vector<AXCore::AXElement>{};
  app->attributes["AXChildren"] = vorn::testing::elements({fakeNode("menu", "AXMenuBar"), other});
  fake.accessibility.calls.clear();
  EXPECT_EQ(observe({})["ok"], true);
  EXPECT_EQ(calls("prefetch"), (std::vector<std::string>{"prefetch other 4 180"}));
}

TEST_F(AXCoreTest, ObserveFailuresComeInOrderWithThreeKeysAndStoreNothing) {
  std::size_t states = AXCore::tables().maps.size();
  fake.accessibility.trusted = false;
  for (Dictionary pid : {Dictionary(nullptr), Dictionary(0), Dictionary(-5), Dictionary("42"),
                         Dictionary(0.5), Dictionary(4294967296.0 + kPid), Dictionary(false)}) {
    Dictionary request = {{"op", "observe"}, {"pid", pid}};
    EXPECT_EQ(
        ComputerUseHelperMain::handle(request, fake.platform()),
        (Dictionary{{"ok", false}, {"error", "invalid_arguments"}, {"message", "pid is required"}}))
        << pid;
  }
  EXPECT_EQ(observe({}),
            (Dictionary{{"ok", false},
                        {"error", "permission_required"},
                        {"message", "Accessibility is required in the helper process."}}));
  fake.accessibility.trusted = true;
  EXPECT_EQ(
      observe({{"pid", 777}}),
      (Dictionary{{"ok", false}, {"error", "unknown_root"}, {"message", "Window not found"}}));
  EXPECT_EQ(AXCore::tables().maps.size(), states);
  // A fractional pid is truncated.
  EXPECT_EQ(observe({{"pid", kPid + 0.9}})["pid"], kPid);
}

TEST_F(AXCoreTest, CallerValuesComeBackAsSentAndNullWhenNotSent) {
  Dictionary sent = {
      {"bundle_id", "dev.vorn.Editor"}, {"window_number", 77}, {"native_key", {{"any", "value"}}}};
  Dictionary answer = observe(sent);
  for (const char* key : {"bundle_id", "window_number", "native_key"}) {
    EXPECT_EQ(answer[key], sent[key]) << key;
    EXPECT_EQ(observe({})[key], nullptr) << key;
  }
  auto& t = AXCore::tables();
  std::lock_guard<std::mutex> guard(t.lock);
  // The values are kept as the caller sent them, in their JSON text.
  EXPECT_EQ(t.meta[answer["state_id"]],
            (AXCore::StateMeta{kPid, "", {R"("dev.vorn.Editor")", "77", R"({"any":"value"})"}}));
}

TEST_F(AXCoreTest, TheSeventeenthObservationEvictsTheOldestState) {
  std::vector<std::string> ids;
  for (int i = 0; i < 17; ++i) ids.push_back(observe({})["state_id"]);
  auto& t = AXCore::tables();
  {
    std::lock_guard<std::mutex> guard(t.lock);
    EXPECT_EQ(t.maps.size(), 16u);
    EXPECT_EQ(t.meta.size(), 16u);
    EXPECT_FALSE(t.maps.contains(ids[0]) || t.meta.contains(ids[0]));
    for (int i = 1; i < 17; ++i) EXPECT_TRUE(t.maps.contains(ids[i]) && t.meta.contains(ids[i]));
    EXPECT_EQ(t.maps[ids[16]].size(), 6u);  // "@e0" and one entry per node
  }
  // The evicted state's reference re-attaches; the newest is still held.
  fake.accessibility.calls.clear();
  perform({{"action", "press"}, {"state_id", ids[16]}, {"ref", "@e5"}});
  EXPECT_TRUE(calls("app").empty());
  perform({{"action", "press"},
           {"state_id", ids[0]},
           {"ref", "@e5"},
           {"pid", kPid},
           {"title", "Cancel"}});
  EXPECT_EQ(calls("app").size(), 1u);
  EXPECT_EQ(calls("perform cancel AXPress").size(), 2u);
}

TEST_F(AXCoreTest, StoringAnIdentifierAgainReplacesItAndMakesItTheNewest) {
  AXCore::storeState("S-REPLACED", {}, {1, "a"});
  for (int i = 0; i < 15; ++i) observe({});
  AXCore::storeState("S-REPLACED", {}, {2, "b"});
  observe({});
  auto& t = AXCore::tables();
  std::lock_guard<std::mutex> guard(t.lock);
  ASSERT_TRUE(t.meta.contains("S-REPLACED"));
  EXPECT_EQ(t.meta["S-REPLACED"].pid, 2);
  EXPECT_EQ(t.maps.size(), 16u);
}

// ---- perform ----

TEST_F(AXCoreTest, AHeldElementIsUsedAsItIsWithoutReattachment) {
  std::string id = observe({{"title", "Main"}})["state_id"];
  fake.accessibility.calls.clear();
  EXPECT_EQ(
      perform({{"action", "PRESS"}, {"button", "Left"}, {"state_id", id}, {"ref", "@e2"}}),
      (Dictionary{
          {"ok", true}, {"outcome", "worked"}, {"message", nullptr}, {"ax_in_helper", true}}));
  EXPECT_EQ(fake.accessibility.calls, (std::vector<std::string>{"perform ok AXPress"}));
  // The application closed it since: the action fails with its error code,
  // and nothing is re-attached even though the hints would find a match.
  okButton->defunct = true;
  EXPECT_EQ(perform({{"action", "press"},
                     {"state_id", id},
                     {"ref", "@e2"},
                     {"role", "AXButton"},
                     {"pid", kPid}}),
            (Dictionary{{"ok", false},
                        {"outcome", "didnt"},
                        {"message", "AX press failed (-25202)"},
                        {"ax_in_helper", true}}));
  EXPECT_TRUE(calls("app").empty());
}

TEST_F(AXCoreTest, ReattachmentSearchesTheLiveTreeEveryTimeAndStoresNothing) {
  std::size_t states = AXCore::tables().maps.size();
  Dictionary request = {{"action", "press"}, {"state_id", "S-GONE0000"}, {"ref", "@e9"},
                        {"pid", kPid},       {"window_title", "Main"},   {"role", "AXButton"},
                        {"title", "Cancel"}};
  for (int i = 0; i < 2; ++i) EXPECT_EQ(perform(request)["ok"], true);
  EXPECT_EQ(calls("app"), (std::vector<std::string>{"app 4242", "app 4242"}));
  EXPECT_EQ(calls("perform"),
            (std::vector<std::string>{"perform cancel AXPress", "perform cancel AXPress"}));
  EXPECT_EQ(calls("prefetch"),
            (std::vector<std::string>{"prefetch main 64 5000", "prefetch main 64 5000"}));
  EXPECT_EQ(AXCore::tables().maps.size(), states);

  // Without hints the window itself matches.
  main->actions["AXPress"] = kAXErrorSuccess;
  fake.accessibility.calls.clear();
  perform({{"action", "press"}, {"ref", "@e1"}, {"pid", kPid}});
  EXPECT_EQ(calls("perform"), (std::vector<std::string>{"perform main AXPress"}));

  // The value hint is compared too; "window_title" picks the window.
  auto answer = perform({{"action", "press"}, {"ref", "@e3"}, {"pid", kPid}, {"value", "nope"}});
  EXPECT_EQ(answer, (Dictionary{{"ok", false},
                                {"error", "unknown_element"},
                                {"message", "Element @e3 could not be reattached."}}));
  EXPECT_EQ(perform({{"action", "press"}, {"ref", "@e3"}, {"window_title", "Main"}})["message"],
            "Element @e3 could not be reattached.");  // no pid at all
}

TEST_F(AXCoreTest, AHeldStateGivesItsPidAndTitleEvenWhenTheReferenceIsNotHeld) {
  std::string id = observe({{"title", "Other"}})["state_id"];
  fake.accessibility.calls.clear();
  // The request's pid and window title are not consulted for a held state.
  perform({{"action", "press"},
           {"state_id", id},
           {"ref", "@e77"},
           {"pid", 1},
           {"window_title", "Main"},
           {"role", "AXButton"}});
  EXPECT_EQ(calls("app"), (std::vector<std::string>{"app 4242"}));
  EXPECT_EQ(calls("prefetch"), (std::vector<std::string>{"prefetch other 64 5000"}));
}

TEST_F(AXCoreTest, FindMatchingIsPreOrderAndStopsOnCyclesAndHugeTrees) {
  auto session = fake.accessibility.openSession();
  // Two "OK" buttons: the one inside the first group comes before the later
  // sibling of that group.
  auto later = fakeNode("later", "AXButton", "OK");
  main->attributes["AXChildren"] = vorn::testing::elements({group, later});
  auto found = AXCore::findMatching(*session, main, "AXButton", "OK", std::nullopt);
  EXPECT_EQ(found, okButton);
  EXPECT_EQ(AXCore::findMatching(*session, main, "", std::nullopt, "1"), check);
  EXPECT_EQ(AXCore::findMatching(*session, main, "AXButton", "O\u030a", std::nullopt), nullptr);

  // A tree that contains itself ends the search instead of the process.
  auto loop = fakeNode("loop", "AXGroup");
  loop->attributes["AXChildren"] = vorn::testing::elements({loop, loop});
  EXPECT_EQ(AXCore::findMatching(*session, loop, "AXButton", std::nullopt, std::nullopt), nullptr);
  EXPECT_LE(fake.accessibility.callsStartingWith("copy loop AXRole").size(),
            static_cast<std::size_t>(AXCore::kFindMatchingBudget));
  loop->attributes.clear();  // break the cycle for the leak checker

  // A match beyond the node budget is not found.
  auto wide = withChildren(fakeNode("wide", "AXGroup"), leaves("w", AXCore::kFindMatchingBudget));
  auto last = fakeNode("last", "AXButton", "Far");
  auto leavesAndLast = std::get<std::vector<AXCore::AXElement>>(wide->attributes["AXChildren"]);
  leavesAndLast.push_back(last);
  wide->attributes["AXChildren"] = leavesAndLast;
  EXPECT_EQ(AXCore::findMatching(*session, wide, "AXButton", "Far", std::nullopt), nullptr);
}

TEST_F(AXCoreTest, OtherButtonsClickTheCentreAndFallBackToPress) {
  okButton->attributes["AXPosition"] = AXPoint{100, 50};
  okButton->attributes["AXSize"] = AXSize{41, 20};
  std::string id = observe({})["state_id"];
  Dictionary answer =
      perform({{"action", "click"}, {"button", "Right"}, {"state_id", id}, {"ref", "@e2"}});
  EXPECT_EQ(answer, (Dictionary{{"ok", true},
                                {"outcome", "worked"},
                                {"message", "click_xy:right:120,60"},
                                {"ax_in_helper", true}}));
  ASSERT_EQ(fake.posted.size(), 1u);
  EXPECT_EQ(std::get<MouseEvent>(fake.posted[0][1]),
            (MouseEvent{MouseEventType::kRightMouseDown, 120.5, 60, MouseButton::kRight, 1}));
  // An unknown button name is a left click at the centre, through events.
  perform({{"action", "press"}, {"button", "double"}, {"state_id", id}, {"ref", "@e2"}});
  EXPECT_EQ(std::get<MouseEvent>(fake.posted[1][1]).type, MouseEventType::kLeftMouseDown);
  EXPECT_TRUE(calls("perform").empty());
  // Without a size there is no centre: the element is pressed.
  okButton->attributes["AXSize"] = std::string("big");
  EXPECT_EQ(
      perform(
          {{"action", "press"}, {"button", "middle"}, {"state_id", id}, {"ref", "@e2"}})["message"],
      nullptr);
  EXPECT_EQ(calls("perform"), (std::vector<std::string>{"perform ok AXPress"}));
  // No usable extents on the screen: pressed too, nothing clicked.
  fake.screen = vorn::platform::ScreenArea{0, 0, 1280, 1024};
  for (auto [position, size] : {std::pair{AXPoint{-2147483648.0, -2147483648.0}, AXSize{1, 1}},
                                {AXPoint{100, 50}, AXSize{0, 20}},
                                {AXPoint{1270, 50}, AXSize{41, 20}}}) {
    okButton->attributes["AXPosition"] = position;
    okButton->attributes["AXSize"] = size;
    fake.accessibility.calls.clear();
    perform({{"action", "press"}, {"button", "right"}, {"state_id", id}, {"ref", "@e2"}});
    EXPECT_EQ(calls("perform"), (std::vector<std::string>{"perform ok AXPress"}));
  }
  EXPECT_EQ(fake.posted.size(), 2u);
  fake.screen.reset();
  // A refused centre click answers with the event layer's words.
  okButton->attributes["AXSize"] = AXSize{2, 2};
  fake.inputTrusted = false;
  EXPECT_EQ(perform({{"action", "press"}, {"button", "right"}, {"state_id", id}, {"ref", "@e2"}}),
            (Dictionary{{"ok", false},
                        {"outcome", "didnt"},
                        {"message", "Accessibility is required in the helper process."},
                        {"ax_in_helper", true}}));
}

TEST_F(AXCoreTest, FocusTextAndScrollActions) {
  std::string id = observe({})["state_id"];
  auto act = [&](Dictionary request) {
    request["state_id"] = id;
    return perform(request);
  };
  const Dictionary worked = {
      {"ok", true}, {"outcome", "worked"}, {"message", nullptr}, {"ax_in_helper", true}};
  EXPECT_EQ(act({{"action", "focus"}, {"ref", "@e3"}}), worked);
  EXPECT_EQ(entry->attributes["AXFocused"], vorn::platform::AXValue(true));
  EXPECT_EQ(act({{"action", "settext"}, {"ref", "@e3"}, {"text", "new"}}), worked);
  EXPECT_EQ(entry->attributes["AXValue"], vorn::platform::AXValue(std::string("new")));
  EXPECT_EQ(act({{"action", "TypeText"}, {"ref", "@e3"}, {"text", ""}}), worked);
  EXPECT_EQ(entry->attributes["AXValue"], vorn::platform::AXValue(std::string()));
  EXPECT_EQ(
      act({{"action", "settext"}, {"ref", "@e3"}, {"text", 5}}),
      (Dictionary{{"ok", false}, {"error", "invalid_arguments"}, {"message", "text is required"}}));
  // A reference that cannot be resolved is reported before a missing text;
  // one that re-attaches to the window without hints is not.
  EXPECT_EQ(perform({{"action", "settext"}, {"ref", "@e99"}})["error"], "unknown_element");
  EXPECT_EQ(act({{"action", "settext"}, {"ref", "@e99"}})["message"], "text is required");
  EXPECT_EQ(act({{"action", "focus"}, {"ref", "@e2"}})["message"], "AX focus failed (-25205)");
  EXPECT_EQ(act({{"action", "settext"}, {"ref", "@e2"}, {"text", "x"}})["message"],
            "AX setValue failed (-25205); typing needs the focus: AX focus failed (-25205)");

  // Scroll: the first of three actions that the element accepts.
  check->actions["AXScrollRightByPage"] = kAXErrorSuccess;
  fake.accessibility.calls.clear();
  EXPECT_EQ(act({{"action", "scroll"}, {"ref", "@e4"}})["message"], "scroll:AXScrollRightByPage");
  EXPECT_EQ(calls("perform"), (std::vector<std::string>{"perform check AXScrollDownByPage",
                                                        "perform check AXScrollRightByPage"}));
  EXPECT_EQ(act({{"action", "scroll"}, {"ref", "@e2"}})["message"], "scroll:AXPress");
  EXPECT_EQ(act({{"action", "scroll"}, {"ref", "@e3"}}),
            (Dictionary{{"ok", false},
                        {"outcome", "didnt"},
                        {"message", "AX scroll actions unavailable for this element"},
                        {"ax_in_helper", true}}));
}

// ---- text entry ----

std::string utf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class TextEntry : public AXCoreTest {
 protected:
  void SetUp() override {
    AXCoreTest::SetUp();
    id = observe({})["state_id"];
    entry->actions["AXSelectAllText"] = kAXErrorSuccess;
  }
  Dictionary setText(const std::string& text, const std::string& ref = "@e3") {
    return perform({{"action", "settext"}, {"state_id", id}, {"ref", ref}, {"text", text}});
  }
  // The application: typed text replaces the (selected) whole text.
  void typingReplaces() {
    fake.onType = [this](const std::u32string& t) { entry->attributes["AXValue"] = utf8(t); };
  }
  std::string id;
  const Dictionary worked = {
      {"ok", true}, {"outcome", "worked"}, {"message", nullptr}, {"ax_in_helper", true}};
};

TEST_F(TextEntry, AnElementThatTakesTheTextIsNotTypedInto) {
  EXPECT_EQ(setText("new"), worked);
  EXPECT_TRUE(fake.typed.empty());
  EXPECT_TRUE(fake.activations.empty());
}

// A browser field without EditableText, and one whose bridge reports
// success for a change it does not make: both are typed into.
TEST_F(TextEntry, WithoutAWorkingSetTheTextIsTypedIntoTheFocusedElement) {
  typingReplaces();
  for (bool answersSuccess : {false, true}) {
    SCOPED_TRACE(answersSuccess);
    if (answersSuccess) {
      entry->setsChangeNothing = true;
      entry->settable["AXFocused"] = kAXErrorSuccess;
    } else {
      entry->settable.erase("AXValue");
    }
    entry->attributes["AXValue"] = std::string("old");
    entry->attributes["AXFocused"] = true;
    fake.accessibility.calls.clear();
    fake.typed.clear();
    EXPECT_EQ(setText("héllo 日本"), worked);
    EXPECT_EQ(fake.typed, (std::vector<std::u32string>{U"héllo 日本"}));
    EXPECT_EQ(fake.activations.back(), kPid);
    auto acts = calls("set entry");
    EXPECT_EQ(acts.back(), "set entry AXFocused");
    EXPECT_EQ(calls("perform"), (std::vector<std::string>{"perform entry AXSelectAllText"}));
  }
}

TEST_F(TextEntry, CanonicallyEquivalentTextCountsAsTheSame) {
  entry->settable.erase("AXValue");
  // The application stores the decomposed form of what was typed.
  fake.onType = [this](const std::u32string&) {
    entry->attributes["AXValue"] = std::string("e\xCC\x81t\xC3\xA9");
  };
  EXPECT_EQ(setText("\xC3\xA9te\xCC\x81"), worked);
}

TEST_F(TextEntry, AnEmptyTextDeletesTheSelection) {
  entry->settable.erase("AXValue");
  EXPECT_EQ(setText(""),
            (Dictionary{{"ok", false},
                        {"outcome", "didnt"},
                        {"message", "Text not set: the element holds \"hi\" after typing"},
                        {"ax_in_helper", true}}));
  ASSERT_EQ(fake.posted.size(), 1u);
  EXPECT_EQ(std::get<vorn::platform::KeyboardEvent>(fake.posted[0][0]).key,
            vorn::platform::Key::kDelete);
  EXPECT_TRUE(fake.typed.empty());
}

// Never "worked" for text that is not there, and nothing typed where the
// keys would not reach the element.
TEST_F(TextEntry, FailuresSayWhatTheElementHoldsOrWhyNothingWasTyped) {
  // Typing that leaves something else than asked.
  entry->settable.erase("AXValue");
  fake.onType = [this](const std::u32string& t) { entry->attributes["AXValue"] = "hi" + utf8(t); };
  EXPECT_EQ(setText("x")["message"], "Text not set: the element holds \"hix\" after typing");
  // No focus to be had: nothing typed.
  fake.typed.clear();
  EXPECT_EQ(setText("x", "@e2")["message"],
            "AX setValue failed (-25205); typing needs the focus: AX focus failed (-25205)");
  entry->attributes["AXFocused"] = false;
  entry->setsChangeNothing = true;  // focus "granted" but never taken
  EXPECT_EQ(setText("x")["message"],
            "AX setValue failed (-25205); typing needs the focus, which the element did not take");
  EXPECT_TRUE(fake.typed.empty());
  // A device that cannot type.
  entry->setsChangeNothing = false;
  fake.canType = false;
  EXPECT_EQ(setText("x")["message"], "AX setValue failed (-25205); Text cannot be typed.");
}

TEST_F(AXCoreTest, PerformFailuresAndShortcutsAnswerAsDescribed) {
  std::string id = observe({})["state_id"];
  // Unknown actions, after the element was found; an absent one keeps the
  // blank of the message.
  EXPECT_EQ(
      perform({{"action", "Frob"}, {"state_id", id}, {"ref", "@e2"}}),
      (Dictionary{{"ok", false}, {"error", "unsupported"}, {"message", "Unknown action frob"}}));
  EXPECT_EQ(perform({{"state_id", id}, {"ref", "@e2"}})["message"], "Unknown action ");
  // "prefer_background" false brings the application forward first, even
  // for an action that turns out unknown; true or absent does not.
  perform({{"action", "frob"}, {"state_id", id}, {"ref", "@e2"}, {"prefer_background", false}});
  perform({{"action", "press"}, {"state_id", id}, {"ref", "@e2"}, {"prefer_background", true}});
  perform({{"action", "press"}, {"state_id", id}, {"ref", "@e2"}, {"prefer_background", 0}});
  EXPECT_EQ(fake.activations, (std::vector<std::int32_t>{kPid}));

  const Dictionary missingRef = {
      {"ok", false}, {"error", "invalid_arguments"}, {"message", "Missing element ref."}};
  EXPECT_EQ(perform({{"action", "press"}, {"state_id", id}}), missingRef);
  EXPECT_EQ(perform({{"action", "press"}, {"ref", ""}}), missingRef);
  EXPECT_EQ(perform({{"action", "keypress"}, {"key", ""}}), missingRef);
  // A "ref" key of any value makes a click an element request.
  EXPECT_EQ(perform({{"action", "click"}, {"x", 5}, {"y", 6}, {"ref", nullptr}}), missingRef);

  // The shortcuts: three keys, no element involved.
  EXPECT_EQ(perform({{"action", "KeyPress"}, {"key", "cmd+a"}, {"ref", "@e2"}}),
            (Dictionary{{"ok", true}, {"outcome", "worked"}, {"message", "hid:cmd+a"}}));
  EXPECT_EQ(
      perform({{"action", "click"}, {"x", 10.9}, {"y", -3.2}, {"button", "Middle"}}),
      (Dictionary{{"ok", true}, {"outcome", "worked"}, {"message", "click_xy:middle:10,-3"}}));
  EXPECT_EQ(
      perform({{"action", "keypress"}, {"key", "f5"}}),
      (Dictionary{{"ok", false}, {"outcome", "didnt"}, {"message", "Unsupported key 'f5'."}}));
  EXPECT_EQ(fake.posted.size(), 2u);

  // Without permission nothing else is looked at, shortcuts included.
  fake.accessibility.trusted = false;
  const Dictionary refused = {{"ok", false},
                              {"error", "permission_required"},
                              {"message", "Accessibility is required in the helper process."}};
  EXPECT_EQ(perform({{"action", "keypress"}, {"key", "a"}}), refused);
  EXPECT_EQ(perform({}), refused);
  EXPECT_EQ(fake.posted.size(), 2u);
}

TEST_F(AXCoreTest, Int32ReadsNumbersAndBooleansOnly) {
  using ComputerUseHelperMain::int32;
  const Dictionary values[] = {7,
                               -7,
                               7.9,
                               -7.9,
                               true,
                               false,
                               "7",
                               nullptr,
                               2147483647.0,
                               2147483648.0,
                               -2147483648.0,
                               1e300,
                               18446744073709551615u};
  const std::int32_t expected[] = {7, -7, 7, -7, 1, 0, 0, 0, 2147483647, 0, -2147483647 - 1, 0, 0};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(int32(&values[i]), expected[i]) << values[i];
  }
  EXPECT_EQ(int32(nullptr), 0);
}

TEST_F(AXCoreTest, TheDispatchHandsOverWholeRequests) {
  EXPECT_EQ(ComputerUseHelperMain::handleJSONText(R"({"op":" Observe\n"})", fake.platform()),
            R"({"error":"invalid_arguments","message":"pid is required","ok":false})");
  EXPECT_EQ(ComputerUseHelperMain::handleJSONText(
                R"({"op":"perform","action":"keypress","key":"Return"})", fake.platform()),
            R"({"message":"hid:return","ok":true,"outcome":"worked"})");
}

}  // namespace
