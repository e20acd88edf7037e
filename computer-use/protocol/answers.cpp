#include "computer-use/protocol/answers.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "computer-use/capture/screenshot_folder.h"

namespace ComputerUseHelperMain {
namespace {

Dictionary echoed(const std::optional<std::string>& text) {
  return text ? Dictionary::parse(*text) : Dictionary(nullptr);
}

// A node with its children; each node is also copied into `elements`, at
// the place its reference number gives (pre-order).
Dictionary nodeAnswer(const AXCore::Node& node, std::vector<Dictionary>& elements) {
  std::size_t slot = elements.size();
  elements.emplace_back();
  Dictionary children = Dictionary::array();
  for (const auto& child : node.children) children.push_back(nodeAnswer(child, elements));
  Dictionary answer = {{"ref", node.ref},
                       {"role", node.role},
                       {"title", nullable(node.title)},
                       {"value", nullable(node.value)},
                       {"description", nullable(node.description)},
                       {"enabled", node.enabled},
                       {"children", std::move(children)}};
  elements[slot] = answer;
  return answer;
}

// Whole numbers are written without a fraction, as the caller's platform
// writes them.
Dictionary number(double v) {
  if (std::trunc(v) == v && std::fabs(v) < 9007199254740992.0) return static_cast<std::int64_t>(v);
  return v;
}

}  // namespace

Dictionary nullable(const std::optional<std::string>& text) {
  return text ? Dictionary(*text) : Dictionary(nullptr);
}

Dictionary answerOf(const vorn::Failure& failure) {
  return {{"ok", false}, {"error", failure.error}, {"message", failure.message}};
}

Dictionary answerOf(const Pong& pong) {
  return {{"ok", true}, {"helper", "vorn-computer-use"}, {"pid", pong.pid}, {"ax_in_helper", true}};
}

Dictionary answerOf(const std::vector<WindowRecord>& windows) {
  Dictionary records = Dictionary::array();
  for (const auto& record : windows) {
    records.push_back({{"pid", record.pid},
                       {"window_number", record.windowNumber},
                       {"title", record.title},
                       {"bundle_id", nullable(record.bundleId)},
                       {"app_name", record.appName},
                       {"native_key", record.nativeKey}});
  }
  return {{"ok", true}, {"windows", std::move(records)}};
}

Dictionary answerOf(const HID::Outcome& outcome) {
  return {{"ok", outcome.posted},
          {"outcome", outcome.posted ? "worked" : "didnt"},
          {"message", nullable(outcome.message)}};
}

Dictionary answerOf(const AXCore::ActionOutcome& action) {
  Dictionary answer = answerOf(action.outcome);
  if (action.throughElement) answer["ax_in_helper"] = true;
  return answer;
}

Dictionary answerOf(const AXCore::Observation& observation) {
  std::vector<Dictionary> elements;
  Dictionary root = nodeAnswer(observation.root, elements);
  return {{"ok", true},
          {"state_id", observation.stateId},
          {"pid", observation.pid},
          {"bundle_id", echoed(observation.echoes.bundleId)},
          {"window_number", echoed(observation.echoes.windowNumber)},
          {"native_key", echoed(observation.echoes.nativeKey)},
          {"title", observation.title},
          {"outline", Dictionary::array({std::move(root)})},
          {"elements", std::move(elements)},
          {"ax_in_helper", true}};
}

Dictionary answerOf(const Capture::Outcome& outcome) {
  if (const auto* failure = std::get_if<vorn::Failure>(&outcome)) return answerOf(*failure);
  const auto& shot = std::get<Capture::Screenshot>(outcome);
  return {{"ok", true},
          {"path", shot.path},
          {"url", Capture::fileUrl(shot.path)},
          {"window_number", shot.windowNumber},
          {"window_frame",
           {{"x", number(shot.frame.x)},
            {"y", number(shot.frame.y)},
            {"width", number(shot.frame.width)},
            {"height", number(shot.frame.height)}}},
          {"image_size", {{"width", shot.imageSize.width}, {"height", shot.imageSize.height}}},
          {"scale", number(shot.scale)},
          {"vision", "attached"},
          {"ax_in_helper", true}};
}

}  // namespace ComputerUseHelperMain
