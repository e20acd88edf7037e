// The Wayland backend's display-free parts: sway's tree (focus order,
// stacking, what is in view), the requests a virtual keyboard and pointer
// are sent (and the keymaps that type text), the pixels of a copied buffer, and sway's IPC framing
// against a scripted server.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client-protocol.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/unique_fd.h"
#include "computer-use/platform/wayland/input_plan.h"
#include "computer-use/platform/wayland/screencopy_capture.h"
#include "computer-use/platform/wayland/sway_desktop.h"
#include "computer-use/platform/wayland/sway_ipc.h"
#include "computer-use/platform/wayland/sway_tree.h"
#include "computer-use/platform/wayland/unsupported.h"
#include "us_keymap.h"

namespace {

using nlohmann::json;
using namespace vorn::platform;
using namespace vorn::platform::wayland;
namespace sway = vorn::platform::wayland::sway;

// ---- sway's tree ----

json rect(double x, double y, double w, double h) {
  return {{"x", x}, {"y", y}, {"width", w}, {"height", h}};
}

// A window container as sway describes one; `border` is the title bar's
// height (window_rect's offset within rect).
json view(std::int64_t id, std::int64_t pid, const char* title, json outer, int border = 0) {
  return {{"id", id},
          {"type", "con"},
          {"name", title},
          {"pid", pid},
          {"app_id", "app." + std::to_string(pid)},
          {"shell", "xdg_shell"},
          {"visible", true},
          {"fullscreen_mode", 0},
          {"rect", outer},
          {"window_rect",
           rect(0, border, outer["width"].get<double>(), outer["height"].get<double>() - border)},
          {"nodes", json::array()},
          {"floating_nodes", json::array()}};
}

json workspace(std::int64_t id, const char* name, json tiled, json floating, json focus) {
  // Workspaces report fullscreen mode 1 of their own; it must not count.
  return {{"id", id},
          {"type", "workspace"},
          {"name", name},
          {"nodes", tiled},
          {"floating_nodes", floating},
          {"focus", focus},
          {"fullscreen_mode", 1}};
}

json output(std::int64_t id, const char* name, json r, const char* current, json workspaces,
            json focus) {
  return {{"id", id},
          {"type", "output"},
          {"name", name},
          {"rect", r},
          {"scale", 2.0},
          {"current_workspace", current},
          {"nodes", workspaces},
          {"focus", focus}};
}

json root(json outputs, json focus) {
  json scratch = output(2147483647, "__i3", rect(0, 0, 1280, 1024), "__i3_scratch",
                        {workspace(2147483646, "__i3_scratch", json::array(),
                                   {view(99, 9, "Minimised", rect(0, 0, 100, 100))}, {99})},
                        {2147483646});
  outputs.insert(outputs.begin(), scratch);
  return {{"id", 1}, {"type", "root"}, {"nodes", outputs}, {"focus", focus}};
}

// Two outputs side by side. Output A shows workspace "1": a split container
// holding windows 10 and 11 (11 focused last) beside window 12, with floating
// windows 20 (lower) and 21 (upper); workspace "2" on A is not shown and holds
// window 30. Output B shows workspace "3" with window 40.
json desktop() {
  json split = {{"id", 5},
                {"type", "con"},
                {"name", nullptr},
                {"rect", rect(0, 0, 640, 1024)},
                {"nodes",
                 {view(10, 100, "Ten", rect(0, 0, 640, 512), 20),
                  view(11, 101, "Eleven", rect(0, 512, 640, 512), 20)}},
                {"floating_nodes", json::array()},
                {"focus", {11, 10}}};
  json one = workspace(4, "1", {split, view(12, 102, "Twelve", rect(640, 0, 640, 1024))},
                       {view(20, 100, "Twenty", rect(100, 100, 300, 200), 25),
                        view(21, 103, "TwentyOne", rect(300, 150, 300, 200), 25)},
                       {12, 21, 5, 20});
  json two =
      workspace(6, "2", {view(30, 100, "Thirty", rect(0, 0, 1280, 1024))}, json::array(), {30});
  json three =
      workspace(7, "3", {view(40, 104, "Forty", rect(1280, 0, 800, 600))}, json::array(), {40});
  return root({output(3, "A", rect(0, 0, 1280, 1024), "1", {one, two}, {4, 6}),
               output(8, "B", rect(1280, 0, 800, 600), "3", {three}, {7})},
              {8, 3});
}

std::vector<std::int64_t> ids(const sway::Tree& tree) {
  std::vector<std::int64_t> out;
  for (const auto& w : tree.windows) out.push_back(w.id);
  return out;
}

const sway::Window& byId(const sway::Tree& tree, std::int64_t id) {
  const sway::Window* w = sway::findWindow(tree, id);
  if (w == nullptr) throw std::runtime_error("no window " + std::to_string(id));
  return *w;
}

TEST(SwayTree, WindowsFollowEachContainersFocusOrderAndSkipTheScratchpad) {
  auto tree = sway::parseTree(desktop().dump());
  ASSERT_TRUE(tree);
  // Output B was focused last; on A, workspace "1" before "2"; in "1", 12,
  // then floating 21, then the split (11 before 10), then 20.
  EXPECT_EQ(ids(*tree), (std::vector<std::int64_t>{40, 12, 21, 11, 10, 20, 30}));
  EXPECT_EQ(tree->outputs, (std::vector<sway::Output>{{"B", {1280, 0, 800, 600}, 2},
                                                      {"A", {0, 0, 1280, 1024}, 2}}));
}

TEST(SwayTree, WindowsCarryOwnerNamesPlaceAndStacking) {
  auto tree = sway::parseTree(desktop().dump());
  ASSERT_TRUE(tree);
  const auto& ten = byId(*tree, 10);
  EXPECT_EQ(ten.pid, 100);
  EXPECT_EQ(ten.title, "Ten");
  EXPECT_EQ(ten.appId, "app.100");
  EXPECT_EQ(ten.outer, (Frame{0, 0, 640, 512}));
  EXPECT_EQ(ten.content, (Frame{0, 20, 640, 492}));
  EXPECT_EQ(ten.output, "A");
  EXPECT_TRUE(ten.onCurrentWorkspace);
  EXPECT_EQ(ten.stacking, 0);
  EXPECT_EQ(byId(*tree, 20).stacking, 1);
  EXPECT_EQ(byId(*tree, 21).stacking, 2);
  EXPECT_FALSE(byId(*tree, 30).onCurrentWorkspace);
  EXPECT_TRUE(byId(*tree, 40).onCurrentWorkspace);
}

TEST(SwayTree, XWaylandWindowsCarryTheirClass) {
  json x = view(50, 7, "Xterm", rect(0, 0, 100, 100));
  x["shell"] = "xwayland";
  x.erase("app_id");
  x["window"] = 2097167;
  x["window_properties"] = {{"class", "XTerm"}, {"instance", "xterm"}};
  auto tree = sway::parseTree(root({output(3, "A", rect(0, 0, 100, 100), "1",
                                           {workspace(4, "1", {x}, json::array(), {50})}, {4})},
                                   {3})
                                  .dump());
  ASSERT_TRUE(tree);
  const auto& w = byId(*tree, 50);
  EXPECT_TRUE(w.xwayland);
  EXPECT_EQ(w.x11Class, "XTerm");
  EXPECT_EQ(w.appId, std::nullopt);
  WindowDescription d = describe(w);
  EXPECT_EQ(d.ownerName, "XTerm");
  EXPECT_EQ(d.windowNumber, 50);
  EXPECT_EQ(d.layer, 0);
}

TEST(SwayTree, WhatIsNotSwaysTreeOrNotShapedLikeItIsLeftOut) {
  for (const char* text : {"", "[]", "{\"type\":\"output\"}", "{\"type\":\"root\"", "nul"}) {
    EXPECT_FALSE(sway::parseTree(text)) << text;
  }
  // Wrong types read as absent; a window keeps what is well formed.
  json odd = view(60, 1, "Odd", rect(0, 0, 10, 10));
  odd["pid"] = "12";
  odd["name"] = 5;
  odd["rect"] = "wide";
  odd["focus"] = "none";
  json tree = root({output(3, "A", rect(0, 0, 100, 100), "1",
                           {workspace(4, "1", {odd, 7, nullptr}, "x", {60})}, {4})},
                   {3});
  auto parsed = sway::parseTree(tree.dump());
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->windows.size(), 1u);
  EXPECT_EQ(parsed->windows[0].pid, std::nullopt);
  EXPECT_EQ(parsed->windows[0].title, std::nullopt);
  EXPECT_EQ(parsed->windows[0].outer, Frame{});
}

