// A window's pixels on X11. XGetImage of a window returns what the screen
// shows, so where another window covers it (or it runs off the screen) the
// result is wrong or refused; the window's own content lives only in an
// XComposite pixmap. Redirecting a window gives it a fresh pixmap holding
// what the screen showed of it and exposes the rest; its application
// repaints that, XDamage reports the repaint, and once the repaint covers
// the hidden part the pixmap holds the window as itself. The detour costs a
// repaint, so a window in plain view is read directly.
#include "computer-use/platform/linux/x11_capture.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "computer-use/platform/image_scale.h"
#include "computer-use/platform/linux/x11_connection.h"
#include "computer-use/platform/linux/x11_windows.h"

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>

namespace vorn::platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;
using Captured = std::variant<Image, CaptureFailure>;

// An application that has not repainted by then is hung (the capture answers
// "Screenshot timed out." at once); the rest of the caller's eight seconds is
// left for reading and encoding.
constexpr auto kRepaintWait = std::chrono::seconds(4);

CaptureFailure failed(std::string description) { return {.description = std::move(description)}; }

CaptureFailure gone() { return {.windowGone = true, .description = "the window went away"}; }

CaptureFailure notPainted() {
  return {.timedOut = true, .description = "the application did not paint the window"};
}

// ---- Pixel formats ----

struct Channel {
  int shift = 0;
  int bits = 0;

  explicit Channel(unsigned long mask) {
    if (mask == 0) return;
    shift = std::countr_zero(mask);
    bits = std::popcount(mask);
  }
  std::uint8_t of(std::uint32_t pixel) const {
    if (bits == 0) return 0;
    std::uint32_t max = (bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1);
    std::uint64_t v = (pixel >> shift) & max;
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  }
};

std::uint32_t pixelAt(const std::uint8_t* p, int bytes, bool msbFirst) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) {
    int index = msbFirst ? i : bytes - 1 - i;
    v = (v << 8) | p[index];
  }
  return v;
}

// The usual 24/32-bit layout, in memory B, G, R, X, on a little-endian host.
bool isPlainBgrx(const PixelFormat& f) {
  return std::endian::native == std::endian::little && f.bitsPerPixel == 32 && !f.msbFirst &&
         f.redMask == 0xFF0000 && f.greenMask == 0xFF00 && f.blueMask == 0xFF;
}

// A word at a time (the compiler vectorises it): B, G, R, X in memory is
// 0xXXRRGGBB on this little-endian side; R, G, B, A is 0xAABBGGRR.
void convertBgrxRow(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width, bool alpha) {
  const std::uint32_t alphaBits = alpha ? 0 : 0xFF000000u;
  for (std::uint32_t x = 0; x < width; ++x) {
    std::uint32_t p;
    std::memcpy(&p, in + x * 4, 4);
    std::uint32_t q = (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16) | alphaBits;
    std::memcpy(out + x * 4, &q, 4);
  }
}

void convertRow(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width,
                const PixelFormat& f) {
  const int bytes = f.bitsPerPixel / 8;
  const Channel red(f.redMask), green(f.greenMask), blue(f.blueMask);
  const Channel alpha(f.premultipliedAlpha ? ~(f.redMask | f.greenMask | f.blueMask) & 0xFFFFFFFFu
                                           : 0);
  for (std::uint32_t x = 0; x < width; ++x, in += bytes, out += 4) {
    std::uint32_t pixel = pixelAt(in, bytes, f.msbFirst);
    out[0] = red.of(pixel);
    out[1] = green.of(pixel);
    out[2] = blue.of(pixel);
    out[3] = alpha.bits > 0 ? alpha.of(pixel) : 0xFF;
  }
}

// PNG wants straight alpha; ARGB visuals hold premultiplied colours.
void unpremultiply(std::vector<std::uint8_t>& rgba) {
  for (std::size_t i = 0; i < rgba.size(); i += 4) {
    unsigned a = rgba[i + 3];
    if (a == 0xFF) continue;
    for (std::size_t c = i; c < i + 3; ++c) {
      rgba[c] =
          a == 0 ? 0 : static_cast<std::uint8_t>(std::min(255u, (rgba[c] * 255u + a / 2) / a));
    }
  }
}

// ---- Reading pixels from the server ----

struct XImageDeleter {
  void operator()(XImage* image) const { XDestroyImage(image); }
};
using UniqueXImage = std::unique_ptr<XImage, XImageDeleter>;

