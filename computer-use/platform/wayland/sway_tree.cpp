// The tree is root > outputs > workspaces > containers; a container holds a
// window when it has a "shell". Children are visited in the order of their
// parent's "focus" list (most recent first), so a walk meets windows in the
// order sway's focus history ranks them.
#include "computer-use/platform/wayland/sway_tree.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "common/text.h"

namespace vorn::platform::wayland::sway {
namespace {

using nlohmann::json;

constexpr int kMaxDepth = 128;
constexpr std::string_view kScratchpadOutput = "__i3";
constexpr std::int64_t kFullscreenStacking = std::int64_t{1} << 40;

std::optional<std::string> text(const json& node, const char* key) {
  auto it = node.find(key);
  if (it == node.end() || !it->is_string()) return std::nullopt;
  return vorn::text::toValidUtf8(it->get<std::string>());
}

std::optional<std::int64_t> integer(const json& node, const char* key) {
  auto it = node.find(key);
  if (it == node.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<std::int64_t>();
}

double number(const json& node, const char* key) {
  auto it = node.find(key);
  return it != node.end() && it->is_number() ? it->get<double>() : 0.0;
}

Frame rect(const json& node, const char* key) {
  auto it = node.find(key);
  if (it == node.end() || !it->is_object()) return {};
  return {number(*it, "x"), number(*it, "y"), number(*it, "width"), number(*it, "height")};
}

bool flag(const json& node, const char* key) {
  auto it = node.find(key);
  return it != node.end() && it->is_boolean() && it->get<bool>();
}

// Where a node stands in the tree as the walk goes down.
struct Context {
  std::string output;
  bool currentWorkspace = false;
  std::int64_t workspace = 0;
  std::int64_t stacking = 0;
};

class Walker {
 public:
  Tree tree;

  void node(const json& n, Context context, int depth) {
    if (depth > kMaxDepth || !n.is_object()) return;
    std::string type = text(n, "type").value_or("");
    if (type == "output" && !output(n, context)) return;
    if (type == "workspace") workspace(n, context);
    // Workspaces report a fullscreen mode of their own; only windows and
    // their containers cover others when fullscreen.
    bool container = type == "con" || type == "floating_con";
    if (auto fullscreen = integer(n, "fullscreen_mode");
        container && fullscreen && *fullscreen > 0) {
      context.stacking = std::max(context.stacking, kFullscreenStacking * *fullscreen);
    }
    if (n.contains("shell")) window(n, context);
    for (const auto& [child, floatingIndex] : children(n)) {
      Context inner = context;
      if (type == "workspace" && floatingIndex >= 0) {
        inner.stacking = std::max(inner.stacking, std::int64_t{1} + floatingIndex);
      }
      node(*child, inner, depth + 1);
    }
  }

 private:
  bool output(const json& n, Context& context) {
    context.output = text(n, "name").value_or("");
    if (context.output == kScratchpadOutput) return false;
    currentWorkspace_ = text(n, "current_workspace").value_or("");
    double scale = number(n, "scale");
    tree.outputs.push_back({context.output, rect(n, "rect"), scale > 0 ? scale : 1});
    return true;
  }

  void workspace(const json& n, Context& context) {
    context.workspace = integer(n, "id").value_or(0);
    context.currentWorkspace = text(n, "name") == currentWorkspace_;
  }

  void window(const json& n, const Context& context) {
    Window w;
    w.id = integer(n, "id").value_or(0);
    w.pid = integer(n, "pid");
    w.appId = text(n, "app_id");
    w.title = text(n, "name");
    w.xwayland = text(n, "shell") == "xwayland";
    if (auto it = n.find("window_properties"); it != n.end() && it->is_object()) {
      w.x11Class = text(*it, "class");
    }
    w.outer = rect(n, "rect");
    Frame inner = rect(n, "window_rect");
    w.content = {w.outer.x + inner.x, w.outer.y + inner.y, inner.width, inner.height};
    w.visible = flag(n, "visible");
    w.onCurrentWorkspace = context.currentWorkspace;
    w.output = context.output;
    w.workspace = context.workspace;
    w.stacking = context.stacking;
    tree.windows.push_back(std::move(w));
  }

  // The children (tiled ones, then floating ones with their index among
  // those) in focus order: those the "focus" list names first, in its
  // order, then the rest as they stand.
  static std::vector<std::pair<const json*, std::int64_t>> children(const json& n) {
    std::vector<std::pair<const json*, std::int64_t>> all;
    for (const char* key : {"nodes", "floating_nodes"}) {
      auto it = n.find(key);
      if (it == n.end() || !it->is_array()) continue;
      std::int64_t index = 0;
      for (const auto& child : *it) {
        all.emplace_back(&child, std::string_view(key) == "nodes" ? -1 : index++);
      }
    }
    std::vector<std::int64_t> focus;
    if (auto it = n.find("focus"); it != n.end() && it->is_array()) {
      for (const auto& id : *it) {
        if (id.is_number_integer()) focus.push_back(id.get<std::int64_t>());
      }
    }
    // Each child's place in the focus list, or past its end.
    std::vector<std::pair<std::ptrdiff_t, std::size_t>> order;
    for (std::size_t i = 0; i < all.size(); ++i) {
      const json& child = *all[i].first;
      auto id = child.is_object() ? integer(child, "id") : std::nullopt;
      auto at = id ? std::find(focus.begin(), focus.end(), *id) : focus.end();
      order.emplace_back(at - focus.begin(), i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<const json*, std::int64_t>> sorted;
    for (const auto& [rank, i] : order) sorted.push_back(all[i]);
    all = std::move(sorted);
    return all;
  }

  std::string currentWorkspace_;
};

bool overlaps(const Frame& a, const Frame& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool inside(const Frame& outer, const Frame& inner) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

}  // namespace

std::optional<Tree> parseTree(std::string_view json) {
  auto root = json::parse(json, nullptr, false);
  if (root.is_discarded() || !root.is_object() || text(root, "type") != "root") {
    return std::nullopt;
  }
  Walker walker;
  walker.node(root, {}, 0);
  return std::move(walker.tree);
}

Exposure exposure(const Tree& tree, const Window& window) {
  const Frame& content = window.content;
  if (!window.visible || !window.onCurrentWorkspace || !(content.width > 0) ||
      !(content.height > 0)) {
    return Exposure::kHidden;
  }
  bool onOneOutput = std::any_of(tree.outputs.begin(), tree.outputs.end(),
                                 [&](const Output& o) { return inside(o.rect, content); });
  if (!onOneOutput) return Exposure::kOffScreen;
  for (const auto& other : tree.windows) {
    if (other.id == window.id || !other.visible || !other.onCurrentWorkspace ||
        !overlaps(other.outer, content)) {
      continue;
    }
    if (other.workspace != window.workspace || other.stacking > window.stacking) {
      return Exposure::kCovered;
    }
  }
  return Exposure::kUncovered;
}

const Window* findWindow(const Tree& tree, std::int64_t id) {
  for (const auto& w : tree.windows) {
    if (w.id == id) return &w;
  }
  return nullptr;
}

}  // namespace vorn::platform::wayland::sway