TEST(SwayTree, DeepTreesStopAtTheDepthBound) {
  json node = view(70, 1, "Deep", rect(0, 0, 10, 10));
  for (int i = 0; i < 400; ++i) {
    node = {{"id", 1000 + i}, {"type", "con"}, {"nodes", {node}}, {"focus", json::array()}};
  }
  auto tree =
      sway::parseTree(root({output(3, "A", rect(0, 0, 100, 100), "1",
                                   {workspace(4, "1", {node}, json::array(), json::array())}, {4})},
                           {3})
                          .dump());
  ASSERT_TRUE(tree);
  EXPECT_TRUE(tree->windows.empty());
}

TEST(SwayExposure, OnlyAWindowWhollyOnOneOutputWithNothingOverItIsInView) {
  auto tree = sway::parseTree(desktop().dump());
  ASSERT_TRUE(tree);
  using sway::Exposure;
  // Tiled 10 lies under floating 20; 20 under 21, which is on top.
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 10)), Exposure::kCovered);
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 20)), Exposure::kCovered);
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 21)), Exposure::kUncovered);
  // Tiled 11 and 12 touch floating windows nowhere.
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 11)), Exposure::kUncovered);
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 12)), Exposure::kUncovered);
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 40)), Exposure::kUncovered);
  // Not on a shown workspace.
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 30)), Exposure::kHidden);
}

