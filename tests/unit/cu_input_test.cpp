// Key combinations and clicks: the tables, the syntax, and the events HID
// hands to the (scripted) input device.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "computer-use/input/hid.h"
#include "computer-use/input/key_combination.h"
#include "tests/unit/fake_platform.h"

namespace {

using namespace vorn::platform;
using HID::KeyCombination;
using HID::parseKeyCombination;
using vorn::testing::FakePlatform;

std::optional<KeyCombination> parse(std::string_view text) {
  return parseKeyCombination(HID::normalizeKeyText(text));
}

TEST(KeyTables, EveryKeyNameAndItsCode) {
  const std::pair<std::string_view, std::uint16_t> expected[] = {
      {"return", 36},    {"enter", 36},  {"tab", 48}, {"space", 49}, {"delete", 51},
      {"backspace", 51}, {"escape", 53}, {"esc", 53}, {"left", 123}, {"right", 124},
      {"down", 125},     {"up", 126},    {"a", 0},    {"x", 7},      {"c", 8},
      {"v", 9},          {"z", 6},
  };
  ASSERT_EQ(HID::keyTable().size(), std::size(expected));
  for (auto [name, code] : expected) {
    auto parsed = parse(name);
    ASSERT_TRUE(parsed) << name;
    EXPECT_EQ(static_cast<std::uint16_t>(parsed->key), code) << name;
    EXPECT_EQ(parsed->flags, 0u) << name;
  }
}

TEST(KeyTables, EveryModifierNameAndItsFlag) {
  const std::pair<std::string_view, ModifierFlags> expected[] = {
      {"cmd", 0x100000},  {"command", 0x100000}, {"meta", 0x100000},
      {"shift", 0x20000}, {"opt", 0x80000},      {"option", 0x80000},
      {"alt", 0x80000},   {"ctrl", 0x40000},     {"control", 0x40000},
  };
  ASSERT_EQ(HID::modifierTable().size(), std::size(expected));
  for (auto [name, flag] : expected) {
    EXPECT_EQ(parse(std::string(name) + "+a"), (KeyCombination{Key::kA, flag})) << name;
  }
}

TEST(KeySyntax, ModifiersAddUpAndMayRepeat) {
  EXPECT_EQ(parse("CMD+Shift+Z"), (KeyCombination{Key::kZ, 0x120000}));
  EXPECT_EQ(parse("ctrl+opt+cmd+shift+tab"), (KeyCombination{Key::kTab, 0x1E0000}));
  EXPECT_EQ(parse("shift+shift+a"), (KeyCombination{Key::kA, 0x20000}));
  EXPECT_EQ(parse("meta+c"), parse("command+c"));
  // Empty pieces between or around "+" are dropped once there are two pieces.
  EXPECT_EQ(parse("cmd++a"), (KeyCombination{Key::kA, 0x100000}));
  EXPECT_EQ(parse("+cmd+a+"), (KeyCombination{Key::kA, 0x100000}));
}

TEST(KeySyntax, TextIsTrimmedAndLowercasedButNotStrippedInside) {
  EXPECT_EQ(HID::normalizeKeyText(" \t Return\n\u2028"), "return");
  EXPECT_EQ(parse("\u00a0RETURN "), (KeyCombination{Key::kReturn}));
  EXPECT_FALSE(parse("cmd + a"));
  EXPECT_FALSE(parse("re turn"));
}

TEST(KeySyntax, NamesOutsideTheTablesAreRefused) {
  for (std::string_view text : {"", "shift", "+", "++", "cmd+", "+a", "a+b", "z+cmd", "f", "1",
                                "f5", "home", "forwarddelete", "cmd+shift", "super+a", "A\u0301"}) {
    EXPECT_FALSE(parse(text)) << text;
  }
  // One piece: the whole text names the key, so a stray "+" stays in it.
  EXPECT_FALSE(parse("a+"));
}

TEST(Buttons, NamesChooseButtonAndEventTypes) {
  auto right = HID::buttonNamed("right");
  EXPECT_EQ(right.button, MouseButton::kRight);
  EXPECT_EQ(static_cast<int>(right.down), 3);
  EXPECT_EQ(static_cast<int>(right.up), 4);
  auto middle = HID::buttonNamed("middle");
  EXPECT_EQ(middle.button, MouseButton::kCenter);
  EXPECT_EQ(static_cast<int>(middle.down), 25);
  EXPECT_EQ(static_cast<int>(middle.up), 26);
  for (std::string_view other : {"left", "", "double", "Right", "center"}) {
    auto left = HID::buttonNamed(other);
    EXPECT_EQ(left.button, MouseButton::kLeft) << other;
    EXPECT_EQ(static_cast<int>(left.down), 1);
    EXPECT_EQ(static_cast<int>(left.up), 2);
  }
}

TEST(CoordinateText, TruncatesTowardZero) {
  EXPECT_EQ(HID::coordinateText(640.7), "640");
  EXPECT_EQ(HID::coordinateText(-3.2), "-3");
  EXPECT_EQ(HID::coordinateText(-0.5), "0");
  EXPECT_EQ(HID::coordinateText(-0.0), "0");
  EXPECT_EQ(HID::coordinateText(9007199254740993.0), "9007199254740992");
  EXPECT_EQ(HID::coordinateText(-9223372036854775808.0), "-9223372036854775808");
  EXPECT_EQ(HID::coordinateText(9223372036854775808.0), "9223372036854775808");
  EXPECT_EQ(HID::coordinateText(1e20), "100000000000000000000");
  EXPECT_EQ(HID::coordinateText(std::nan("")), "nan");
  EXPECT_EQ(HID::coordinateText(-INFINITY), "-inf");
}

class Hid : public testing::Test {
 protected:
  FakePlatform fake_;
};

TEST_F(Hid, KeypressPostsDownThenUpWithTheModifiersHeld) {
  auto outcome = HID::postKeypress("  CMD+Shift+Z\n", fake_);
  EXPECT_TRUE(outcome.posted);
  EXPECT_EQ(outcome.message, "hid:cmd+shift+z");
  ASSERT_EQ(fake_.posted.size(), 1u);
  EXPECT_EQ(fake_.posted[0], (std::vector<InputEvent>{KeyboardEvent{Key::kZ, true, 0x120000},
                                                      KeyboardEvent{Key::kZ, false, 0x120000}}));
}

TEST_F(Hid, RefusalsRepeatTheTextAsSentAndPostNothing) {
  auto outcome = HID::postKeypress(" Cmd + A ", fake_);
  EXPECT_FALSE(outcome.posted);
  EXPECT_EQ(outcome.message, "Unsupported key ' Cmd + A '.");
  EXPECT_EQ(HID::postKeypress("", fake_).message, "Unsupported key ''.");
  EXPECT_TRUE(fake_.posted.empty());
}

TEST_F(Hid, UntrustedInputIsCheckedFirst) {
  fake_.inputTrusted = false;
  for (auto outcome : {HID::postKeypress("nonsense", fake_), HID::postClick(1, 2, "left", fake_)}) {
    EXPECT_FALSE(outcome.posted);
    EXPECT_EQ(outcome.message, "Accessibility is required in the helper process.");
  }
  EXPECT_TRUE(fake_.posted.empty());
}

TEST_F(Hid, EventsThatCannotBeMadeOrPostedAreFailures) {
  fake_.sourceAvailable = false;
  EXPECT_EQ(HID::postKeypress("a", fake_).message, "CGEventSource unavailable.");
  EXPECT_EQ(HID::postClick(1, 2, "left", fake_).message, "Failed to create mouse events.");
  fake_.sourceAvailable = true;
  fake_.postSucceeds = false;
  EXPECT_FALSE(HID::postKeypress("a", fake_).posted);
  EXPECT_FALSE(HID::postClick(1, 2, "left", fake_).posted);
}

TEST_F(Hid, ClickMovesThenPressesAndReleasesAsOneClick) {
  auto outcome = HID::postClick(10.9, -3.2, "Right", fake_);
  EXPECT_EQ(outcome.message, "click_xy:right:10,-3");
  ASSERT_EQ(fake_.posted.size(), 1u);
  EXPECT_EQ(fake_.posted[0],
            (std::vector<InputEvent>{
                MouseEvent{MouseEventType::kMouseMoved, 10.9, -3.2, MouseButton::kLeft, 0},
                MouseEvent{MouseEventType::kRightMouseDown, 10.9, -3.2, MouseButton::kRight, 1},
                MouseEvent{MouseEventType::kRightMouseUp, 10.9, -3.2, MouseButton::kRight, 1},
            }));
}

// The window system would move such a point onto the screen's edge.
TEST_F(Hid, ClicksOffTheScreenOrNotFiniteAreRefusedAndNothingIsPosted) {
  fake_.screen = vorn::platform::ScreenArea{0, 0, 1280, 1024};
  for (auto [x, y] : {std::pair{-5000.0, 10.0},
                      {1280.0, 10.0},
                      {10.0, 1024.0},
                      {-0.5, 3.0},
                      {std::nan(""), 1.0},
                      {1.0, INFINITY}}) {
    auto outcome = HID::postClick(x, y, "left", fake_);
    EXPECT_FALSE(outcome.posted) << x << "," << y;
    EXPECT_EQ(outcome.message, "Click position " + HID::coordinateText(x) + "," +
                                   HID::coordinateText(y) + " is outside the screen.");
  }
  EXPECT_TRUE(fake_.posted.empty());
  EXPECT_TRUE(HID::postClick(1279.9, 1023.5, "left", fake_).posted);
  // Without a known screen, only points that are not finite are refused.
  fake_.screen.reset();
  EXPECT_TRUE(HID::postClick(-5000, 10, "left", fake_).posted);
  EXPECT_FALSE(HID::postClick(std::nan(""), 10, "left", fake_).posted);
}

TEST_F(Hid, TextIsTypedAsUnicodeAndBadUtf8IsRefused) {
  EXPECT_TRUE(HID::typeText("a\xC3\xA9\xE6\x97\xA5\n", fake_).posted);
  EXPECT_EQ(fake_.typed, (std::vector<std::u32string>{U"a\u00E9\u65E5\n"}));
  EXPECT_EQ(HID::typeText("\xC3", fake_).message, "Text cannot be typed.");
  fake_.canType = false;
  EXPECT_EQ(HID::typeText("a", fake_).message, "Text cannot be typed.");
  fake_.inputTrusted = false;
  EXPECT_EQ(HID::typeText("a", fake_).message, "Accessibility is required in the helper process.");
  EXPECT_EQ(fake_.typed.size(), 1u);
}

TEST_F(Hid, UnknownButtonNamesClickLeftButReportTheNameGiven) {
  EXPECT_EQ(HID::postClick(1, 2, "DOUBLE", fake_).message, "click_xy:double:1,2");
  EXPECT_EQ(HID::postClick(1, 2, "Middle", fake_).message, "click_xy:middle:1,2");
  ASSERT_EQ(fake_.posted.size(), 2u);
  EXPECT_EQ(std::get<MouseEvent>(fake_.posted[0][1]).button, MouseButton::kLeft);
  EXPECT_EQ(std::get<MouseEvent>(fake_.posted[1][1]).button, MouseButton::kCenter);
}

}  // namespace
