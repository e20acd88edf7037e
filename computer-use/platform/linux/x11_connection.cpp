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

// Callers look at each reply's status; a protocol error is an absent answer,
// and an error trap, when one is set, takes note of it.
int ignoreProtocolError(Display* display, XErrorEvent*) {
  ErrorTrap::note(display);
  return 0;
}

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
// pointed at /dev/null while any connection is being opened; nothing else
// writes to it meanwhile. Openings may overlap (a capture opens a connection
// of its own, and may wait on a server that never answers), so the first
// saves standard error and the last puts it back; none waits for another.
class SilencedStderr {
 public:
  SilencedStderr() {
    std::lock_guard lock(state().mutex);
    if (state().openings++ > 0) return;
    state().saved = UniqueFd(::dup(STDERR_FILENO));
    UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (state().saved.valid() && null.valid()) ::dup2(null.get(), STDERR_FILENO);
  }
  ~SilencedStderr() {
    std::lock_guard lock(state().mutex);
    if (--state().openings > 0) return;
    if (state().saved.valid()) ::dup2(state().saved.get(), STDERR_FILENO);
    state().saved.reset();
  }
  SilencedStderr(const SilencedStderr&) = delete;
  SilencedStderr& operator=(const SilencedStderr&) = delete;

 private:
  struct State {
    std::mutex mutex;
    int openings = 0;
    UniqueFd saved;
  };
  static State& state() {
    static State s;
    return s;
  }
};

Display* openDisplay(const std::optional<std::string>& name) {
  installProcessHandlers();
  SilencedStderr silenced;
  Display* display = XOpenDisplay(name ? name->c_str() : nullptr);
  // Children must not inherit the connection.
  if (display != nullptr) ::fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
  return display;
}

thread_local ErrorTrap* tInnermostTrap = nullptr;

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
    display_ = openDisplay(displayName_);
    if (display_ == nullptr) return std::nullopt;
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

std::unique_ptr<OwnDisplay> OwnDisplay::open(const std::optional<std::string>& displayName) {
  Display* display = openDisplay(displayName);
  if (display == nullptr) return nullptr;
  return std::unique_ptr<OwnDisplay>(new OwnDisplay(display));
}

OwnDisplay::OwnDisplay(Display* display) : display_(display) {
  // Without this, Xlib ends the process when the server goes away.
  XSetIOErrorExitHandler(display_, onConnectionLost, this);
}

OwnDisplay::~OwnDisplay() { XCloseDisplay(display_); }

void OwnDisplay::onConnectionLost(Display*, void* self) {
  static_cast<OwnDisplay*>(self)->broken_ = true;
}

ErrorTrap::ErrorTrap(Display* display) : display_(display), outer_(tInnermostTrap) {
  tInnermostTrap = this;
}

ErrorTrap::~ErrorTrap() { tInnermostTrap = outer_; }

bool ErrorTrap::sync() {
  XSync(display_, False);
  return errors_ == 0;
}

void ErrorTrap::note(Display* display) {
  for (ErrorTrap* trap = tInnermostTrap; trap != nullptr; trap = trap->outer_) {
    if (trap->display_ != display) continue;
    ++trap->errors_;
    return;
  }
}

}  // namespace vorn::platform::x11