TEST(SwayExposure, HiddenTabsFullscreenAndWindowsAcrossOutputs) {
  json tab = view(80, 1, "Tab", rect(0, 0, 400, 400));
  tab["visible"] = false;
  json full = view(81, 2, "Full", rect(0, 0, 400, 400));
  full["fullscreen_mode"] = 1;
  json below = view(82, 3, "Below", rect(50, 50, 100, 100));
  json across = view(83, 4, "Across", rect(350, 0, 100, 100));
  auto tree = sway::parseTree(
      root({output(3, "A", rect(0, 0, 400, 400), "1",
                   {workspace(4, "1", {tab, full}, {below, across}, {81, 80, 82, 83})}, {4}),
            output(8, "B", rect(400, 0, 400, 400), "9",
                   {workspace(9, "9", json::array(), json::array(), json::array())}, {9})},
           {3})
          .dump());
  ASSERT_TRUE(tree);
  using sway::Exposure;
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 80)), Exposure::kHidden);
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 81)), Exposure::kUncovered);
  // A fullscreen window lies over the floating ones of its workspace.
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 82)), Exposure::kCovered);
  EXPECT_EQ(sway::exposure(*tree, byId(*tree, 83)), Exposure::kOffScreen);
}

TEST(SwayDesktopChoice, ElementsBelongToTheTitledWindowElseTheMostRecentOne) {
  auto tree = sway::parseTree(desktop().dump());
  ASSERT_TRUE(tree);
  // Process 100 owns 10, 20 and 30 (30 on a hidden workspace).
  EXPECT_EQ(windowOf(*tree, 100, "Twenty")->id, 20);
  EXPECT_EQ(windowOf(*tree, 100, "Ten")->id, 10);
  EXPECT_EQ(windowOf(*tree, 100, "No such title")->id, 10);
  EXPECT_EQ(windowOf(*tree, 100, "Thirty")->id, 10);
  EXPECT_EQ(windowOf(*tree, 999, ""), nullptr);
}

// ---- Virtual keyboard and pointer requests ----

namespace keymap = vorn::platform::wayland::generated;

