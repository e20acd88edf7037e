// Window records from the scripted window server: which windows are listed,
// what their records say, and where the listing stops.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "computer-use/protocol/json_text.h"
#include "computer-use/windows/window_listing.h"
#include "tests/unit/fake_platform.h"

namespace {

using ComputerUseHelperMain::listWindows;
using ComputerUseHelperMain::WindowRecord;
using vorn::testing::FakePlatform;
using vorn::testing::window;

class WindowListing : public testing::Test {
 protected:
  std::vector<WindowRecord> list(double limit = 40) { return listWindows(limit, fake_.platform()); }
  FakePlatform fake_;
};

TEST_F(WindowListing, RecordsFollowTheWindowServerAndTheApplications) {
  fake_.windows = {window(412, 9031, "Notes", "TextEdit"), window(77, 12, "", "Finder")};
  fake_.bundles[77] = "com.example.finder";
  EXPECT_EQ(list(), (std::vector<WindowRecord>{
                        {412, 9031, "Notes", std::nullopt, "TextEdit", "pid:412|win:9031|bundle:-"},
                        {77, 12, "Finder", "com.example.finder", "Finder",
                         "pid:77|win:12|bundle:com.example.finder"},
                    }));
}

TEST_F(WindowListing, MissingFieldsFallBack) {
  auto bare = window(5, 0, "");
  bare.windowNumber.reset();
  bare.ownerName.reset();
  bare.windowName.reset();
  fake_.windows = {bare};
  EXPECT_EQ(
      list(),
      (std::vector<WindowRecord>{{5, 0, "App", std::nullopt, "App", "pid:5|win:0|bundle:-"}}));
}

TEST_F(WindowListing, OnlyOrdinaryWindowsOfAProcessAreListed) {
  auto menu = window(1, 1, "menu");
  menu.layer = 24;
  auto noLayer = window(2, 2, "no layer");
  noLayer.layer.reset();
  auto noPid = window(3, 3, "no pid");
  noPid.ownerPid.reset();
  auto server = window(4, 4, "cursor", "Window Server");
  fake_.windows = {menu, noLayer, noPid, server, window(5, 5, "kept")};
  auto records = list();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].title, "kept");
  // The application is looked up only for windows that passed the tests.
  EXPECT_EQ(fake_.bundleLookups, (std::vector<std::int32_t>{5}));
}

TEST_F(WindowListing, ANativeKeySeenBeforeIsSkipped) {
  fake_.windows = {window(9, 100, "first"), window(9, 100, "again"), window(9, 101, "other")};
  auto records = list();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].title, "first");
  EXPECT_EQ(records[1].title, "other");
}

TEST_F(WindowListing, TheLimitIsCheckedAfterEachRecord) {
  fake_.windows = {window(1, 1, "a"), window(1, 1, "dup"), window(2, 2, "b"), window(3, 3, "c")};
  EXPECT_EQ(list(2).size(), 2u);
  EXPECT_EQ(list(1).size(), 1u);
  EXPECT_EQ(list(0).size(), 1u);
  EXPECT_EQ(list(-7).size(), 1u);
  EXPECT_EQ(list(1e300).size(), 3u);
  fake_.windows = std::vector<vorn::platform::WindowDescription>{};
  EXPECT_TRUE(list(0).empty());
}

TEST_F(WindowListing, NoWindowServerMeansNoWindows) {
  fake_.windows.reset();
  EXPECT_TRUE(list().empty());
}

TEST_F(WindowListing, PidsBeyond32BitsWrapAsTheWindowServerNumberDoes) {
  fake_.windows = {window(std::int64_t{1} << 32 | 7, 1, "t")};
  EXPECT_EQ(list().at(0).pid, 7);
}

// The "limit" argument as the operation reads it from JSON.
TEST_F(WindowListing, LimitArgumentMustBeAWholeNumber) {
  for (int i = 1; i <= 45; ++i) fake_.windows->push_back(window(i, i, "w"));
  auto count = [&](const std::string& limit) {
    auto text = ComputerUseHelperMain::handleJSONText(
        R"({"op":"list_windows","limit":)" + limit + "}", fake_.platform());
    return nlohmann::json::parse(text)["windows"].size();
  };
  EXPECT_EQ(count("3"), 3u);
  EXPECT_EQ(count("3.0"), 3u);
  EXPECT_EQ(count("2.5"), 40u);
  EXPECT_EQ(count(R"("3")"), 40u);
  EXPECT_EQ(count("null"), 40u);
  EXPECT_EQ(count("0"), 1u);
  EXPECT_EQ(count("-0.0"), 1u);
  EXPECT_EQ(count("18446744073709551615"), 45u);
  EXPECT_EQ(count("1e300"), 45u);
}

TEST_F(WindowListing, AnswerWritesAbsentBundlesAsNull) {
  fake_.windows = {window(412, 9031, "Notes", "TextEdit")};
  EXPECT_EQ(ComputerUseHelperMain::handleJSONText(R"({"op":"LIST_WINDOWS"})", fake_.platform()),
            R"({"ok":true,"windows":[{"app_name":"TextEdit","bundle_id":null,)"
            R"("native_key":"pid:412|win:9031|bundle:-","pid":412,"title":"Notes",)"
            R"("window_number":9031}]})");
  fake_.windows.reset();
  EXPECT_EQ(ComputerUseHelperMain::handleJSONText(R"({"op":"list_windows"})", fake_.platform()),
            R"({"ok":true,"windows":[]})");
}

}  // namespace
