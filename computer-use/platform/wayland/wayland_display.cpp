// Every wait polls the display's socket against a deadline, following
// libwayland's prepare-read protocol, so that no call ever blocks on a
// compositor that stopped answering.
#include "computer-use/platform/wayland/wayland_display.h"

#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdlib>

#include "computer-use/platform/linux/proc.h"
#include "computer-use/platform/wayland/unix_socket.h"

namespace vorn::platform::wayland {
namespace {

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > 60000 ? 60000 : static_cast<int>(left.count());
}

// Waits until `fd` is ready for `events`; false when the deadline passed or
// the socket failed.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, remainingMs(deadline));
    if (n > 0) return (p.revents & events) != 0;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

void onGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
              std::uint32_t version) {
  static_cast<std::vector<Global>*>(data)->push_back({name, interface, version});
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void onDone(void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }

const wl_callback_listener kCallbackListener = {onDone};

}  // namespace

std::optional<std::string> socketPath() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') return std::nullopt;
  if (*name == '/') return std::string(name);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return std::nullopt;
  return std::string(runtime) + "/" + name;
}

std::optional<std::string> compositorName(int socket) {
  auto peer = peerOf(socket);
  if (!peer) return std::nullopt;
  return linux_proc::processName(peer->pid);
}

std::unique_ptr<Display> Display::connect(Clock::time_point deadline) {
  if (!socketPath()) return nullptr;
  wl_display* raw = wl_display_connect(nullptr);
  if (raw == nullptr) return nullptr;
  std::unique_ptr<Display> display(new Display(raw));
  display->registry_ = wl_display_get_registry(raw);
  wl_registry_add_listener(display->registry_, &kRegistryListener, &display->globals_);
  if (!display->roundtrip(deadline)) return nullptr;
  return display;
}

Display::~Display() {
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  // Sends what is still queued (a device's last release, say) before closing.
  wl_display_flush(display_);
  wl_display_disconnect(display_);
}

const Global* Display::find(std::string_view interface) const {
  for (const auto& global : globals_) {
    if (global.interface == interface) return &global;
  }
  return nullptr;
}

void* Display::bind(const Global& global, const wl_interface* interface, std::uint32_t version) {
  return wl_registry_bind(registry_, global.name, interface,
                          global.version < version ? global.version : version);
}

bool Display::flush(Clock::time_point deadline) {
  for (;;) {
    if (wl_display_flush(display_) >= 0) return true;
    if (errno != EAGAIN) return false;
    if (!waitFor(wl_display_get_fd(display_), POLLOUT, deadline)) return false;
  }
}

bool Display::dispatchUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  while (!done()) {
    if (wl_display_prepare_read(display_) != 0) {
      if (wl_display_dispatch_pending(display_) < 0) return false;
      continue;
    }
    if (!flush(deadline) || !waitFor(wl_display_get_fd(display_), POLLIN, deadline)) {
      wl_display_cancel_read(display_);
      return false;
    }
    if (wl_display_read_events(display_) < 0) return false;
    if (wl_display_dispatch_pending(display_) < 0) return false;
  }
  return usable();
}

bool Display::dispatchPending() {
  if (wl_display_prepare_read(display_) == 0) {
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
      if (wl_display_read_events(display_) < 0) return false;
    } else {
      wl_display_cancel_read(display_);
    }
  }
  return wl_display_dispatch_pending(display_) >= 0 && usable();
}

bool Display::roundtrip(Clock::time_point deadline) {
  bool done = false;
  wl_callback* callback = wl_display_sync(display_);
  wl_callback_add_listener(callback, &kCallbackListener, &done);
  bool answered = dispatchUntil([&] { return done; }, deadline);
  wl_callback_destroy(callback);
  return answered;
}

bool Display::usable() const { return wl_display_get_error(display_) == 0; }

std::string Display::compositor() const {
  return compositorName(wl_display_get_fd(display_)).value_or("unknown");
}

}  // namespace vorn::platform::wayland