TEST(InputPlan, ModifiersAreHeldAroundTheKeyAndReleasedInReverse) {
  const InputEvent events[] = {KeyboardEvent{Key::kZ, true, kCommandFlag | kShiftFlag},
                               KeyboardEvent{Key::kZ, false, kCommandFlag | kShiftFlag}};
  auto plan = planRequests(events, {0, 0, 100, 100});
  ASSERT_TRUE(plan);
  const std::uint32_t shift = keymap::kShiftMask, super = keymap::kSuperMask;
  EXPECT_EQ(*plan,
            (std::vector<DeviceRequest>{
                KeyRequest{KEY_LEFTSHIFT, true}, ModifiersRequest{shift},
                KeyRequest{KEY_LEFTMETA, true}, ModifiersRequest{shift | super},
                KeyRequest{KEY_Z, true}, KeyRequest{KEY_Z, false}, KeyRequest{KEY_LEFTMETA, false},
                ModifiersRequest{shift}, KeyRequest{KEY_LEFTSHIFT, false}, ModifiersRequest{0}}));
}

TEST(InputPlan, EveryKeyHasItsUsLayoutCodeAndTheMasksAreDistinct) {
  const std::pair<Key, std::uint32_t> keys[] = {
      {Key::kA, KEY_A},
      {Key::kC, KEY_C},
      {Key::kV, KEY_V},
      {Key::kX, KEY_X},
      {Key::kZ, KEY_Z},
      {Key::kReturn, KEY_ENTER},
      {Key::kTab, KEY_TAB},
      {Key::kSpace, KEY_SPACE},
      {Key::kDelete, KEY_BACKSPACE},
      {Key::kEscape, KEY_ESC},
      {Key::kLeftArrow, KEY_LEFT},
      {Key::kRightArrow, KEY_RIGHT},
      {Key::kUpArrow, KEY_UP},
      {Key::kDownArrow, KEY_DOWN},
  };
  for (auto [key, code] : keys) {
    const InputEvent down[] = {KeyboardEvent{key, true}};
    EXPECT_EQ(planRequests(down, {0, 0, 1, 1}),
              (std::vector<DeviceRequest>{KeyRequest{code, true}}))
        << static_cast<int>(key);
  }
  std::uint32_t all =
      keymap::kShiftMask | keymap::kControlMask | keymap::kAltMask | keymap::kSuperMask;
  EXPECT_EQ(std::popcount(all), 4);
  const InputEvent unknown[] = {KeyboardEvent{static_cast<Key>(99), true}};
  EXPECT_FALSE(planRequests(unknown, {0, 0, 1, 1}));
}

TEST(InputPlan, AClickMovesOnceAndEachButtonEventEndsAFrame) {
  const InputEvent click[] = {
      MouseEvent{MouseEventType::kMouseMoved, 110.7, 20.2, MouseButton::kLeft},
      MouseEvent{MouseEventType::kRightMouseDown, 110.7, 20.2, MouseButton::kRight, 1},
      MouseEvent{MouseEventType::kRightMouseUp, 110.7, 20.2, MouseButton::kRight, 1}};
  // A layout that starts left of and above the origin.
  auto plan = planRequests(click, {-100, -10, 300, 200});
  ASSERT_TRUE(plan);
  EXPECT_EQ(*plan, (std::vector<DeviceRequest>{MotionRequest{210, 30, 300, 200}, FrameRequest{},
                                               ButtonRequest{BTN_RIGHT, true}, FrameRequest{},
                                               ButtonRequest{BTN_RIGHT, false}, FrameRequest{}}));
}

TEST(InputPlan, WheelStepsGoOneAFrame) {
  MouseEvent wheel{MouseEventType::kScrollWheel, 5, 5, MouseButton::kLeft};
  wheel.wheelDown = 2;
  wheel.wheelRight = -1;
  const InputEvent events[] = {wheel};
  EXPECT_EQ(
      planRequests(events, {0, 0, 10, 10}),
      (std::vector<DeviceRequest>{
          MotionRequest{5, 5, 10, 10}, FrameRequest{}, WheelRequest{true, true}, FrameRequest{},
          WheelRequest{true, true}, FrameRequest{}, WheelRequest{false, false}, FrameRequest{}}));
}

