// Real answers of every helper operation, for the schema check: each request
// is answered in-process exactly as the helper answers its text
// (handleJSONText), against the scripted desktop, succeeding and failing in
// the ways each operation can, and written as one line {"op", "request",
// "request_valid", "answer"} to the file VORN_ANSWER_SAMPLES names. A
// scenario that does not end as it means to fails the test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "computer-use/protocol/json_text.h"
#include "tests/unit/fake_platform.h"

namespace {

using json = nlohmann::json;
using vorn::platform::kAXErrorSuccess;
using vorn::testing::fakeNode;
using vorn::testing::FakePlatform;
using vorn::testing::withChildren;

constexpr std::int32_t kPid = 4242;

struct Samples {
  std::ofstream out;
  FakePlatform& fake;

  // Answers `request`; `valid` is whether the request schema must accept it,
  // `ok` how the answer must end.
  json send(const json& request, bool valid, bool ok) {
    std::string text = ComputerUseHelperMain::handleJSONText(request.dump(), fake.platform());
    return record(request.value("op", ""), request, valid, ok, text);
  }

  json sendText(const std::string& request) {
    std::string text = ComputerUseHelperMain::handleJSONText(request, fake.platform());
    return record("", nullptr, false, false, text);
  }

  json record(const std::string& op, const json& request, bool valid, bool ok,
              const std::string& text) {
    json answer = json::parse(text);
    EXPECT_EQ(answer.value("ok", !ok), ok) << request.dump() << "\n" << text;
    out << json{{"op", op}, {"request", request}, {"request_valid", valid}, {"answer", answer}}
               .dump()
        << "\n";
    return answer;
  }
};

void desktop(FakePlatform& fake) {
  fake.windows = {{.layer = 0,
                   .ownerPid = kPid,
                   .windowNumber = 12,
                   .ownerName = "Editor",
                   .windowName = "Main"}};
  fake.bundles[kPid] = "dev.vorn.Editor";
  auto ok = fakeNode("ok", "AXButton", "OK");
  ok->actions["AXPress"] = kAXErrorSuccess;
  auto entry = fakeNode("entry", "AXTextField");
  entry->attributes["AXValue"] = std::string("hi");
  entry->settable["AXValue"] = kAXErrorSuccess;
  auto main = withChildren(fakeNode("main", "AXWindow", "Main"),
                           {withChildren(fakeNode("group", "AXGroup"), {ok, entry})});
  auto app = fakeNode("app", "AXApplication");
  app->attributes["AXWindows"] = vorn::testing::elements({main});
  fake.accessibility.applications[kPid] = app;
  fake.shareable = {{.windowId = 12, .frame = {40, 50.5, 30, 20}}};
  fake.screen = vorn::platform::ScreenArea{0, 0, 1280, 1024};
}

void windowsAndInput(Samples& s) {
  s.send({{"op", "ping"}}, true, true);
  s.send({{"op", "list_windows"}, {"limit", 5}}, true, true);
  s.send({{"op", "list_windows"}, {"limit", "x"}}, false, true);
  s.send({{"op", "keypress"}, {"key", "ctrl+a"}}, true, true);
  s.send({{"op", "keypress"}, {"key", "cmd+q"}}, true, false);
  s.send({{"op", "click_xy"}, {"x", 10}, {"y", 20.5}, {"button", "right"}}, true, true);
  s.send({{"op", "click_xy"}, {"x", -10}, {"y", 20}}, true, false);
}

void accessibility(Samples& s, FakePlatform& fake) {
  json observed = s.send({{"op", "observe"},
                          {"pid", kPid},
                          {"title", "Main"},
                          {"app_name", "Editor"},
                          {"native_key", "pid:4242|win:12|bundle:dev.vorn.Editor"},
                          {"window_number", 12}},
                         true, true);
  s.send({{"op", "observe"}, {"pid", kPid}, {"max_depth", 1}, {"max_nodes", 1}}, true, true);
  s.send({{"op", "observe"}, {"pid", 0}}, false, false);
  s.send({{"op", "observe"}, {"pid", 777}}, true, false);
  std::string state = observed.value("state_id", "");
  s.send({{"op", "perform"}, {"action", "press"}, {"state_id", state}, {"ref", "@e2"}}, true, true);
  s.send({{"op", "perform"},
          {"action", "settext"},
          {"state_id", state},
          {"ref", "@e3"},
          {"text", "hello"}},
         true, true);
  s.send({{"op", "perform"}, {"action", "settext"}, {"state_id", state}, {"ref", "@e3"}}, true,
         false);
  s.send({{"op", "perform"}, {"action", "scroll"}, {"state_id", state}, {"ref", "@e3"}}, true,
         false);
  s.send({{"op", "perform"}, {"action", "jump"}, {"state_id", state}, {"ref", "@e2"}}, true, false);
  s.send({{"op", "perform"}, {"action", "press"}, {"state_id", "S-GONE"}, {"ref", "@e9"}}, true,
         false);
  s.send({{"op", "perform"}, {"action", "press"}}, true, false);
  s.send({{"op", "perform"}, {"action", "keypress"}, {"key", "Return"}}, true, true);
  s.send({{"op", "perform"}, {"action", "click"}, {"x", 5}, {"y", 5}}, true, true);
  fake.accessibility.trusted = false;
  s.send({{"op", "perform"}, {"action", "press"}, {"ref", "@e1"}}, true, false);
  fake.accessibility.trusted = true;
}

void screenshots(Samples& s, FakePlatform& fake) {
  s.send({{"op", "screenshot"}, {"window_number", 12}}, true, true);
  s.send({{"op", "screenshot"}, {"window_number", 13}}, true, false);
  s.send({{"op", "screenshot"}, {"window_number", "12"}}, false, false);
  fake.contentFailure = "cannot connect";
  s.send({{"op", "screenshot"}, {"window_number", 12}}, true, false);
}

TEST(HelperAnswers, OfEveryOperation) {
  const char* file = std::getenv("VORN_ANSWER_SAMPLES");
  ASSERT_NE(file, nullptr) << "VORN_ANSWER_SAMPLES names no file";
  std::string folder = (std::filesystem::temp_directory_path() / "vorn-cu-samples-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  ::setenv("TMPDIR", folder.c_str(), 1);
  FakePlatform fake;
  desktop(fake);
  Samples samples{std::ofstream(file, std::ios::trunc), fake};
  windowsAndInput(samples);
  accessibility(samples, fake);
  screenshots(samples, fake);
  samples.send({{"op", "no_such_op"}}, false, false);
  samples.sendText("{");
  samples.out.flush();
  EXPECT_TRUE(samples.out) << "cannot write " << file;
  std::filesystem::remove_all(folder);
}

}  // namespace
