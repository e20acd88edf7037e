#include <cmath>

#include "common/text.h"
#include "computer-use/accessibility/ax_core.h"
#include "computer-use/accessibility/fields.h"
#include "computer-use/accessibility/text_entry.h"

namespace AXCore {
namespace {

using vorn::platform::AXError;
using vorn::platform::AXPoint;
using vorn::platform::AXSize;
using vorn::platform::AXValue;
using vorn::platform::kAXErrorSuccess;
using vorn::platform::Platform;

Dictionary shortcutResult(const HID::Outcome& outcome) {
  return {{"ok", outcome.posted},
          {"outcome", outcome.posted ? "worked" : "didnt"},
          {"message", outcome.message ? Dictionary(*outcome.message) : Dictionary(nullptr)}};
}

// The key and coordinate shortcuts, when the request is one of them.
std::optional<Dictionary> shortcut(const Dictionary& request, const std::string& action,
                                   const std::string& button, Platform& platform) {
  if (action == "keypress") {
    auto key = optionalString(request, "key");
    if (key && !key->empty()) return shortcutResult(HID::postKeypress(*key, platform.input));
  }
  // Any "ref" key, null or empty included, makes it an element request.
  if ((action == "click" || action == "press") && !request.contains("ref")) {
    const Dictionary* x = field(request, "x");
    const Dictionary* y = field(request, "y");
    if (x != nullptr && y != nullptr && x->is_number() && y->is_number()) {
      return shortcutResult(
          HID::postClick(x->get<double>(), y->get<double>(), button, platform.input));
    }
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
    held.pid = int32(field(meta->second, "pid"));
    held.title = optionalString(meta->second, "title");
  }
  return held;
}

// The element found again in the live tree; used for this request only.
AXElement reattach(AXSession& ax, const Dictionary& request, std::int32_t pid,
                   const std::string& title) {
  if (pid < 1) return nullptr;
  AXElement app = ax.createApplication(pid);
  AXElement window = findWindow(ax, app, title);
  if (!window) window = firstWindow(ax, app);
  if (!window) return nullptr;
  return findMatching(ax, window, stringField(request, "role"), optionalString(request, "title"),
                      optionalString(request, "value"));
}

HID::Outcome outcomeOf(AXError error, std::string_view what) {
  if (error == kAXErrorSuccess) return {true, std::nullopt};
  return {false, std::string(what) + " failed (" + std::to_string(error) + ")"};
}

struct ActionContext {
  AXSession& ax;
  const AXElement& element;
  std::int32_t pid;
  const Dictionary& request;
  const std::string& button;
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

Dictionary press(const ActionContext& c) {
  // Other buttons than the left one have no accessibility action: they click
  // the element's centre.
  if (c.button != "left") {
    if (auto centre = centreOf(c.ax, c.element, c.platform.input)) {
      return result(HID::postClick(centre->x, centre->y, c.button, c.platform.input));
    }
  }
  return result(outcomeOf(c.ax.performAction(c.element, "AXPress"), "AX press"));
}

Dictionary focus(const ActionContext& c) {
  return result(outcomeOf(c.ax.setAttribute(c.element, "AXFocused", AXValue(true)), "AX focus"));
}

Dictionary setText(const ActionContext& c) {
  auto text = optionalString(c.request, "text");
  if (!text) return failure("invalid_arguments", "text is required");
  return enterText(c.ax, c.element, c.pid, *text, c.platform);
}

Dictionary scroll(const ActionContext& c) {
  for (const char* action : {"AXScrollDownByPage", "AXScrollRightByPage", "AXPress"}) {
    if (c.ax.performAction(c.element, action) == kAXErrorSuccess) {
      return result({true, std::string("scroll:") + action});
    }
  }
  return result({false, "AX scroll actions unavailable for this element"});
}

struct ActionEntry {
  std::string_view name;
  Dictionary (*run)(const ActionContext&);
};

constexpr ActionEntry kActions[] = {
    {"press", press},     {"click", press},      {"focus", focus},
    {"settext", setText}, {"typetext", setText}, {"scroll", scroll},
};

}  // namespace

Dictionary result(const HID::Outcome& outcome) {
  Dictionary answer = shortcutResult(outcome);
  answer["ax_in_helper"] = true;
  return answer;
}

Dictionary perform(const Dictionary& request, Platform& platform) {
  auto ax = platform.accessibility.openSession();
  if (!ax->isProcessTrusted()) return failure("permission_required", kNotTrusted);
  std::string action = vorn::text::lowercase(stringField(request, "action"));
  std::string button = vorn::text::lowercase(optionalString(request, "button").value_or("left"));
  if (auto answer = shortcut(request, action, button, platform)) return *answer;

  std::string stateId = stringField(request, "state_id");
  std::string ref = stringField(request, "ref");
  if (ref.empty()) return failure("invalid_arguments", "Missing element ref.");
  Held held = lookUp(stateId, ref);
  std::int32_t pid = held.pid >= 1 ? held.pid : int32(field(request, "pid"));
  std::string title = held.title ? *held.title : stringField(request, "window_title");
  AXElement element = held.element ? held.element : reattach(*ax, request, pid, title);
  if (!element) return failure("unknown_element", "Element " + ref + " could not be reattached.");

  if (const Dictionary* background = field(request, "prefer_background");
      background != nullptr && background->is_boolean() && !background->get<bool>() && pid >= 1) {
    platform.applications.activate(pid);
  }
  for (const auto& entry : kActions) {
    if (entry.name == action) return entry.run({*ax, element, pid, request, button, platform});
  }
  return failure("unsupported", "Unknown action " + action);
}

}  // namespace AXCore
