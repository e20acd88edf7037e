#include "computer-use/accessibility/ax_core.h"

namespace AXCore {
namespace {

using vorn::platform::AXValue;

bool enabledOf(AXSession& ax, const AXElement& element) {
  AXValue value;
  if (ax.copyAttribute(element, "AXEnabled", value) != vorn::platform::kAXErrorSuccess) return true;
  if (auto* b = std::get_if<bool>(&value)) return *b;
  if (auto* d = std::get_if<double>(&value)) return *d != 0;
  return true;
}

Node nodeOf(AXSession& ax, const AXElement& element, std::string ref, std::vector<Node> children) {
  return {.ref = std::move(ref),
          .role = stringAttr(ax, element, "AXRole").value_or("unknown"),
          .title = stringAttr(ax, element, "AXTitle"),
          .value = stringAttr(ax, element, "AXValue"),
          .description = stringAttr(ax, element, "AXDescription"),
          .enabled = enabledOf(ax, element),
          .children = std::move(children)};
}

// The walk below one element: containers that pass through are replaced by
// their children, at their own depth and with no reference of their own.
struct Walk {
  AXSession& ax;
  int maxDepth;
  int maxNodes;
  int& counter;
  AXMap& axMap;
  int passBudget;

  void list(const AXElement& element, int depth, int nesting, std::vector<Node>& nodes) {
    if (depth >= maxDepth || counter >= maxNodes) return;
    for (const auto& child : copyElements(ax, element, "AXChildren")) {
      if (counter >= maxNodes) break;
      if (nesting < vorn::platform::kPassThroughNesting && passBudget > 0 &&
          ax.passesThrough(child)) {
        --passBudget;
        list(child, depth, nesting + 1, nodes);
        continue;
      }
      std::string ref = "@e" + std::to_string(++counter);
      std::vector<Node> children;
      list(child, depth + 1, 0, children);
      axMap[ref] = child;
      nodes.push_back(nodeOf(ax, child, std::move(ref), std::move(children)));
    }
  }
};

}  // namespace

std::vector<Node> buildTree(AXSession& ax, const AXElement& element, int depth, int maxDepth,
                            int maxNodes, int& counter, AXMap& axMap) {
  std::vector<Node> nodes;
  Walk walk{ax, maxDepth, maxNodes, counter, axMap, vorn::platform::passThroughBudget(maxNodes)};
  walk.list(element, depth, 0, nodes);
  return nodes;
}

OrFailure<Observation> observe(const ObserveRequest& request, AXSession& ax) {
  AXElement app = ax.createApplication(request.pid);
  AXElement window = findWindow(ax, app, request.title);
  if (!window) window = firstWindow(ax, app);
  if (!window) return Failure{"unknown_root", "Window not found"};

  ax.prefetch(window, request.maxDepth, request.maxNodes);
  int counter = 0;
  AXMap axMap;
  auto children = buildTree(ax, window, 0, request.maxDepth, request.maxNodes, counter, axMap);
  axMap["@e0"] = window;

  std::string stateId = newStateId();
  storeState(stateId, std::move(axMap), {request.pid, request.title, request.echoes});
  return Observation{.stateId = std::move(stateId),
                     .pid = request.pid,
                     .title = request.title,
                     .echoes = request.echoes,
                     .root = {.ref = "@e0",
                              .role = "window",
                              .title = request.title,
                              .value = std::nullopt,
                              .description = request.appName,
                              .enabled = true,
                              .children = std::move(children)}};
}

}  // namespace AXCore
