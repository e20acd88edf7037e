// The helper's request step and dispatch against the scripted desktop:
// exact answer texts, as the caller receives them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "computer-use/protocol/dispatch.h"
#include "computer-use/protocol/json_text.h"
#include "computer-use/protocol/operation_table.h"
#include "tests/unit/fake_platform.h"

namespace {

using ComputerUseHelperMain::Dictionary;
using ComputerUseHelperMain::handleJSONText;
using vorn::testing::FakePlatform;
using namespace std::string_literals;

const std::string kInvalidJson = R"({"error":"invalid_json","ok":false})";

class Protocol : public testing::Test {
 protected:
  std::string answer(std::string_view request) { return handleJSONText(request, fake_.platform()); }
  FakePlatform fake_;
};

TEST_F(Protocol, RequestsThatAreNotOneJsonObjectAreInvalidJson) {
  for (std::string request : {
           ""s,
           "   "s,
           "[]"s,
           R"([{"op":"ping"}])"s,
           "42"s,
           R"("ping")"s,
           "null"s,
           R"({"op":"ping"} {"op":"ping"})"s,
           R"({"op":"ping"}])"s,
           R"({"op":"ping")"s,
           "{\"op\":\"ping\"}\0"s,         // the parser would stop at the NUL
           "{\"op\":\"ping\"}\0garbage"s,  // and take this for a ping
           "{\"op\":\"pi\xff\"}"s,         // not UTF-8
           R"({"op":"ping","x":1e400})"s,  // beyond double
           R"({'op':'ping'})"s,
       }) {
    EXPECT_EQ(answer(request), kInvalidJson) << testing::PrintToString(request);
  }
}

TEST_F(Protocol, NestingIsBoundedButStringsMayHoldBrackets) {
  auto nested = [](std::size_t depth) {
    return R"({"op":"ping","x":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
  };
  EXPECT_EQ(answer(nested(ComputerUseHelperMain::kMaxNesting)).find("invalid_json"),
            std::string::npos);
  EXPECT_EQ(answer(nested(ComputerUseHelperMain::kMaxNesting + 1)), kInvalidJson);
  std::string brackets(100000, '[');
  EXPECT_NE(answer(R"({"op":"ping","x":")" + brackets + R"(\"["})").find(R"("ok":true)"),
            std::string::npos);
  EXPECT_EQ(answer(std::string(10'000'000, '[')), kInvalidJson);
}

TEST_F(Protocol, PingIdentifiesTheHelper) {
  std::string expected = R"({"ax_in_helper":true,"helper":"vorn-computer-use","ok":true,"pid":)" +
                         std::to_string(::getpid()) + "}";
  EXPECT_EQ(answer(R"({"op":"ping"})"), expected);
  EXPECT_EQ(answer("{\"op\":\"  PiNg \\n\",\"extra\":[1,{\"a\":null}]}"), expected);
}

TEST_F(Protocol, UnknownOperationsEchoTheNormalisedName) {
  EXPECT_EQ(answer(R"({"op":"  Windows\t"})"),
            R"({"error":"unknown_op","ok":false,"op":"windows"})");
  EXPECT_EQ(answer(R"({})"), R"({"error":"unknown_op","ok":false,"op":""})");
  EXPECT_EQ(answer(R"({"op":7})"), R"({"error":"unknown_op","ok":false,"op":""})");
  EXPECT_EQ(answer(R"({"op":null})"), R"({"error":"unknown_op","ok":false,"op":""})");
  EXPECT_EQ(answer("{\"op\":\"\xc3\x89TAT\"}"),
            "{\"error\":\"unknown_op\",\"ok\":false,\"op\":\"\xc3\xa9tat\"}");
}

TEST_F(Protocol, EveryOperationInTheTableIsCoveredHere) {
  // Adding an operation means adding its tests: this list names the ones
  // whose answers the tests of this file, the input tests, the accessibility
  // tests and the capture tests check.
  const std::set<std::string_view> covered = {"ping",     "list_windows", "observe",   "perform",
                                              "keypress", "click_xy",     "screenshot"};
  std::set<std::string_view> table;
  for (const auto& entry : ComputerUseHelperMain::operationTable()) table.insert(entry.shape.name);
  EXPECT_EQ(table, covered);
}