TEST(InputPlan, PointsOffTheLayoutOrNotFiniteSendNothing) {
  const Frame layout{0, 0, 1280, 1024};
  for (auto [x, y] : std::initializer_list<std::pair<double, double>>{
           {-0.5, 10}, {1280, 10}, {10, 1024}, {NAN, 1}, {1, INFINITY}, {1e300, 1}}) {
    // The key before the bad point is not sent either.
    const InputEvent events[] = {KeyboardEvent{Key::kA, true},
                                 MouseEvent{MouseEventType::kMouseMoved, x, y, MouseButton::kLeft}};
    EXPECT_FALSE(planRequests(events, layout)) << x << "," << y;
  }
  const InputEvent corner[] = {
      MouseEvent{MouseEventType::kMouseMoved, 1279.9, 1023.5, MouseButton::kLeft}};
  EXPECT_TRUE(planRequests(corner, layout));
  const InputEvent anywhere[] = {MouseEvent{MouseEventType::kMouseMoved, 0, 0, MouseButton::kLeft}};
  EXPECT_FALSE(planRequests(anywhere, Frame{}));  // no outputs at all
}

TEST(InputPlan, APointInAGapBetweenOutputsSendsNothing) {
  // Two outputs of different heights side by side: below the smaller one
  // lies no output, though it is inside the layout's bounding box.
  const Frame outputs[] = {{0, 0, 100, 50}, {100, 0, 100, 100}};
  const InputEvent gap[] = {MouseEvent{MouseEventType::kMouseMoved, 50, 70, MouseButton::kLeft}};
  EXPECT_FALSE(planRequests(gap, outputs));
  const InputEvent onSecond[] = {
      MouseEvent{MouseEventType::kMouseMoved, 150, 70, MouseButton::kLeft}};
  EXPECT_EQ(planRequests(onSecond, outputs),
            (std::vector<DeviceRequest>{MotionRequest{150, 70, 200, 100}, FrameRequest{}}));
}

// ---- Typing text ----

std::vector<DeviceRequest> tap(std::uint32_t code) {
  return {KeyRequest{code, true}, KeyRequest{code, false}};
}

