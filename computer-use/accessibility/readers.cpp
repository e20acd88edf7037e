#include <charconv>
#include <cmath>

#include "common/text.h"
#include "computer-use/accessibility/ax_core.h"

namespace AXCore {
namespace {

using vorn::platform::AXValue;

std::string numberText(double v) {
  if (std::isfinite(v) && std::trunc(v) == v && std::fabs(v) < 1e15) {
    return std::to_string(static_cast<long long>(v));
  }
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, v);
  return error == std::errc() ? std::string(buffer, end) : std::string();
}

bool sameText(const std::optional<std::string>& actual, const std::string& wanted) {
  return actual && vorn::text::canonicallyEqual(*actual, wanted);
}

bool matches(AXSession& ax, const AXElement& element, std::string_view role,
             const std::optional<std::string>& title, const std::optional<std::string>& value) {
  if (!role.empty() && !sameText(stringAttr(ax, element, "AXRole"), std::string(role))) {
    return false;
  }
  if (title && !sameText(stringAttr(ax, element, "AXTitle"), *title)) return false;
  if (value && !sameText(stringAttr(ax, element, "AXValue"), *value)) return false;
  return true;
}

struct Search {
  AXSession& ax;
  std::string_view role;
  const std::optional<std::string>& title;
  const std::optional<std::string>& value;
  int budget = kFindMatchingBudget;

  AXElement from(const AXElement& element, int depth) {
    if (budget <= 0) return nullptr;
    --budget;
    if (matches(ax, element, role, title, value)) return element;
    if (depth >= kFindMatchingDepth) return nullptr;
    for (const auto& child : copyElements(ax, element, "AXChildren")) {
      if (auto found = from(child, depth + 1)) return found;
      if (budget <= 0) break;
    }
    return nullptr;
  }
};

}  // namespace

std::optional<std::string> stringAttr(AXSession& ax, const AXElement& element,
                                      std::string_view attribute) {
  AXValue value;
  if (ax.copyAttribute(element, attribute, value) != vorn::platform::kAXErrorSuccess) {
    return std::nullopt;
  }
  if (auto* s = std::get_if<std::string>(&value)) return *s;
  if (auto* d = std::get_if<double>(&value)) return numberText(*d);
  if (auto* b = std::get_if<bool>(&value)) return *b ? "1" : "0";
  return std::nullopt;
}

std::vector<AXElement> copyElements(AXSession& ax, const AXElement& element,
                                    std::string_view attribute) {
  AXValue value;
  if (ax.copyAttribute(element, attribute, value) != vorn::platform::kAXErrorSuccess) return {};
  auto* list = std::get_if<std::vector<AXElement>>(&value);
  return list ? std::move(*list) : std::vector<AXElement>{};
}

AXElement findWindow(AXSession& ax, const AXElement& app, std::string_view title) {
  auto windows = copyElements(ax, app, "AXWindows");
  if (windows.empty()) return nullptr;
  if (!title.empty()) {
    for (const auto& window : windows) {
      if (sameText(stringAttr(ax, window, "AXTitle"), std::string(title))) return window;
    }
  }
  return windows.front();
}

AXElement firstWindow(AXSession& ax, const AXElement& app) {
  auto windows = copyElements(ax, app, "AXWindows");
  if (!windows.empty()) return windows.front();
  for (const auto& child : copyElements(ax, app, "AXChildren")) {
    if (stringAttr(ax, child, "AXRole") == "AXWindow") return child;
  }
  return nullptr;
}

AXElement findMatching(AXSession& ax, const AXElement& root, std::string_view role,
                       const std::optional<std::string>& title,
                       const std::optional<std::string>& value) {
  ax.prefetch(root, kFindMatchingDepth, kFindMatchingBudget);
  return Search{ax, role, title, value}.from(root, 0);
}

}  // namespace AXCore
