#include <cmath>

#include "common/text.h"
#include "computer-use/accessibility/ax_core.h"
#include "computer-use/accessibility/text_entry.h"

namespace AXCore {
namespace {

using vorn::platform::AXError;
using vorn::platform::AXPoint;
using vorn::platform::AXSize;
using vorn::platform::AXValue;
using vorn::platform::kAXErrorSuccess;
using vorn::platform::Platform;

// The key and coordinate shortcuts, when the request is one of them.
std::optional<ActionOutcome> shortcut(const PerformRequest& request, Platform& platform) {
  if (request.action == "keypress" && request.key && !request.key->empty()) {
    return ActionOutcome{HID::postKeypress(*request.key, platform.input), false};
  }
  if ((request.action == "click" || request.action == "press") && !request.hasRef && request.x &&
      request.y) {
    return ActionOutcome{HID::postClick(*request.x, *request.y, request.button, platform.input),
                         false};
  }
  return std::nullopt;
}

// What the state tables hold for a reference: the element (when held) and
// the state's pid and title (when the state is held).
struct Held {
  AXElement element;
  std::int32_t pid = 0;
  std::optional<std::string> title;
};

Held lookUp(const std::string& stateId, const std::string& ref) {
  StateTables& t = tables();
  std::lock_guard<std::mutex> guard(t.lock);
  Held held;
  if (auto map = t.maps.find(stateId); map != t.maps.end()) {
    if (auto it = map->second.find(ref); it != map->second.end()) held.element = it->second;
  }
  if (auto meta = t.meta.find(stateId); meta != t.meta.end()) {
    held.pid = meta->second.pid;
    held.title = meta->second.title;
  }
  return held;
}

// The element found again in the live tree; used for this request only.
AXElement reattach(AXSession& ax, const PerformRequest& request, std::int32_t pid,
                   const std::string& title) {
  if (pid < 1) return nullptr;
  AXElement app = ax.createApplication(pid);
  AXElement window = findWindow(ax, app, title);
  if (!window) window = firstWindow(ax, app);
  if (!window) return nullptr;
  return findMatching(ax, window, request.role, request.title, request.value);
}

HID::Outcome outcomeOf(AXError error, std::string_view what) {
  if (error == kAXErrorSuccess) return {true, std::nullopt};
  return {false, std::string(what) + " failed (" + std::to_string(error) + ")"};
}

struct ActionContext {
  AXSession& ax;
  const AXElement& element;
  std::int32_t pid;
  const PerformRequest& request;
  Platform& platform;
};

// The centre of an element that a click can land on: one with a size, on the
// screen. Toolkits give hidden elements no size or far-off positions
// (LibreOffice's closed menus sit at -2147483648), which would click nowhere.
std::optional<AXPoint> centreOf(AXSession& ax, const AXElement& element,
                                vorn::platform::InputDevice& input) {
  AXValue position, size;
  if (ax.copyAttribute(element, "AXPosition", position) != kAXErrorSuccess) return std::nullopt;
  if (ax.copyAttribute(element, "AXSize", size) != kAXErrorSuccess) return std::nullopt;
  auto* p = std::get_if<AXPoint>(&position);
  auto* s = std::get_if<AXSize>(&size);
  if (p == nullptr || s == nullptr || !(s->width > 0) || !(s->height > 0)) return std::nullopt;
  AXPoint centre{p->x + s->width / 2, p->y + s->height / 2};
  if (!std::isfinite(centre.x) || !std::isfinite(centre.y)) return std::nullopt;
  auto area = input.screenArea();
  if (area && !area->contains(centre.x, centre.y)) return std::nullopt;
  return centre;
}

OrFailure<ActionOutcome> press(const ActionContext& c) {
  // Other buttons than the left one have no accessibility action: they click
  // the element's centre.
  if (c.request.button != "left") {
    if (auto centre = centreOf(c.ax, c.element, c.platform.input)) {
      return ActionOutcome{
          HID::postClick(centre->x, centre->y, c.request.button, c.platform.input)};
    }
  }
  return ActionOutcome{outcomeOf(c.ax.performAction(c.element, "AXPress"), "AX press")};
}

OrFailure<ActionOutcome> focus(const ActionContext& c) {
  return ActionOutcome{
      outcomeOf(c.ax.setAttribute(c.element, "AXFocused", AXValue(true)), "AX focus")};
}

OrFailure<ActionOutcome> setText(const ActionContext& c) {
  if (!c.request.text) return Failure{"invalid_arguments", "text is required"};
  return ActionOutcome{enterText(c.ax, c.element, c.pid, *c.request.text, c.platform)};
}

OrFailure<ActionOutcome> scroll(const ActionContext& c) {
  for (const char* action : {"AXScrollDownByPage", "AXScrollRightByPage", "AXPress"}) {
    if (c.ax.performAction(c.element, action) == kAXErrorSuccess) {
      return ActionOutcome{{true, std::string("scroll:") + action}};
    }
  }
  return ActionOutcome{{false, "AX scroll actions unavailable for this element"}};
}

struct ActionEntry {
  std::string_view name;
  OrFailure<ActionOutcome> (*run)(const ActionContext&);
};

constexpr ActionEntry kActions[] = {
    {"press", press},     {"click", press},      {"focus", focus},
    {"settext", setText}, {"typetext", setText}, {"scroll", scroll},
};

}  // namespace

OrFailure<ActionOutcome> perform(const PerformRequest& request, AXSession& ax, Platform& platform) {
  if (auto answer = shortcut(request, platform)) return *answer;
  if (request.ref.empty()) return Failure{"invalid_arguments", "Missing element ref."};
  Held held = lookUp(request.stateId, request.ref);
  std::int32_t pid = held.pid >= 1 ? held.pid : request.pid;
  std::string title = held.title ? *held.title : request.windowTitle;
  AXElement element = held.element ? held.element : reattach(ax, request, pid, title);
  if (!element) {
    return Failure{"unknown_element", "Element " + request.ref + " could not be reattached."};
  }
  if (request.preferBackground == false && pid >= 1) platform.applications.activate(pid);
  for (const auto& entry : kActions) {
    if (entry.name == request.action) return entry.run({ax, element, pid, request, platform});
  }
  return Failure{"unsupported", "Unknown action " + request.action};
}

}  // namespace AXCore
