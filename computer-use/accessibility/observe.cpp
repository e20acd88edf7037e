#include <algorithm>
#include <cmath>
#include <limits>

#include "computer-use/accessibility/ax_core.h"
#include "computer-use/accessibility/fields.h"

namespace AXCore {
namespace {

using vorn::platform::AXValue;

constexpr int kDefaultMaxDepth = 4;
constexpr int kDefaultMaxNodes = 180;

// A limit: a whole number (2.0 counts; 2.5, a string or a boolean do not),
// kept within int so that a huge one means "no limit" rather than wrapping.
int limitField(const Dictionary& request, const char* key, int fallback) {
  const Dictionary* v = field(request, key);
  if (v == nullptr || !v->is_number()) return fallback;
  double d = v->get<double>();
  if (!std::isfinite(d) || std::trunc(d) != d) return fallback;
  constexpr double kMax = std::numeric_limits<int>::max();
  return static_cast<int>(std::clamp(d, -kMax, kMax));
}

// The request's value, or null when it did not send one.
Dictionary echoed(const Dictionary& request, const char* key) {
  const Dictionary* v = field(request, key);
  return v != nullptr ? *v : Dictionary(nullptr);
}

Dictionary nullable(const std::optional<std::string>& text) {
  return text ? Dictionary(*text) : Dictionary(nullptr);
}

bool enabledOf(AXSession& ax, const AXElement& element) {
  AXValue value;
  if (ax.copyAttribute(element, "AXEnabled", value) != vorn::platform::kAXErrorSuccess) return true;
  if (auto* b = std::get_if<bool>(&value)) return *b;
  if (auto* d = std::get_if<double>(&value)) return *d != 0;
  return true;
}

Dictionary nodeDictionary(AXSession& ax, const AXElement& element, std::string ref,
                          std::vector<Dictionary> children) {
  return {{"ref", std::move(ref)},
          {"role", stringAttr(ax, element, "AXRole").value_or("unknown")},
          {"title", nullable(stringAttr(ax, element, "AXTitle"))},
          {"value", nullable(stringAttr(ax, element, "AXValue"))},
          {"description", nullable(stringAttr(ax, element, "AXDescription"))},
          {"enabled", enabledOf(ax, element)},
          {"children", std::move(children)}};
}

Dictionary rootDictionary(const Dictionary& request, std::vector<Dictionary> children) {
  return {{"ref", "@e0"},
          {"role", "window"},
          {"title", stringField(request, "title")},
          {"value", nullptr},
          {"description", stringField(request, "app_name")},
          {"enabled", true},
          {"children", std::move(children)}};
}

StateMeta metaFor(const Dictionary& request, std::int32_t pid) {
  StateMeta meta = {{"pid", pid}, {"title", stringField(request, "title")}};
  for (const char* key : {"bundle_id", "window_number", "native_key"}) {
    if (const Dictionary* v = field(request, key)) meta[key] = *v;
  }
  return meta;
}

}  // namespace

namespace {

// The walk below one element: containers that pass through are replaced by
// their children, at their own depth and with no reference of their own.
struct Walk {
  AXSession& ax;
  int maxDepth;
  int maxNodes;
  int& counter;
  NodesByRef& byRef;
  AXMap& axMap;
  int passBudget;

  void list(const AXElement& element, int depth, int nesting, std::vector<Dictionary>& nodes) {
    if (depth >= maxDepth || counter >= maxNodes) return;
    for (const auto& child : copyElements(ax, element, "AXChildren")) {
      if (counter >= maxNodes) break;
      if (nesting < vorn::platform::kPassThroughNesting && passBudget > 0 &&
          ax.passesThrough(child)) {
        --passBudget;
        list(child, depth, nesting + 1, nodes);
        continue;
      }
      int number = ++counter;
      std::string ref = "@e" + std::to_string(number);
      std::vector<Dictionary> children;
      list(child, depth + 1, 0, children);
      Dictionary node = nodeDictionary(ax, child, ref, std::move(children));
      byRef[number] = node;
      axMap[ref] = child;
      nodes.push_back(std::move(node));
    }
  }
};

}  // namespace

std::vector<Dictionary> buildTree(AXSession& ax, const AXElement& element, int depth, int maxDepth,
                                  int maxNodes, int& counter, NodesByRef& byRef, AXMap& axMap) {
  std::vector<Dictionary> nodes;
  Walk walk{
      ax, maxDepth, maxNodes, counter, byRef, axMap, vorn::platform::passThroughBudget(maxNodes)};
  walk.list(element, depth, 0, nodes);
  return nodes;
}

Dictionary observe(const Dictionary& request, vorn::platform::Platform& platform) {
  std::int32_t pid = int32(field(request, "pid"));
  if (pid < 1) return failure("invalid_arguments", "pid is required");
  auto ax = platform.accessibility.openSession();
  if (!ax->isProcessTrusted()) {
    return failure("permission_required", kNotTrusted);
  }
  std::string title = stringField(request, "title");
  int maxDepth = limitField(request, "max_depth", kDefaultMaxDepth);
  int maxNodes = limitField(request, "max_nodes", kDefaultMaxNodes);

  AXElement app = ax->createApplication(pid);
  AXElement window = findWindow(*ax, app, title);
  if (!window) window = firstWindow(*ax, app);
  if (!window) return failure("unknown_root", "Window not found");

  ax->prefetch(window, maxDepth, maxNodes);
  int counter = 0;
  NodesByRef byRef;
  AXMap axMap;
  auto children = buildTree(*ax, window, 0, maxDepth, maxNodes, counter, byRef, axMap);
  Dictionary root = rootDictionary(request, std::move(children));
  byRef[0] = root;
  axMap["@e0"] = window;

  std::string stateId = newStateId();
  storeState(stateId, std::move(axMap), metaFor(request, pid));

  Dictionary elements = Dictionary::array();
  for (auto& [number, node] : byRef) elements.push_back(std::move(node));
  return {{"ok", true},
          {"state_id", stateId},
          {"pid", pid},
          {"bundle_id", echoed(request, "bundle_id")},
          {"window_number", echoed(request, "window_number")},
          {"native_key", echoed(request, "native_key")},
          {"title", title},
          {"outline", Dictionary::array({std::move(root)})},
          {"elements", std::move(elements)},
          {"ax_in_helper", true}};
}

}  // namespace AXCore
