// The narrow view of the desktop that the helper's operations are written
// against. Everything here speaks in the helper's own terms; a backend
// (platform/linux/) translates to the window system, and unit tests use a
// scripted fake. No window-system type appears above this seam.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "computer-use/platform/accessibility.h"

namespace vorn::platform {

// ---- Windows and applications ----

/// One on-screen window as the window server describes it. Every field may
/// be missing; strings are valid UTF-8.
struct WindowDescription {
  std::optional<std::int64_t> layer;  ///< 0 for ordinary windows
  std::optional<std::int64_t> ownerPid;
  std::optional<std::int64_t> windowNumber;
  std::optional<std::string> ownerName;
  std::optional<std::string> windowName;
};

class WindowServer {
 public:
  virtual ~WindowServer() = default;
  /// The on-screen windows, front to back, desktop elements excluded; nothing
  /// when the window server cannot be asked (no display, a broken connection).
  virtual std::optional<std::vector<WindowDescription>> onScreenWindows() = 0;
  /// Why this desktop's windows cannot be listed at all (a window system the
  /// helper does not support yet), in words for the caller; nothing when they
  /// can. An empty list would tell the caller that no window is open.
  virtual std::optional<std::string> windowsUnsupported() { return std::nullopt; }
};

class Applications {
 public:
  virtual ~Applications() = default;
  /// The bundle identifier of the running application with process id `pid`;
  /// nothing when no application runs as `pid` or it reports none.
  virtual std::optional<std::string> bundleIdentifier(std::int32_t pid) = 0;
  /// Brings the application running as `pid` to the front with keyboard focus
  /// on its front window. False when it has no window or the window system
  /// cannot be asked.
  virtual bool activate(std::int32_t pid) = 0;
};

// ---- Synthetic input ----
// The enumerators carry the values of the platform the wire format comes
// from (its virtual key codes, event flag masks and event types), so every
// backend is handed the same facts.

/// The keys a key combination can name, by virtual key code (US layout).
enum class Key : std::uint16_t {
  kA = 0,
  kZ = 6,
  kX = 7,
  kC = 8,
  kV = 9,
  kReturn = 36,
  kTab = 48,
  kSpace = 49,
  kDelete = 51,  ///< backward delete
  kEscape = 53,
  kLeftArrow = 123,
  kRightArrow = 124,
  kDownArrow = 125,
  kUpArrow = 126,
};

/// Modifiers held around a key, as event flag masks; several add up.
using ModifierFlags = std::uint64_t;
inline constexpr ModifierFlags kShiftFlag = 0x20000;
inline constexpr ModifierFlags kControlFlag = 0x40000;
inline constexpr ModifierFlags kAlternateFlag = 0x80000;
inline constexpr ModifierFlags kCommandFlag = 0x100000;

enum class MouseButton : std::uint8_t { kLeft = 0, kRight = 1, kCenter = 2 };

enum class MouseEventType : std::uint8_t {
  kLeftMouseDown = 1,
  kLeftMouseUp = 2,
  kRightMouseDown = 3,
  kRightMouseUp = 4,
  kMouseMoved = 5,
  kScrollWheel = 22,
  kOtherMouseDown = 25,
  kOtherMouseUp = 26,
};

/// A key going down or up. The modifiers in `flags` are held while it does.
struct KeyboardEvent {
  Key key;
  bool keyDown;
  ModifierFlags flags = 0;

  bool operator==(const KeyboardEvent&) const = default;
};

/// A mouse event at a point in global screen coordinates (pixels on X11).
struct MouseEvent {
  MouseEventType type;
  double x;
  double y;
  MouseButton button;
  std::int64_t clickState = 0;  ///< 1 for a single click; 0 for moves
  /// `kScrollWheel` only: wheel steps, positive scrolling down and right.
  std::int32_t wheelDown = 0;
  std::int32_t wheelRight = 0;

