// One entry per operation: adding one is an entry here, its typed request
// (requests.h), its answer (answers.h) and its module.
#include "computer-use/protocol/operation_table.h"

#include <unistd.h>

#include "computer-use/protocol/answers.h"
#include "computer-use/protocol/operation_fields.h"
#include "computer-use/protocol/requests.h"

namespace ComputerUseHelperMain {
namespace {

using namespace fields;

// The Serve of an operation whose typed request `Read(request)` makes and
// whose module function `Run(typed, context)` takes: a refused request is
// answered before the prerequisite is looked at.
template <auto Read, auto Run>
Dictionary serve(const Dictionary& request, Prerequisite prerequisite, Context& context) {
  auto typed = Read(request);
  if (auto* refused = std::get_if<vorn::Failure>(&typed)) return answerOf(*refused);
  if (auto failure = context.establish(prerequisite)) return answerOf(*failure);
  return answerOf(Run(std::get<0>(typed), context));
}

Pong ping(const PingRequest&, Context&) { return {static_cast<std::int32_t>(::getpid())}; }

std::vector<WindowRecord> windows(const ListWindowsRequest& request, Context& context) {
  return listWindows(request.limit, context.platform);
}

auto observe(const AXCore::ObserveRequest& request, Context& context) {
  return AXCore::observe(request, context.session());
}

auto perform(const AXCore::PerformRequest& request, Context& context) {
  return AXCore::perform(request, context.session(), context.platform);
}

HID::Outcome keypress(const HID::KeypressRequest& request, Context& context) {
  return HID::keypress(request, context.platform);
}

HID::Outcome click(const HID::ClickRequest& request, Context& context) {
  return HID::clickXY(request, context.platform);
}

Capture::Outcome screenshot(const Capture::CaptureRequest& request, Context& context) {
  return Capture::capture(request, context.platform);
}

constexpr Field kListFields[] = {kLimit};
constexpr Field kObserveFields[] = {kObservePid, kWindowTitle, kMaxDepth,         kMaxNodes,
                                    kAppName,    kBundleId,    kWindowNumberEcho, kNativeKey};
constexpr Field kPerformFields[] = {
    kAction,       kStateId,      kRef,  kPerformPid, kPerformWindowTitle, kRole,
    kElementTitle, kElementValue, kText, kButton,     kPreferBackground,   kPerformKey,
    kPerformX,     kPerformY};
constexpr Field kKeypressFields[] = {kKey};
constexpr Field kClickFields[] = {kX, kY, kButton};
constexpr Field kScreenshotFields[] = {kWindowNumber};

// clang-format off
constexpr Operation kOperations[] = {
    {{"ping", "Answers that the helper is there, with its pid.", {}, kPingAnswer},
     Prerequisite::kNone, serve<pingRequest, ping>},
    {{"list_windows", "Lists the on-screen windows of applications, front to back.",
      kListFields, kWindowsAnswer},
     Prerequisite::kNone, serve<listWindowsRequest, windows>},
    {{"observe", "Reads a window's accessibility tree into element references held under "
      "a state id.", kObserveFields, kObserveAnswer},
     Prerequisite::kAccessibility, serve<observeRequest, observe>},
    {{"perform", "Acts on an observed element (press, focus, set text, scroll), or types a "
      "key or clicks a point.", kPerformFields, kActionAnswer},
     Prerequisite::kAccessibility, serve<performRequest, perform>},
    {{"keypress", "Types one key combination.", kKeypressFields, kInputAnswer},
     Prerequisite::kNone, serve<keypressRequest, keypress>},
    {{"click_xy", "Clicks a mouse button at a point of the screen.", kClickFields,
      kInputAnswer},
     Prerequisite::kNone, serve<clickRequest, click>},
    {{"screenshot", "Captures one window into a PNG file; answers its path and sizes.",
      kScreenshotFields, kScreenshotAnswer},
     Prerequisite::kNone, serve<captureRequest, screenshot>},
};
// clang-format on

}  // namespace

std::span<const Operation> operationTable() { return kOperations; }

const Operation* findOperation(std::string_view name) {
  return vorn::schema::findOperation(operationTable(), name);
}

std::span<const vorn::schema::Field> failureAnswerFields() { return kFailureAnswer; }

std::string_view describe(Prerequisite prerequisite) {
  switch (prerequisite) {
    case Prerequisite::kAccessibility:
      return "Needs the accessibility bus.";
    case Prerequisite::kNone:
      break;
  }
  return "";
}

std::optional<vorn::Failure> Context::establish(Prerequisite prerequisite) {
  if (prerequisite != Prerequisite::kAccessibility) return std::nullopt;
  session_ = platform.accessibility.openSession();
  if (!session_->isProcessTrusted()) {
    return vorn::Failure{"permission_required", std::string(AXCore::kNotTrusted)};
  }
  return std::nullopt;
}

}  // namespace ComputerUseHelperMain
