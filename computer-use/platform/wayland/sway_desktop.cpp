// Each call asks sway for its whole tree (one message, about a millisecond
// for a desktop of a few dozen windows): the tree is the only place that
// holds owners, places and focus order together.
#include "computer-use/platform/wayland/sway_desktop.h"

#include <nlohmann/json.hpp>

#include "computer-use/platform/linux/proc.h"
#include "computer-use/platform/wayland/sway_ipc.h"
#include "computer-use/platform/wayland/unsupported.h"
#include "computer-use/platform/wayland/wayland_display.h"

namespace vorn::platform::wayland {
namespace {

std::optional<std::string> request(sway::Message type, std::string_view payload,
                                   std::chrono::milliseconds bound) {
  auto path = sway::socketPath();
  if (!path) return std::nullopt;
  auto ipc = sway::Ipc::connect(*path);
  if (!ipc) return std::nullopt;
  return ipc->request(type, payload, sway::Clock::now() + bound);
}

// A command's reply: one result per command, [{"success": true}].
bool succeeded(const std::string& reply) {
  auto results = nlohmann::json::parse(reply, nullptr, false);
  if (!results.is_array() || results.empty()) return false;
  for (const auto& r : results) {
    if (!r.is_object()) return false;
    auto success = r.find("success");
    if (success == r.end() || !success->is_boolean() || !success->get<bool>()) return false;
  }
  return true;
}

}  // namespace

WindowDescription describe(const sway::Window& window) {
  WindowDescription d{.layer = 0, .windowNumber = window.id, .windowName = window.title};
  d.ownerPid = window.pid;
  d.ownerName = window.xwayland ? window.x11Class : window.appId;
  if ((!d.ownerName || d.ownerName->empty()) && window.pid) {
    d.ownerName = linux_proc::processName(static_cast<std::int32_t>(*window.pid));
  }
  return d;
}

const sway::Window* windowOf(const sway::Tree& tree, std::int32_t pid, const std::string& title) {
  const sway::Window* first = nullptr;
  for (const auto& w : tree.windows) {
    if (!w.onCurrentWorkspace || w.pid != pid) continue;
    if (w.title == title) return &w;
    if (first == nullptr) first = &w;
  }
  return first;
}

std::optional<sway::Tree> SwayDesktop::tree() {
  auto json = request(sway::Message::kGetTree, "", bound_);
  if (!json) return std::nullopt;
  auto parsed = sway::parseTree(*json);
  if (parsed) remember(*parsed);
  return parsed;
}

std::optional<std::vector<WindowDescription>> SwayDesktop::onScreenWindows() {
  auto tree = this->tree();
  if (!tree) return std::nullopt;
  std::vector<WindowDescription> windows;
  for (const auto& w : tree->windows) {
    if (w.onCurrentWorkspace) windows.push_back(describe(w));
  }
  return windows;
}

std::optional<std::string> SwayDesktop::windowsUnsupported() {
  if (sway::socketPath()) return std::nullopt;
  auto compositor = reachableCompositor();
  if (!compositor) return unreachableCompositor();
  return unsupportedCompositor(*compositor, "listing windows needs", {kSwayIpcNeed});
}

// What a tree tells of each process's app id, kept while the process lives.
void SwayDesktop::remember(const sway::Tree& tree) {
  std::lock_guard lock(mutex_);
  for (const auto& w : tree.windows) {
    if (!w.pid || w.xwayland) continue;
    auto pid = static_cast<std::int32_t>(*w.pid);
    auto start = linux_proc::processStartTime(pid);
    if (!start) continue;
    auto [it, added] = known_.try_emplace(pid, KnownApplication{*start, w.appId});
    if (!added && (it->second.startTime != *start || !it->second.appId)) {
      it->second = {*start, w.appId};
    }
  }
}

std::optional<std::string> SwayDesktop::bundleIdentifier(std::int32_t pid) {
  auto start = linux_proc::processStartTime(pid);
  if (!start) return std::nullopt;
  auto recall = [&]() -> std::optional<KnownApplication> {
    std::lock_guard lock(mutex_);
    auto it = known_.find(pid);
    if (it == known_.end() || it->second.startTime != *start) return std::nullopt;
    return it->second;
  };
  auto known = recall();
  if (!known) {
    tree();
    known = recall();
  }
  if (known && known->appId) return known->appId;
  // A process with XWayland windows only: what its X11 windows carry.
  return xwayland_ != nullptr ? xwayland_->bundleIdentifier(pid) : std::nullopt;
}

bool SwayDesktop::activate(std::int32_t pid) {
  // Asking makes the devices when there are none (and lets the applications
  // take up the new keyboard); a desktop that takes no input is no reason
  // not to focus.
  if (input_ != nullptr) input_->inputUnsupported();
  auto tree = this->tree();
  if (!tree) return false;
  for (const auto& w : tree->windows) {
    if (w.pid != pid) continue;
    auto reply =
        request(sway::Message::kRunCommand, "[con_id=" + std::to_string(w.id) + "] focus", bound_);
    return reply && succeeded(*reply);
  }
  return false;
}

std::optional<ScreenOffset> SwayDesktop::elementOffset(std::int32_t pid, const std::string& title) {
  auto tree = this->tree();
  if (!tree) return std::nullopt;
  const sway::Window* window = windowOf(*tree, pid, title);
  if (window == nullptr) return std::nullopt;
  // XWayland's root window is the layout: X11 toolkits already report there.
  if (window->xwayland) return ScreenOffset{};
  return ScreenOffset{window->content.x, window->content.y};
}

}  // namespace vorn::platform::wayland
