// The helper's one connection to the X server, shared by the window and
// input backends. Xlib types stay out of this header (Xlib's macros would leak
// into every file that includes it); users include <X11/Xlib.h> themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct _XDisplay;

namespace vorn::platform::x11 {

/// Opened on first use, kept across requests, and dropped when it breaks (the
/// server went away) so that the next use opens it afresh. Every use holds a
/// lease, which serialises all calls on the display between threads.
class Connection {
 public:
  /// Connects to `displayName`, or to $DISPLAY when it is not given.
  explicit Connection(std::optional<std::string> displayName = std::nullopt);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  /// Exclusive use of the open display until the lease ends.
  class Lease {
   public:
    Lease(Lease&&) noexcept = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease();
    _XDisplay* display() const { return owner_->display_; }
    /// Changes whenever the display is opened again, so that what was learnt
    /// about the previous connection (atoms, extensions) can be forgotten.
    std::uint64_t generation() const { return owner_->generation_; }
    /// Changes whenever the display is opened again or the server announces a
    /// new keyboard mapping, so that a copy of the keymap can be refreshed.
    std::uint64_t keymapEpoch() const { return owner_->keymapEpoch_; }
    /// Whether the connection broke at some point while this lease was held;
    /// nothing the server was asked during the lease can be trusted then.
    bool broken() const { return owner_->broken_; }

   private:
    friend class Connection;
    Lease(Connection* owner, std::unique_lock<std::mutex> lock)
        : owner_(owner), lock_(std::move(lock)) {}
    Connection* owner_;
    std::unique_lock<std::mutex> lock_;
  };

  /// A lease on the display, which is opened first when needed; nothing when
  /// no display can be opened. Never writes to standard error, never exits.
  std::optional<Lease> lease();

 private:
  void catchUp();
  void close();
  static void onConnectionLost(_XDisplay* display, void* self);

  std::optional<std::string> displayName_;
  std::mutex mutex_;
  _XDisplay* display_ = nullptr;
  bool broken_ = false;
  std::uint64_t generation_ = 0;
  std::uint64_t keymapEpoch_ = 0;
};

/// A connection of one task's own, for work that may outlast its request or
/// wait on the server (a screenshot): it never holds up the shared
/// connection, and whatever it creates on the server goes when it closes,
/// even when the process ends first. Protocol errors and a lost server are
/// handled as on the shared connection.
class OwnDisplay {
 public:
  /// Connects to `displayName`, or to $DISPLAY when it is not given; nothing
  /// when no display can be opened. Never writes to standard error.
  static std::unique_ptr<OwnDisplay> open(const std::optional<std::string>& displayName);
  ~OwnDisplay();
  OwnDisplay(const OwnDisplay&) = delete;
  OwnDisplay& operator=(const OwnDisplay&) = delete;

  _XDisplay* get() const { return display_; }
  /// Whether the connection broke; nothing asked over it since can be trusted.
  bool broken() const { return broken_; }

 private:
  explicit OwnDisplay(_XDisplay* display);
  static void onConnectionLost(_XDisplay* display, void* self);

  _XDisplay* display_;
  bool broken_ = false;
};

/// Notes the protocol errors the server reports for one display to the
/// calling thread while the trap lives; the display must be used by that
/// thread alone meanwhile. Traps on different displays may nest.
class ErrorTrap {
 public:
  explicit ErrorTrap(_XDisplay* display);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  /// Waits until the server has handled every request sent so far; true when
  /// none of those sent since the trap was set (or last cleared) failed.
  bool sync();
  /// Forgets the errors noted so far.
  void clear() { errors_ = 0; }

  /// Called by the process's error handler for every protocol error.
  static void note(_XDisplay* display);

 private:
  _XDisplay* display_;
  ErrorTrap* outer_;
  int errors_ = 0;
};

}  // namespace vorn::platform::x11
