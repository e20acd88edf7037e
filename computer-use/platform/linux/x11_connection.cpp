// Xlib ends the process on any error unless told otherwise: a protocol error
// (a window that vanished between two requests) goes to a handler that exits,
// and a lost connection to one that exits after printing. Both handlers here
// only take note, so a request that meets either still gets its answer.
#include "computer-use/platform/linux/x11_connection.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/unique_fd.h"

namespace vorn::platform::x11 {
namespace {

// Callers look at each reply's status; a protocol error is an absent answer.
int ignoreProtocolError(Display*, XErrorEvent*) { return 0; }

// Xlib calls the per-display exit handler after this one; that handler
// returns, and the display is unusable from then on.
int ignoreConnectionLoss(Display*) { return 0; }

void installProcessHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(ignoreProtocolError);
    XSetIOErrorHandler(ignoreConnectionLoss);
    // The core keymap is all the keysym lookup needs; loading the keyboard
    // extension's map costs three round trips and most of a one-shot
    // keypress's CPU time.
    XkbIgnoreExtension(True);
  });
}

// Xlib prints the server's reason for refusing a connection on standard
// error, which belongs to the helper's usage line alone. The descriptor is
// pointed at /dev/null for the call; nothing else writes to it meanwhile.
class SilencedStderr {
 public:
  SilencedStderr() : saved_(::dup(STDERR_FILENO)) {
    UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (saved_.valid() && null.valid()) ::dup2(null.get(), STDERR_FILENO);
  }
  ~SilencedStderr() {
    if (saved_.valid()) ::dup2(saved_.get(), STDERR_FILENO);
  }

 private:
  UniqueFd saved_;
};

Display* openDisplay(const std::optional<std::string>& name) {
  SilencedStderr silenced;
  return XOpenDisplay(name ? name->c_str() : nullptr);
}

}  // namespace

Connection::Connection(std::optional<std::string> displayName)
    : displayName_(std::move(displayName)) {}

Connection::~Connection() { close(); }

Connection::Lease::~Lease() {
  if (owner_ != nullptr && lock_.owns_lock() && owner_->broken_) owner_->close();
}

std::optional<Connection::Lease> Connection::lease() {
  std::unique_lock lock(mutex_);
  if (display_ != nullptr) catchUp();
  if (display_ == nullptr) {
    installProcessHandlers();
    display_ = openDisplay(displayName_);
    if (display_ == nullptr) return std::nullopt;
    // Children must not inherit the connection.
    ::fcntl(ConnectionNumber(display_), F_SETFD, FD_CLOEXEC);
    XSetIOErrorExitHandler(display_, onConnectionLost, this);
    broken_ = false;
    ++generation_;
    ++keymapEpoch_;
  }
  return Lease(this, std::move(lock));
}

// Reads what the server sent since the last lease. Nothing but keymap
// changes arrives (no window of ours selects events); they tell the users of
// the keymap to fetch it again. A server that went away shows here, before any use.
void Connection::catchUp() {
  while (!broken_ && XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      ++keymapEpoch_;
    }
  }
  if (broken_) close();
}

void Connection::close() {
  if (display_ == nullptr) return;
  // After a lost connection Xlib only frees its memory here.
  XCloseDisplay(display_);
  display_ = nullptr;
  broken_ = false;
}

void Connection::onConnectionLost(Display*, void* self) {
  static_cast<Connection*>(self)->broken_ = true;
}

}  // namespace vorn::platform::x11