// The masks come from the window's visual: an image of a pixmap has none.
std::optional<Image> imageOf(const XImage& image, const Visual& visual, int depth) {
  PixelFormat format{.bitsPerPixel = image.bits_per_pixel,
                     .msbFirst = image.byte_order == MSBFirst,
                     .redMask = visual.red_mask,
                     .greenMask = visual.green_mask,
                     .blueMask = visual.blue_mask,
                     .premultipliedAlpha = depth == 32};
  return rgbaImage(
      reinterpret_cast<const std::uint8_t*>(image.data),
      static_cast<std::size_t>(image.bytes_per_line),
      {static_cast<std::uint32_t>(image.width), static_cast<std::uint32_t>(image.height)}, format);
}

// An image in memory shared with the server, which writes the pixels there
// instead of sending them through the socket. The segment is marked for
// removal as soon as both sides have attached it, so it goes with them
// whatever becomes of this process.
class SharedImage {
 public:
  static std::unique_ptr<SharedImage> create(Display* display, Visual* visual, int depth,
                                             PixelSize size) {
    if (XShmQueryExtension(display) == False) return nullptr;
    std::unique_ptr<SharedImage> shared(new SharedImage(display));
    shared->image_ = XShmCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap,
                                     nullptr, &shared->info_, size.width, size.height);
    if (shared->image_ == nullptr || !shared->attach()) return nullptr;
    return shared;
  }

  ~SharedImage() {
    if (attached_) XShmDetach(display_, &info_);
    if (image_ != nullptr) {
      image_->data = nullptr;  // not XDestroyImage's to free
      XDestroyImage(image_);
    }
    if (info_.shmaddr != nullptr) ::shmdt(info_.shmaddr);
    if (info_.shmid >= 0 && !removed_) ::shmctl(info_.shmid, IPC_RMID, nullptr);
  }
  SharedImage(const SharedImage&) = delete;
  SharedImage& operator=(const SharedImage&) = delete;

  XImage& image() { return *image_; }

 private:
  explicit SharedImage(Display* display) : display_(display) { info_.shmid = -1; }

  bool attach() {
    std::size_t bytes = static_cast<std::size_t>(image_->bytes_per_line) * image_->height;
    info_.shmid = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (info_.shmid < 0) return false;
    void* address = ::shmat(info_.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) return false;
    info_.shmaddr = image_->data = static_cast<char*>(address);
    info_.readOnly = False;
    // A server on another machine (or in another IPC namespace) refuses.
    ErrorTrap trap(display_);
    XShmAttach(display_, &info_);
    attached_ = trap.sync();
    removed_ = ::shmctl(info_.shmid, IPC_RMID, nullptr) == 0;
    return attached_;
  }

  Display* display_;
  XShmSegmentInfo info_{};
  XImage* image_ = nullptr;
  bool attached_ = false;
  bool removed_ = false;
};

// The pixels of `drawable` (a window on screen, or a pixmap), or nothing when
// the server refuses them.
std::optional<Image> readPixels(Display* display, Drawable drawable, Visual* visual, int depth,
                                PixelSize size) {
  if (auto shared = SharedImage::create(display, visual, depth, size)) {
    if (XShmGetImage(display, drawable, &shared->image(), 0, 0, AllPlanes) != 0) {
      return imageOf(shared->image(), *visual, depth);
    }
  }
  UniqueXImage image(
      XGetImage(display, drawable, 0, 0, size.width, size.height, AllPlanes, ZPixmap));
  if (!image) return std::nullopt;
  return imageOf(*image, *visual, depth);
}

// ---- Is the window in plain view? ----

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p != nullptr) XFree(p);
  }
};

struct Tree {
  Window parent = 0;
  std::vector<Window> children;  // bottom to top
};

std::optional<Tree> queryTree(Display* display, Window window) {
  Window root = 0;
  Tree tree;
  Window* children = nullptr;
  unsigned int count = 0;
  Status ok = XQueryTree(display, window, &root, &tree.parent, &children, &count);
  std::unique_ptr<Window, XFreeDeleter> owned(children);
  if (ok == 0) return std::nullopt;
  if (children != nullptr) tree.children.assign(children, children + count);
  return tree;
}

// The child of the root that holds `window` (the window itself without a
// reparenting window manager); nothing when the window is gone.
std::optional<Window> topLevelAncestor(Display* display, Window window, Window root) {
  for (;;) {
    auto tree = queryTree(display, window);
    if (!tree) return std::nullopt;
    if (tree->parent == root) return window;
    window = tree->parent;
  }
}

struct RegionDeleter {
  void operator()(_XRegion* region) const { XDestroyRegion(region); }
};
using UniqueRegion = std::unique_ptr<_XRegion, RegionDeleter>;