std::vector<DeviceRequest> concat(std::initializer_list<std::vector<DeviceRequest>> parts) {
  std::vector<DeviceRequest> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::uint32_t spare(std::size_t i) { return keymap::kSpareKeys[i].code; }

TEST(InputTyping, TheLayoutsCharactersGoAtTheirKeysShiftedWhereTheyWantIt) {
  const std::uint32_t shift = keymap::kShiftMask;
  std::vector<DeviceRequest> shifted = {KeyRequest{KEY_LEFTSHIFT, true}, ModifiersRequest{shift}};
  std::vector<DeviceRequest> unshifted = {KeyRequest{KEY_LEFTSHIFT, false}, ModifiersRequest{0}};
  // The digit comes from the main block, not the keypad; one Shift for two
  // shifted characters in a row.
  EXPECT_EQ(planTyping(U"aA!\n1\t", 4),
            concat({tap(KEY_A), shifted, tap(KEY_A), tap(KEY_1), unshifted, tap(KEY_ENTER),
                    tap(KEY_1), tap(KEY_TAB)}));
  EXPECT_EQ(planTyping(U"", 4), std::vector<DeviceRequest>{});
}

TEST(InputTyping, CharactersTheLayoutLacksAreBoundInAKeymapThatTravelsWithTheKeys) {
  // Latin-1 keysyms for Latin-1 characters, Unicode keysyms beyond; a
  // character met again keeps its key; the US keymap comes back at the end.
  EXPECT_EQ(planTyping(U"\u00e9x\u65e5\u00e9", 4),
            concat({{KeymapRequest{{{0, 0xe9}, {1, 0x10065e5}}}},
                    tap(spare(0)),
                    tap(KEY_X),
                    tap(spare(1)),
                    tap(spare(0)),
                    {KeymapRequest{}}}));
  // With two spare keys, the third new character starts a keymap of its own
  // after the keys typed with the first.
  EXPECT_EQ(planTyping(U"\u03b1\u03b2\u03b3\u03b1", 2),
            concat({{KeymapRequest{{{0, 0x10003b1}, {1, 0x10003b2}}}},
                    tap(spare(0)),
                    tap(spare(1)),
                    {KeymapRequest{{{0, 0x10003b3}, {1, 0x10003b1}}}},
                    tap(spare(0)),
                    tap(spare(1)),
                    {KeymapRequest{}}}));
}

TEST(InputTyping, ControlCharactersSurrogatesAndNoSpareKeysTypeNothing) {
  for (std::u32string text :
       {std::u32string(U"a\x01"), std::u32string(U"a\x7f"), std::u32string(1, char32_t{0xD800}),
        std::u32string(1, char32_t{0x110000})}) {
    EXPECT_FALSE(planTyping(text, 4)) << static_cast<std::uint32_t>(text.back());
  }
  EXPECT_FALSE(planTyping(U"a\u00e9", 0));
  EXPECT_TRUE(planTyping(U"abc", 0));
}

// The keymap sent for typing is one the compositor and every application
// can compile, and its spare keys carry what they were bound to.
TEST(InputTyping, TheBoundKeymapCompilesAndCarriesItsBindings) {
  ASSERT_GE(std::size(keymap::kSpareKeys), 8u);
  KeymapRequest request;
  for (std::size_t i = 0; i < std::size(keymap::kSpareKeys); ++i) {
    request.bindings.push_back({i, 0x1000100u + static_cast<std::uint32_t>(i)});
  }
  std::string text = keymapText(request);
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
      xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES), xkb_context_unref);
  std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> compiled(
      xkb_keymap_new_from_string(context.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                 XKB_KEYMAP_COMPILE_NO_FLAGS),
      xkb_keymap_unref);
  ASSERT_TRUE(compiled);
  for (const auto& b : request.bindings) {
    const xkb_keysym_t* syms = nullptr;
    xkb_keycode_t code = keymap::kSpareKeys[b.spare].code + 8;
    ASSERT_EQ(xkb_keymap_key_get_syms_by_level(compiled.get(), code, 0, 0, &syms), 1);
    EXPECT_EQ(syms[0], b.keysym);
  }
  // The layout's own keys are untouched.
  const xkb_keysym_t* syms = nullptr;
  ASSERT_EQ(xkb_keymap_key_get_syms_by_level(compiled.get(), KEY_A + 8, 0, 0, &syms), 1);
  EXPECT_EQ(syms[0], static_cast<xkb_keysym_t>(XKB_KEY_a));
  EXPECT_EQ(keymapText(KeymapRequest{}), std::string(keymap::kKeymapText));
}

// ---- Copied pixels ----

TEST(ScreencopyPixels, ChannelOrderStrideAndRowOrderFollowTheBuffer) {
  // Two rows of two pixels, with four bytes of padding per row.
  const std::uint8_t buffer[] = {1, 2, 3, 0, 4,  5,  6,  0, 9, 9, 9, 9,  //
                                 7, 8, 9, 0, 10, 11, 12, 0, 9, 9, 9, 9};
  auto xrgb = imageFromBuffer(buffer, WL_SHM_FORMAT_XRGB8888, {2, 2}, 12, false);
  ASSERT_TRUE(xrgb);
  EXPECT_EQ(xrgb->rgba, (std::vector<std::uint8_t>{3, 2, 1, 255, 6, 5, 4, 255,  //
                                                   9, 8, 7, 255, 12, 11, 10, 255}));
  auto xbgr = imageFromBuffer(buffer, WL_SHM_FORMAT_ABGR8888, {2, 2}, 12, true);
  ASSERT_TRUE(xbgr);
  EXPECT_EQ(xbgr->rgba, (std::vector<std::uint8_t>{7, 8, 9, 255, 10, 11, 12, 255,  //
                                                   1, 2, 3, 255, 4, 5, 6, 255}));
  EXPECT_FALSE(imageFromBuffer(buffer, WL_SHM_FORMAT_RGB565, {2, 2}, 12, false));
}

// ---- sway's IPC ----