  bool operator==(const MouseEvent&) const = default;
};

using InputEvent = std::variant<KeyboardEvent, MouseEvent>;

/// Synthetic input for one operation. It may hold the connection to the
/// window system for its lifetime, so it is made per call and dropped soon.
class EventSource {
 public:
  virtual ~EventSource() = default;
  /// Makes every event of `events` and then posts them, in order and with no
  /// pause between them, and waits until the window system has taken them.
  /// False when any event cannot be made (nothing is posted then) or the
  /// window system went away while they were posted. True says the events were
  /// handed over, not that an application received them.
  virtual bool post(std::span<const InputEvent> events) = 0;
  /// Types `text` (any Unicode; line feeds as Return, tabs as Tab) into
  /// whatever has the keyboard focus, as key presses: keys the layout lacks
  /// are bound for the purpose, as the key layer binds a missing keysym.
  /// False when a character cannot be typed (nothing is posted then) or the
  /// window system went away; a source that cannot type at all answers false.
  virtual bool typeText(std::u32string_view text) {
    (void)text;
    return false;
  }
};

/// The part of global screen coordinates that pointer events can reach.
struct ScreenArea {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  /// Whether the point lies on it (the pixel holding it, rounded down); never
  /// for a point that is not finite.
  bool contains(double px, double py) const {
    double fx = std::floor(px), fy = std::floor(py);
    return fx >= x && fx < x + width && fy >= y && fy < y + height;
  }
  bool operator==(const ScreenArea&) const = default;
};

class InputDevice {
 public:
  virtual ~InputDevice() = default;
  /// Why input cannot be posted on this desktop at all, for a cause that is
  /// no missing permission (a window system the helper does not support, one
  /// that cannot be reached), in words for the caller; nothing when it can.
  virtual std::optional<std::string> inputUnsupported() { return std::nullopt; }
  /// Whether this process may post synthetic input at all.
  virtual bool trusted() = 0;
  /// The screen's area, or nothing when it cannot be told (then only points
  /// that are not finite are refused).
  virtual std::optional<ScreenArea> screenArea() { return std::nullopt; }
  /// A source for one operation's events, or null when none can be made.
  virtual std::unique_ptr<EventSource> createEventSource() = 0;
};

// ---- Screen capture ----

/// A rectangle in global screen coordinates, in points (pixels on X11).
struct Frame {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  bool operator==(const Frame&) const = default;
};

/// A window that may be captured.
struct ShareableWindow {
  std::uint32_t windowId = 0;  ///< the number the window listing reports
  Frame frame;

  bool operator==(const ShareableWindow&) const = default;
};

struct PixelSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  bool operator==(const PixelSize&) const = default;
};

/// Pixels as 8-bit red, green, blue and alpha (straight, not premultiplied),
/// rows top to bottom without padding: `rgba` holds width * height * 4 bytes.
struct Image {
  PixelSize size;
  std::vector<std::uint8_t> rgba;
};

/// Why a capture step failed.
struct CaptureFailure {
  /// The window went away (unmapped or destroyed) while it was captured.
  bool windowGone = false;
  /// The window is listed but not wholly in view (covered by another window,
  /// partly off the screen, behind another tab), and this window system can
  /// only capture what the screen shows; `description` says which.
  bool notInView = false;
  /// The window's own content could not be had in time (its application
  /// did not paint it): answered like a capture that never ends.
  bool timedOut = false;
  /// The window system's words for what failed, valid UTF-8.
  std::string description;
};

/// One capture's view of the window server, from finding the window to its
/// image. It may hold resources of its own (a connection of its own on X11)
/// for its lifetime, so it is made per capture and dropped soon. Used by one
/// thread at a time.
class ShareableContent {
 public:
  virtual ~ShareableContent() = default;
  /// The first on-screen shareable window whose id is `windowId`, with its
  /// frame; nothing when there is none (closed, minimised, not a window). A
  /// lookup rather than a list: describing every window costs round trips,
  /// and a capture wants one.
  virtual std::optional<ShareableWindow> window(std::uint32_t windowId) = 0;
  /// Pixels per point for an image of `window` alone; 0 or less when unknown.
  virtual float pointPixelScale(const ShareableWindow& window) = 0;
  /// One image of `window`'s own content (whatever covers it left out), at
  /// `size` pixels, or at its natural size when `size` is not given.
  virtual std::variant<Image, CaptureFailure> captureImage(const ShareableWindow& window,
                                                           std::optional<PixelSize> size) = 0;
};

class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;
  /// The shareable on-screen windows as they are now (desktop windows
  /// included), or a failure when the window server cannot be asked.
  virtual std::variant<std::unique_ptr<ShareableContent>, CaptureFailure> shareableContent() = 0;
};

// ---- The whole desktop ----

/// What an operation may use of the desktop. The referenced objects outlive
/// every request (a screenshot's capture task, which may end after its
/// request was answered, included); they must be safe to call from several
/// threads at once.
struct Platform {
  WindowServer& windows;
  Applications& applications;
  InputDevice& input;
  Accessibility& accessibility;
  ScreenCapture& capture;
};

}  // namespace vorn::platform