UniqueRegion rectangleRegion(long x, long y, long width, long height) {
  UniqueRegion region(XCreateRegion());
  XRectangle r{static_cast<short>(std::clamp(x, -32768L, 32767L)),
               static_cast<short>(std::clamp(y, -32768L, 32767L)),
               static_cast<unsigned short>(std::clamp(width, 0L, 65535L)),
               static_cast<unsigned short>(std::clamp(height, 0L, 65535L))};
  XUnionRectWithRegion(&r, region.get(), region.get());
  return region;
}

// The part of the window the screen does not show, in window coordinates:
// off the screen, or under a top-level window stacked above its own. Empty
// when the window is in plain view; nothing when it is gone.
std::optional<UniqueRegion> hiddenRegion(Display* display, Window window,
                                         const XWindowAttributes& attributes, const Frame& frame) {
  long x = static_cast<long>(frame.x), y = static_cast<long>(frame.y);
  UniqueRegion shown =
      rectangleRegion(-x, -y, WidthOfScreen(attributes.screen), HeightOfScreen(attributes.screen));
  auto ancestor = topLevelAncestor(display, window, attributes.root);
  auto stack = queryTree(display, attributes.root);
  if (!ancestor || !stack) return std::nullopt;
  auto self = std::find(stack->children.begin(), stack->children.end(), *ancestor);
  if (self == stack->children.end()) return std::nullopt;
  for (auto above = self + 1; above != stack->children.end(); ++above) {
    XWindowAttributes a;
    if (XGetWindowAttributes(display, *above, &a) == 0) continue;
    if (a.map_state != IsViewable || a.c_class == InputOnly) continue;
    long border = a.border_width;
    auto cover = rectangleRegion(a.x - x, a.y - y, a.width + 2 * border, a.height + 2 * border);
    XSubtractRegion(shown.get(), cover.get(), shown.get());
  }
  UniqueRegion hidden = rectangleRegion(0, 0, attributes.width, attributes.height);
  XSubtractRegion(hidden.get(), shown.get(), hidden.get());
  return hidden;
}

// ---- The window's XComposite pixmap ----

// Each undoes one thing done on the server for the capture.
class Redirection {
 public:
  Redirection(Display* display, Window window) : display_(display), window_(window) {
    XCompositeRedirectWindow(display_, window_, CompositeRedirectAutomatic);
  }
  ~Redirection() { XCompositeUnredirectWindow(display_, window_, CompositeRedirectAutomatic); }
  Redirection(const Redirection&) = delete;
  Redirection& operator=(const Redirection&) = delete;

 private:
  Display* display_;
  Window window_;
};

class DamageWatch {
 public:
  DamageWatch(Display* display, Window window)
      : display_(display), damage_(XDamageCreate(display, window, XDamageReportRawRectangles)) {}
  ~DamageWatch() { XDamageDestroy(display_, damage_); }
  DamageWatch(const DamageWatch&) = delete;
  DamageWatch& operator=(const DamageWatch&) = delete;

 private:
  Display* display_;
  Damage damage_;
};

class NamedPixmap {
 public:
  NamedPixmap(Display* display, Pixmap pixmap) : display_(display), pixmap_(pixmap) {}
  ~NamedPixmap() { XFreePixmap(display_, pixmap_); }
  NamedPixmap(const NamedPixmap&) = delete;
  NamedPixmap& operator=(const NamedPixmap&) = delete;
  Pixmap get() const { return pixmap_; }

 private:
  Display* display_;
  Pixmap pixmap_;
};

// No other client's request is served while it lasts: what the server does
// meanwhile is the work of this connection's own requests alone.
class ServerGrab {
 public:
  explicit ServerGrab(Display* display) : display_(display) { XGrabServer(display_); }
  ~ServerGrab() {
    XUngrabServer(display_);
    XFlush(display_);
  }
  ServerGrab(const ServerGrab&) = delete;
  ServerGrab& operator=(const ServerGrab&) = delete;

 private:
  Display* display_;
};

enum class Repaint { kDone, kGone, kLate };

// The part of a redirected window that its application still has to paint,
// as the damage and structure events of the capture's connection tell.
// An event carries the sequence number of the last request the server had
// handled for this connection when it made the event: damage numbered below
// `firstRepaint` came of this connection's own requests (the server's fill),
// the rest of other clients' drawing.
class RepaintWatch {
 public:
  RepaintWatch(Window window, int damageEvent, UniqueRegion pending, unsigned long firstRepaint)
      : window_(window),
        damageEvent_(damageEvent),
        pending_(std::move(pending)),
        firstRepaint_(firstRepaint) {}