TEST(SwayIpcFraming, HeadersRoundTripAndOthersAreRefused) {
  std::string h = sway::header(sway::Message::kGetTree, 1234);
  ASSERT_EQ(h.size(), 14u);
  EXPECT_TRUE(h.starts_with("i3-ipc"));
  auto parsed = sway::parseHeader(h);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->length, 1234u);
  EXPECT_EQ(parsed->type, 4u);
  EXPECT_FALSE(sway::parseHeader("i3-ipx" + h.substr(6)));
  EXPECT_FALSE(sway::parseHeader(h.substr(1)));
}

// A one-shot server on a socket of its own: reads one message, then does
// what the test scripts.
class ScriptedSway {
 public:
  explicit ScriptedSway(std::function<void(int client)> script) {
    dir_ = std::filesystem::temp_directory_path() / ("vorn-sway-ipc-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "sock").string();
    listener_ = vorn::UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path_.c_str());
    ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_.get(), 1);
    thread_ = std::thread([this, script] {
      vorn::UniqueFd client(::accept(listener_.get(), nullptr, nullptr));
      char head[14];
      if (::recv(client.get(), head, sizeof head, MSG_WAITALL) != 14) return;
      auto h = sway::parseHeader({head, 14});
      std::string payload(h ? h->length : 0, '\0');
      if (!payload.empty()) ::recv(client.get(), payload.data(), payload.size(), MSG_WAITALL);
      script(client.get());
      char byte;
      ::recv(client.get(), &byte, 1, 0);  // until the helper closes
    });
  }
  ~ScriptedSway() {
    thread_.join();
    std::filesystem::remove_all(dir_);
  }
  const std::string& path() const { return path_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
  vorn::UniqueFd listener_;
  std::thread thread_;
};

std::optional<std::string> askTree(const std::string& path, std::chrono::milliseconds bound) {
  auto ipc = sway::Ipc::connect(path);
  if (!ipc) return std::nullopt;
  return ipc->request(sway::Message::kGetTree, "", sway::Clock::now() + bound);
}

TEST(SwayIpcFraming, ARepliesPayloadComesBackWhole) {
  const std::string tree = R"({"type":"root"})";
  ScriptedSway server([&](int c) {
    std::string reply = sway::header(sway::Message::kGetTree, tree.size()) + tree;
    // In pieces, as a busy compositor may write it.
    for (char ch : reply) ::send(c, &ch, 1, MSG_NOSIGNAL);
  });
  EXPECT_EQ(askTree(server.path(), std::chrono::seconds(5)), tree);
}

TEST(SwayIpcFraming, AReplyOfAnotherTypeTooLongOrTooLateIsNone) {
  {
    ScriptedSway server([](int c) {
      std::string reply = sway::header(sway::Message::kRunCommand, 2) + "[]";
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    });
    EXPECT_EQ(askTree(server.path(), std::chrono::seconds(5)), std::nullopt);
  }
  {
    ScriptedSway server([](int c) {
      std::string reply = sway::header(sway::Message::kGetTree, 0xFFFFFFFF);
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    });
    EXPECT_EQ(askTree(server.path(), std::chrono::seconds(5)), std::nullopt);
  }
  {
    // Announces ten bytes and sends three: the deadline ends the wait.
    ScriptedSway server([](int c) {
      std::string reply = sway::header(sway::Message::kGetTree, 10) + "{\"a";
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    });
    EXPECT_EQ(askTree(server.path(), std::chrono::milliseconds(200)), std::nullopt);
  }
  EXPECT_FALSE(sway::Ipc::connect("/nonexistent/sway.sock"));
}

TEST(UnsupportedCompositor, TheMessageNamesTheCompositorAndEveryNeed) {
  EXPECT_EQ(unsupportedCompositor("weston", "listing windows needs", {"sway's IPC"}),
            "The Wayland compositor weston is not supported: listing windows needs sway's IPC.");
  EXPECT_EQ(unsupportedCompositor("kwin", "keys need", {"a", "b", "c"}),
            "The Wayland compositor kwin is not supported: keys need a, b and c.");
}

}  // namespace
