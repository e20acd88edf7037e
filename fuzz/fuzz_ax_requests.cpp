// Any request text for "observe" and "perform", run against a scripted
// element tree: whatever the fields hold, the answers keep their shapes
// (ten keys, seven per node and references numbered without gaps; four keys
// for element actions, three for shortcuts and failures, never "error"
// beside "outcome"), and titles compare under canonical equivalence.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>

#include "common/text.h"
#include "computer-use/accessibility/ax_core.h"
#include "computer-use/protocol/dispatch.h"
#include "computer-use/protocol/json_text.h"
#include "tests/unit/fake_platform.h"

namespace {

using vorn::testing::FakeNode;
using vorn::testing::fakeNode;
using vorn::testing::withChildren;

void check(bool holds) {
  if (!holds) std::abort();
}

vorn::testing::FakePlatform& desktop() {
  static auto* fake = [] {
    auto* f = new vorn::testing::FakePlatform();
    auto button = fakeNode("b", "AXButton", "Caf\u00e9");
    button->actions["AXPress"] = vorn::platform::kAXErrorSuccess;
    button->attributes["AXPosition"] = vorn::platform::AXPoint{10, 20};
    button->attributes["AXSize"] = vorn::platform::AXSize{30, 40};
    auto field = fakeNode("f", "AXTextField");
    field->attributes["AXValue"] = std::string("x");
    field->settable["AXValue"] = vorn::platform::kAXErrorSuccess;
    std::vector<FakeNode> rows;
    for (int i = 0; i < 6; ++i) {
      rows.push_back(withChildren(fakeNode("r", "AXRow"), {fakeNode("c", "AXCell", "7")}));
    }
    auto table = withChildren(fakeNode("t", "AXTable"), rows);
    auto window = withChildren(fakeNode("w", "AXWindow", "Main"), {button, field, table});
    auto app = fakeNode("a", "AXApplication");
    app->attributes["AXWindows"] = vorn::testing::elements({window});
    f->accessibility.applications[7] = app;
    return f;
  }();
  fake->accessibility.calls.clear();
  fake->posted.clear();
  return *fake;
}

void checkNode(const ComputerUseHelperMain::Dictionary& node, std::set<std::string>& refs) {
  check(node.is_object() && node.size() == 7);
  check(refs.insert(node["ref"].get<std::string>()).second);
  for (const auto& child : node["children"]) checkNode(child, refs);
}

void checkObserve(const ComputerUseHelperMain::Dictionary& answer) {
  if (answer["ok"] != true) {
    check(answer.size() == 3 && answer.contains("error"));
    return;
  }
  check(answer.size() == 10 && answer["outline"].size() == 1);
  std::set<std::string> refs;
  checkNode(answer["outline"][0], refs);
  check(refs.size() == answer["elements"].size());
  for (std::size_t i = 0; i < refs.size(); ++i) check(refs.contains("@e" + std::to_string(i)));
}

void checkPerform(const ComputerUseHelperMain::Dictionary& answer) {
  if (answer.contains("outcome")) {
    check(!answer.contains("error"));
    check(answer.size() == (answer.contains("ax_in_helper") ? 4u : 3u));
    check(answer["ok"] == (answer["outcome"] == "worked"));
  } else {
    check(answer.size() == 3 && answer["ok"] == false && answer.contains("error"));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto request = ComputerUseHelperMain::parseRequest(bytes);
  if (!request) return 0;
  auto& fake = desktop();
  // The request as each operation reads it, whatever its "op" said.
  (*request)["op"] = "observe";
  ComputerUseHelperMain::Dictionary observed =
      ComputerUseHelperMain::handle(*request, fake.platform());
  checkObserve(observed);
  check(ComputerUseHelperMain::encodeAnswer(observed) != ComputerUseHelperMain::kEncodeFailed);
  (*request)["op"] = "perform";
  checkPerform(ComputerUseHelperMain::handle(*request, fake.platform()));
  if (auto title = request->find("title"); title != request->end() && title->is_string()) {
    std::string text = title->get<std::string>();
    check(vorn::text::canonicallyEqual(text, vorn::text::toNfc(text)));
  }
  return 0;
}