  // Reads the events that have arrived. kLate: painting still pending.
  Repaint read(const OwnDisplay& own) {
    Display* display = own.get();
    while (!own.broken() && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if ((event.type == DestroyNotify && event.xdestroywindow.window == window_) ||
          (event.type == UnmapNotify && event.xunmap.window == window_)) {
        return Repaint::kGone;
      }
      if (event.type != damageEvent_ + XDamageNotify) continue;
      const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
      if (damage.serial < firstRepaint_) continue;
      const XRectangle& a = damage.area;
      auto painted = rectangleRegion(a.x, a.y, a.width, a.height);
      XSubtractRegion(pending_.get(), painted.get(), pending_.get());
    }
    return XEmptyRegion(pending_.get()) ? Repaint::kDone : Repaint::kLate;
  }

 private:
  Window window_;
  int damageEvent_;
  UniqueRegion pending_;
  unsigned long firstRepaint_;
};

// Waits until the application has painted what was pending, the window
// goes, or `deadline` passes.
Repaint awaitRepaint(const OwnDisplay& own, RepaintWatch& watch, Clock::time_point deadline) {
  for (;;) {
    Repaint state = watch.read(own);
    if (state != Repaint::kLate) return state;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (own.broken() || left <= 0) return Repaint::kLate;
    pollfd fd{ConnectionNumber(own.get()), POLLIN, 0};
    int ready = ::poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return Repaint::kLate;
    if (ready > 0 && (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return Repaint::kLate;
  }
}

bool hasCompositeAndDamage(Display* display, int& damageEvent) {
  int event = 0, error = 0, major = 0, minor = 2;
  if (XCompositeQueryExtension(display, &event, &error) == False) return false;
  // Naming a window's pixmap came with version 0.2.
  if (XCompositeQueryVersion(display, &major, &minor) == 0 || (major == 0 && minor < 2)) {
    return false;
  }
  return XDamageQueryExtension(display, &damageEvent, &error) != False;
}

std::optional<Image> readPixmap(Display* display, Pixmap pixmap, Visual* visual) {
  Window root = 0;
  int x = 0, y = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  if (XGetGeometry(display, pixmap, &root, &x, &y, &width, &height, &border, &depth) == 0) {
    return std::nullopt;
  }
  return readPixels(display, pixmap, visual, static_cast<int>(depth), {width, height});
}

// The window's own content from its composite pixmap; nothing when the
// server cannot give one, so that the window is read directly instead.
// Redirecting copies what the screen shows of the window into its new pixmap
// and exposes the rest, `hidden`, which the application then paints.
std::optional<Captured> fromCompositePixmap(const OwnDisplay& own, Window window,
                                            const XWindowAttributes& attributes,
                                            UniqueRegion hidden) {
  Display* display = own.get();
  int damageEvent = 0;
  if (!hasCompositeAndDamage(display, damageEvent)) return std::nullopt;
  ErrorTrap trap(display);
  // Under a compositing manager the window has an up-to-date pixmap already.
  Pixmap existing = XCompositeNameWindowPixmap(display, window);
  if (trap.sync()) {
    NamedPixmap pixmap(display, existing);
    if (auto image = readPixmap(display, pixmap.get(), attributes.visual)) return std::move(*image);
    return std::nullopt;
  }
  trap.clear();
  XSelectInput(display, window, StructureNotifyMask);
  DamageWatch damage(display, window);
  std::optional<Redirection> redirection;
  unsigned long firstRepaint = 0;
  {
    // A new damage object reports what the window shows at once, and the
    // redirection damages the hidden part when the server fills it with the
    // window's background: neither is the application's painting. Under the
    // grab the application cannot draw, so every damage event numbered
    // below the ungrab's request is the server's own, and every later one
    // the application's, however soon it comes.
    ServerGrab grab(display);
    redirection.emplace(display, window);
    if (!trap.sync()) return std::nullopt;
    firstRepaint = XNextRequest(display);
  }
  RepaintWatch watch(window, damageEvent, std::move(hidden), firstRepaint);
  if (watch.read(own) == Repaint::kGone) return gone();
  // The pixmap holds what covered the window (or nothing) until its
  // application paints: without the repaint there is no capture at all.
  Repaint repaint = awaitRepaint(own, watch, Clock::now() + kRepaintWait);
  if (repaint == Repaint::kGone) return gone();
  if (repaint == Repaint::kLate) return notPainted();
  NamedPixmap pixmap(display, XCompositeNameWindowPixmap(display, window));
  if (!trap.sync()) return std::nullopt;
  if (auto image = readPixmap(display, pixmap.get(), attributes.visual)) return std::move(*image);
  return std::nullopt;
}

// ---- The shareable content ----

std::string displayDescription(const std::optional<std::string>& name) {
  if (name) return "\"" + text::toValidUtf8(*name) + "\"";
  const char* fromEnvironment = std::getenv("DISPLAY");
  if (fromEnvironment == nullptr || *fromEnvironment == '\0') return "(DISPLAY is not set)";
  return "\"" + text::toValidUtf8(fromEnvironment) + "\"";
}

class X11Content final : public ShareableContent {
 public:
  explicit X11Content(std::unique_ptr<OwnDisplay> own) : own_(std::move(own)) {}

  std::optional<ShareableWindow> window(std::uint32_t windowId) override {
    Display* display = own_->get();
    Window window = windowId;
    if (!isOnScreenWindow(display, window)) return std::nullopt;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) return std::nullopt;
    auto frame = rootFrame(window, attributes);
    if (!frame || own_->broken()) return std::nullopt;
    return ShareableWindow{windowId, *frame};
  }

  float pointPixelScale(const ShareableWindow&) override { return 1; }

  Captured captureImage(const ShareableWindow& shareable, std::optional<PixelSize> size) override {
    auto captured = ownPixels(shareable.windowId);
    if (auto* image = std::get_if<Image>(&captured); image && size && *size != image->size) {
      return scaledImage(*image, *size);
    }
    return captured;
  }

 private:
  std::optional<Frame> rootFrame(Window window, const XWindowAttributes& attributes) {
    int x = 0, y = 0;
    Window child = 0;
    if (XTranslateCoordinates(own_->get(), window, attributes.root, 0, 0, &x, &y, &child) == 0) {
      return std::nullopt;
    }
    return Frame{static_cast<double>(x), static_cast<double>(y),
                 static_cast<double>(attributes.width), static_cast<double>(attributes.height)};
  }

  bool viewable(Window window, XWindowAttributes& attributes) {
    return XGetWindowAttributes(own_->get(), window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
  }

  Captured ownPixels(Window window) {
    Display* display = own_->get();
    XWindowAttributes attributes;
    if (!viewable(window, attributes)) return brokenOr(gone());
    auto frame = rootFrame(window, attributes);
    if (!frame) return brokenOr(gone());
    auto hidden = hiddenRegion(display, window, attributes, *frame);
    if (!hidden) return brokenOr(gone());
    // Where the screen does not show the window, reading it would give what
    // covers it: only its own pixmap will do.
    if (!XEmptyRegion(hidden->get())) {
      if (auto captured = fromCompositePixmap(*own_, window, attributes, std::move(*hidden))) {
        return std::move(*captured);
      }
      if (!viewable(window, attributes)) return brokenOr(gone());
      return brokenOr(
          failed("the window is covered or off the screen, and the X server gives "
                 "no pixmap of its own content"));
    }
    PixelSize size{static_cast<std::uint32_t>(attributes.width),
                   static_cast<std::uint32_t>(attributes.height)};
    if (auto image = readPixels(display, window, attributes.visual, attributes.depth, size)) {
      return std::move(*image);
    }
    // Unmapped or destroyed meanwhile, most likely.
    if (!viewable(window, attributes)) return brokenOr(gone());
    return brokenOr(failed("the X server did not hand over the window's pixels"));
  }

  CaptureFailure brokenOr(CaptureFailure failure) const {
    if (own_->broken()) return failed("the connection to the X server was lost");
    return failure;
  }

  std::unique_ptr<OwnDisplay> own_;
};

}  // namespace

std::variant<std::unique_ptr<ShareableContent>, CaptureFailure> WindowCapture::shareableContent() {
  auto own = OwnDisplay::open(displayName_);
  if (!own) return failed("cannot connect to the X display " + displayDescription(displayName_));
  return std::make_unique<X11Content>(std::move(own));
}

std::optional<Image> rgbaImage(const std::uint8_t* data, std::size_t bytesPerLine, PixelSize size,
                               const PixelFormat& format) {
  int bits = format.bitsPerPixel;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return std::nullopt;
  Image image{size, std::vector<std::uint8_t>(std::size_t{size.width} * size.height * 4)};
  const bool plain = isPlainBgrx(format);
  for (std::uint32_t y = 0; y < size.height; ++y) {
    const std::uint8_t* in = data + y * bytesPerLine;
    std::uint8_t* out = image.rgba.data() + std::size_t{y} * size.width * 4;
    if (plain) {
      convertBgrxRow(in, out, size.width, format.premultipliedAlpha);
    } else {
      convertRow(in, out, size.width, format);
    }
  }
  if (format.premultipliedAlpha) unpremultiply(image.rgba);
  return image;
}

}  // namespace vorn::platform::x11
