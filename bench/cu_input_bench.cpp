// The helper's hot paths in process: one request through the protocol layer,
// and one key combination or click posted through XTest and synced with the
// server. The input benchmarks need $DISPLAY (run under scripts/with-desktop).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "computer-use/input/hid.h"
#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/linux/x11_input.h"
#include "computer-use/platform/null_platform.h"
#include "computer-use/protocol/json_text.h"

namespace {

void BM_HandleJSONTextPing(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        ComputerUseHelperMain::handleJSONText(R"({"op":"ping"})", vorn::platform::nullPlatform()));
  }
}
BENCHMARK(BM_HandleJSONTextPing);

void BM_HandleJSONTextKeypressNullPlatform(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComputerUseHelperMain::handleJSONText(
        R"({"op":"keypress","key":"cmd+shift+z"})", vorn::platform::nullPlatform()));
  }
}
BENCHMARK(BM_HandleJSONTextKeypressNullPlatform);

// One connection for the whole run, as in serve mode.
vorn::platform::x11::XTestInput& xtest() {
  static vorn::platform::x11::Connection connection;
  static vorn::platform::x11::XTestInput input(connection);
  return input;
}

bool needDisplay(benchmark::State& state) {
  if (std::getenv("DISPLAY") != nullptr && xtest().trusted()) return true;
  state.SkipWithError("needs an X display with XTest");
  return false;
}

void BM_KeyCombinationPostedAndSynced(benchmark::State& state) {
  if (!needDisplay(state)) return;
  for (auto _ : state) {
    auto outcome = HID::postKeypress("cmd+shift+z", xtest());
    if (!outcome.posted) state.SkipWithError("posting failed");
  }
}
BENCHMARK(BM_KeyCombinationPostedAndSynced)->Unit(benchmark::kMicrosecond);

void BM_ClickPostedAndSynced(benchmark::State& state) {
  if (!needDisplay(state)) return;
  for (auto _ : state) {
    auto outcome = HID::postClick(1200, 1000, "left", xtest());
    if (!outcome.posted) state.SkipWithError("posting failed");
  }
}
BENCHMARK(BM_ClickPostedAndSynced)->Unit(benchmark::kMicrosecond);

}  // namespace
