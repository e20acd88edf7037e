// The helper as a service on the desktop's own session bus: a state observed
// by one call is used by the next, and the action reaches the application.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tests/desktop/fixture_app.h"
#include "tests/support/private_bus.h"
#include "tests/support/program_session.h"

namespace {

using nlohmann::json;

std::string refOf(const json& node, const std::string& role) {
  if (node["role"] == role) return node["ref"];
  for (const auto& child : node["children"]) {
    if (auto ref = refOf(child, role); !ref.empty()) return ref;
  }
  return "";
}

TEST(HelperServiceOnTheDesktop, StatesObservedInOneCallServeTheNext) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!vorn::testing::haveDisplay() || address == nullptr) {
    GTEST_SKIP() << "needs a desktop: run under scripts/with-desktop";
  }
  vorn::testing::FixtureApp app({});
  ASSERT_TRUE(app.ready());
  vorn::testing::ProgramSession service(VORN_COMPUTER_USE, {{"--xpc-service"}});
  auto call = [&](const json& request) {
    std::string reply =
        vorn::testing::performRequest(address, "dev.vorn.ComputerUse", "/dev/vorn/ComputerUse",
                                      "dev.vorn.ComputerUse1", request.dump());
    return json::parse(reply, nullptr, false);
  };
  // The first calls come before the service owns its name: a bounded wait
  // (a sanitized build starts slowly on a loaded machine), timing nothing.
  json seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!seen.is_object() && std::chrono::steady_clock::now() < deadline) {
    seen = call({{"op", "observe"}, {"pid", app.pid()}});
    if (!seen.is_object()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(seen.value("ok", false), true) << seen;
  json pressed = call({{"op", "perform"},
                       {"state_id", seen["state_id"]},
                       {"ref", refOf(seen["outline"][0], "AXButton")},
                       {"action", "press"}});
  EXPECT_EQ(pressed["ok"], true) << pressed;
  EXPECT_TRUE(app.waitFor(
      [](const json& e) { return e.value("event", "") == "clicked" && e["widget"] == "button"; }));
}

}  // namespace