TEST_F(Protocol, KeyPressAnswersCarryOutcomeAndMessageButNeverAnError) {
  EXPECT_EQ(answer(R"({"op":"keypress","key":" Return "})"),
            R"({"message":"hid:return","ok":true,"outcome":"worked"})");
  EXPECT_EQ(answer(R"({"op":"keypress","key":"cmd+q"})"),
            R"({"message":"Unsupported key 'cmd+q'.","ok":false,"outcome":"didnt"})");
  // A missing or non-string key is the empty text.
  EXPECT_EQ(answer(R"({"op":"keypress"})"),
            R"({"message":"Unsupported key ''.","ok":false,"outcome":"didnt"})");
  EXPECT_EQ(answer(R"({"op":"keypress","key":["a"]})"),
            R"({"message":"Unsupported key ''.","ok":false,"outcome":"didnt"})");
  fake_.inputTrusted = false;
  EXPECT_EQ(answer(R"({"op":"keypress","key":"a"})"),
            R"({"message":"Accessibility is required in the helper process.",)"
            R"("ok":false,"outcome":"didnt"})");
}

TEST_F(Protocol, ClickArgumentsDefaultWhenMissingOrOfTheWrongType) {
  EXPECT_EQ(answer(R"({"op":"click_xy"})"),
            R"({"message":"click_xy:left:0,0","ok":true,"outcome":"worked"})");
  EXPECT_EQ(answer(R"({"op":"click_xy","x":"5","y":true,"button":3})"),
            R"({"message":"click_xy:left:0,0","ok":true,"outcome":"worked"})");
  EXPECT_EQ(answer(R"({"op":"click_xy","x":640.7,"y":360.2,"button":"Right"})"),
            R"({"message":"click_xy:right:640,360","ok":true,"outcome":"worked"})");
  ASSERT_EQ(fake_.posted.size(), 3u);
  const auto& moved = std::get<vorn::platform::MouseEvent>(fake_.posted[2][0]);
  EXPECT_EQ(moved.x, 640.7);
  EXPECT_EQ(moved.y, 360.2);
  fake_.sourceAvailable = false;
  EXPECT_EQ(answer(R"({"op":"click_xy","x":1,"y":2})"),
            R"({"message":"Failed to create mouse events.","ok":false,"outcome":"didnt"})");
}

TEST_F(Protocol, AnswersThatCannotBeWrittenBecomeTheFixedFallback) {
  using ComputerUseHelperMain::encodeAnswer;
  const std::string fallback(ComputerUseHelperMain::kEncodeFailed);
  EXPECT_EQ(fallback.size(), 36u);
  EXPECT_EQ(encodeAnswer({{"ok", true}, {"x", std::nan("")}}), fallback);
  EXPECT_EQ(encodeAnswer({{"ok", true}, {"deep", {{"list", {1.0, INFINITY}}}}}), fallback);
  EXPECT_EQ(encodeAnswer({{"ok", true}, {"title", "bad \xff byte"}}), fallback);
  EXPECT_EQ(encodeAnswer({{"ok", true}, {"x", 1.5}, {"t", "caf\xc3\xa9 / \"q\""}}),
            "{\"ok\":true,\"t\":\"caf\xc3\xa9 / \\\"q\\\"\",\"x\":1.5}");
}

TEST_F(Protocol, ExceptionsInsideAnOperationBecomeAnAnswer) {
  // A backend that throws: the dispatch's catch-all turns it into "ok" false.
  struct Throwing final : vorn::platform::WindowServer {
    std::optional<std::vector<vorn::platform::WindowDescription>> onScreenWindows() override {
      throw std::runtime_error("window server exploded");
    }
  } throwing;
  vorn::platform::Platform platform{throwing, fake_, fake_, fake_.accessibility, fake_};
  EXPECT_EQ(handleJSONText(R"({"op":"list_windows"})", platform),
            R"({"error":"internal_error","message":"window server exploded","ok":false})");
}

}  // namespace
