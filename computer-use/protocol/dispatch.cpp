// Handlers read their arguments (a wrong JSON type counts as missing), call a
// module that knows nothing of JSON, and build the answer.
#include "computer-use/protocol/dispatch.h"

#include <unistd.h>

#include <cmath>
#include <exception>
#include <nlohmann/json.hpp>

#include "common/text.h"
#include "computer-use/accessibility/ax_core.h"
#include "computer-use/capture/capture.h"
#include "computer-use/input/hid.h"
#include "computer-use/protocol/window_listing.h"

namespace ComputerUseHelperMain {
namespace {

using vorn::platform::Platform;

constexpr double kDefaultWindowLimit = 40;

std::string stringArgument(const Dictionary& request, const char* key, std::string fallback) {
  auto it = request.find(key);
  return it != request.end() && it->is_string() ? it->get<std::string>() : fallback;
}

double numberArgument(const Dictionary& request, const char* key, double fallback) {
  auto it = request.find(key);
  return it != request.end() && it->is_number() ? it->get<double>() : fallback;
}

// Whole numbers only; 2.5 or "3" mean the default.
double limitArgument(const Dictionary& request) {
  auto it = request.find("limit");
  if (it == request.end() || !it->is_number()) return kDefaultWindowLimit;
  double limit = it->get<double>();
  return std::isfinite(limit) && std::trunc(limit) == limit ? limit : kDefaultWindowLimit;
}

Dictionary nullable(const std::optional<std::string>& text) {
  return text ? Dictionary(*text) : Dictionary(nullptr);
}

Dictionary failure(std::string_view error, std::string_view message) {
  return {{"ok", false}, {"error", error}, {"message", message}};
}

Dictionary inputAnswer(const HID::Outcome& outcome) {
  return {{"ok", outcome.posted},
          {"outcome", outcome.posted ? "worked" : "didnt"},
          {"message", nullable(outcome.message)}};
}

Dictionary ping(const Dictionary&, Platform&) {
  return {{"ok", true},
          {"helper", "vorn-computer-use"},
          {"pid", static_cast<std::int32_t>(::getpid())},
          {"ax_in_helper", true}};
}

Dictionary listWindowsOperation(const Dictionary& request, Platform& platform) {
  // An empty list would say that no window is open.
  if (auto reason = platform.windows.windowsUnsupported()) return failure("unsupported", *reason);
  Dictionary windows = Dictionary::array();
  for (const auto& record : listWindows(limitArgument(request), platform)) {
    windows.push_back({{"pid", record.pid},
                       {"window_number", record.windowNumber},
                       {"title", record.title},
                       {"bundle_id", nullable(record.bundleId)},
                       {"app_name", record.appName},
                       {"native_key", record.nativeKey}});
  }
  return {{"ok", true}, {"windows", std::move(windows)}};
}

Dictionary keypress(const Dictionary& request, Platform& platform) {
  return inputAnswer(HID::postKeypress(stringArgument(request, "key", ""), platform.input));
}

Dictionary clickXY(const Dictionary& request, Platform& platform) {
  return inputAnswer(HID::postClick(numberArgument(request, "x", 0),
                                    numberArgument(request, "y", 0),
                                    stringArgument(request, "button", "left"), platform.input));
}

// One entry a line.
// clang-format off
constexpr OperationEntry kOperations[] = {
    {"ping", ping},
    {"list_windows", listWindowsOperation},
    {"observe", AXCore::observe},
    {"perform", AXCore::perform},
    {"keypress", keypress},
    {"click_xy", clickXY},
    {"screenshot", Capture::capture},
};
// clang-format on

}  // namespace

std::span<const OperationEntry> operationTable() { return kOperations; }

std::string operationName(const Dictionary& request) {
  return vorn::text::lowercase(vorn::text::trim(stringArgument(request, "op", "")));
}

Dictionary handle(const Dictionary& request, Platform& platform) {
  std::string name = operationName(request);
  for (const auto& entry : kOperations) {
    if (entry.name != name) continue;
    // The last line of defence: nothing unexpected may escape an operation.
    try {
      return entry.run(request, platform);
    } catch (const std::exception& e) {
      return failure("internal_error", vorn::text::toValidUtf8(e.what()));
    } catch (...) {
      return failure("internal_error", "unexpected failure");
    }
  }
  return {{"ok", false}, {"error", "unknown_op"}, {"op", name}};
}

}  // namespace ComputerUseHelperMain
