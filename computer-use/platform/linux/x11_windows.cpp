// Each listing walks the stacking order once and asks each window for a few
// properties (a round trip each: Xlib offers no pipelining). Windows may
// vanish between two requests; the non-fatal error handler turns that into
// absent properties, and such a window is skipped.
#include "computer-use/platform/linux/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "computer-use/platform/linux/proc.h"

namespace vorn::platform::x11 {
namespace {

// The atoms this file uses, interned in one round trip per connection. Only
// existing atoms are looked up: a missing one means no window carries it.
enum AtomIndex : std::size_t {
  kClientListStacking,
  kSupportingWmCheck,
  kSupported,
  kActiveWindow,
  kWmPid,
  kNetWmName,
  kUtf8String,
  kGtkApplicationId,
  kKdeDesktopFile,
  kWindowType,
  kTypeNormal,
  kTypeDialog,
  kTypeDesktop,
  kTypeDock,
  kTypeToolbar,
  kTypeUtility,
  kTypeSplash,
  kTypeMenu,
  kTypeDropdownMenu,
  kTypePopupMenu,
  kTypeTooltip,
  kTypeNotification,
  kTypeCombo,
  kTypeDnd,
  kWmState,
  kStateHidden,
  kAtomCount,
};

constexpr std::array<const char*, kAtomCount> kAtomNames = {
    "_NET_CLIENT_LIST_STACKING",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_SUPPORTED",
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_PID",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_GTK_APPLICATION_ID",
    "_KDE_NET_WM_DESKTOP_FILE",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
};

using Atoms = std::vector<Atom>;  // kAtomCount of them

// Layers as the wire format's home platform numbers them; only
// "0 or not" matters to the listing.
constexpr std::int64_t kNormalLayer = 0;
constexpr std::int64_t kFloatingLayer = 3;
constexpr std::int64_t kDockLayer = 20;
constexpr std::int64_t kPopUpLayer = 101;

struct LayerOfType {
  AtomIndex type;
  std::optional<std::int64_t> layer;  // nothing: a desktop element, never listed
};

constexpr LayerOfType kLayers[] = {
    {kTypeNormal, kNormalLayer},   {kTypeDialog, kNormalLayer},    {kTypeDesktop, std::nullopt},
    {kTypeDock, kDockLayer},       {kTypeToolbar, kFloatingLayer}, {kTypeUtility, kFloatingLayer},
    {kTypeSplash, kFloatingLayer}, {kTypeMenu, kPopUpLayer},       {kTypeDropdownMenu, kPopUpLayer},
    {kTypePopupMenu, kPopUpLayer}, {kTypeTooltip, kPopUpLayer},    {kTypeNotification, kPopUpLayer},
    {kTypeCombo, kPopUpLayer},     {kTypeDnd, kPopUpLayer},
};

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p != nullptr) XFree(p);
  }
};

struct Property {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  std::unique_ptr<unsigned char, XFreeDeleter> data;

  std::string_view bytes() const {
    if (format != 8) return {};
    return {reinterpret_cast<const char*>(data.get()), count};
  }
  // Xlib hands 32-bit items over as longs.
  std::span<const unsigned long> items() const {
    if (format != 32) return {};
    return {reinterpret_cast<const unsigned long*>(data.get()), count};
  }
};

// Up to 256 KiB of a property, or nothing when the window has none or is gone.
std::optional<Property> readProperty(Display* display, Window window, Atom name) {
  if (name == None) return std::nullopt;
  Property p;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  int rc = XGetWindowProperty(display, window, name, 0, 65536, False, AnyPropertyType, &p.type,
                              &p.format, &p.count, &remaining, &data);
  p.data.reset(data);
  if (rc != Success || p.type == None || data == nullptr) return std::nullopt;
  return p;
}

std::optional<unsigned long> firstItem(Display* display, Window window, Atom name) {
  auto p = readProperty(display, window, name);
  if (!p || p->format != 32 || p->count == 0) return std::nullopt;
  return p->items().front();
}

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// ICCCM text is Latin-1 (STRING) unless the property says UTF8_STRING;
// toolkits put UTF-8 into STRING properties all the same, so valid UTF-8 is
// taken as it is.
std::string textOf(std::string_view bytes, bool declaredUtf8) {
  if (declaredUtf8) return text::toValidUtf8(bytes);
  return text::isValidUtf8(bytes) ? std::string(bytes) : latin1ToUtf8(bytes);
}

std::optional<std::string> textProperty(Display* display, Window window, Atom name,
                                        const Atoms& atoms) {
  auto p = readProperty(display, window, name);
  if (!p || p->format != 8) return std::nullopt;
  return textOf(p->bytes(), p->type == atoms[kUtf8String]);
}

bool windowManagerRunning(Display* display, const Atoms& atoms) {
  // A window manager that ended leaves its properties on the root; the check
  // window naming itself shows that one still runs.
  auto check = firstItem(display, DefaultRootWindow(display), atoms[kSupportingWmCheck]);
  if (!check) return false;
  return firstItem(display, *check, atoms[kSupportingWmCheck]) == check;
}

// Top-level windows, front to back.
std::vector<Window> stackingOrder(Display* display, const Atoms& atoms) {
  Window root = DefaultRootWindow(display);
  std::vector<Window> windows;
  if (windowManagerRunning(display, atoms)) {
    if (auto p = readProperty(display, root, atoms[kClientListStacking])) {
      auto clients = p->items();
      windows.assign(clients.begin(), clients.end());
    }
  } else {
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) != 0) {
      windows.assign(children, children + count);
    }
    if (children != nullptr) XFree(children);
  }
  // Both lists run bottom to top.
  std::reverse(windows.begin(), windows.end());
  return windows;
}

// Nothing for a desktop element.
std::optional<std::int64_t> layerOf(Display* display, Window window, bool overrideRedirect,
                                    const Atoms& atoms) {
  if (overrideRedirect) return kPopUpLayer;
  auto types = readProperty(display, window, atoms[kWindowType]);
  if (!types) return kNormalLayer;
  // The first type this side knows wins, as the window manager would read it.
  for (unsigned long type : types->items()) {
    for (const auto& entry : kLayers) {
      if (atoms[entry.type] != None && atoms[entry.type] == type) return entry.layer;
    }
  }
  return kNormalLayer;
}

bool minimised(Display* display, Window window, const Atoms& atoms) {
  auto states = readProperty(display, window, atoms[kWmState]);
  if (!states || atoms[kStateHidden] == None) return false;
  auto items = states->items();
  return std::find(items.begin(), items.end(), atoms[kStateHidden]) != items.end();
}

std::optional<std::int32_t> ownerPid(Display* display, Window window, const Atoms& atoms) {
  auto pid = firstItem(display, window, atoms[kWmPid]);
  // A CARDINAL beyond the pid range is garbage, not a process.
  if (!pid || *pid == 0 || *pid > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(*pid);
}

std::optional<std::string> className(Display* display, Window window, const Atoms& atoms) {
  auto p = readProperty(display, window, XA_WM_CLASS);
  if (!p || p->format != 8) return std::nullopt;
  // "instance\0class\0"
  std::string_view bytes = p->bytes();
  auto split = bytes.find('\0');
  if (split == std::string_view::npos) return std::nullopt;
  std::string_view cls = bytes.substr(split + 1);
  if (auto end = cls.find('\0'); end != std::string_view::npos) cls = cls.substr(0, end);
  if (cls.empty()) return std::nullopt;
  return textOf(cls, p->type == atoms[kUtf8String]);
}

std::optional<std::string> windowName(Display* display, Window window, const Atoms& atoms) {
  if (auto name = textProperty(display, window, atoms[kNetWmName], atoms)) return name;
  return textProperty(display, window, XA_WM_NAME, atoms);
}

std::optional<std::string> applicationId(Display* display, Window window, const Atoms& atoms) {
  for (AtomIndex name : {kGtkApplicationId, kKdeDesktopFile}) {
    auto id = textProperty(display, window, atoms[name], atoms);
    if (id && !id->empty()) return id;
  }
  return std::nullopt;
}

struct OnScreenWindow {
  Window id;
  WindowDescription description;
};

std::optional<OnScreenWindow> describe(Display* display, Window window, const Atoms& atoms) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0) return std::nullopt;
  if (attributes.map_state != IsViewable) return std::nullopt;
  auto layer = layerOf(display, window, attributes.override_redirect != 0, atoms);
  if (!layer || minimised(display, window, atoms)) return std::nullopt;

  WindowDescription d{.layer = layer, .windowNumber = static_cast<std::int64_t>(window)};
  auto pid = ownerPid(display, window, atoms);
  if (pid) d.ownerPid = *pid;
  d.ownerName = className(display, window, atoms);
  if (!d.ownerName && pid) d.ownerName = linux_proc::processName(*pid);
  d.windowName = windowName(display, window, atoms);
  return OnScreenWindow{window, std::move(d)};
}

Atoms internAtoms(Display* display) {
  Atoms atoms(kAtomCount, None);
  std::array<char*, kAtomCount> names;
  for (std::size_t i = 0; i < kAtomCount; ++i) names[i] = const_cast<char*>(kAtomNames[i]);
  // Names the server does not know yet stay None; the status says only that.
  XInternAtoms(display, names.data(), kAtomCount, True, atoms.data());
  return atoms;
}

bool supportsActiveWindow(Display* display, const Atoms& atoms) {
  if (!windowManagerRunning(display, atoms) || atoms[kActiveWindow] == None) return false;
  auto supported = readProperty(display, DefaultRootWindow(display), atoms[kSupported]);
  if (!supported) return false;
  auto items = supported->items();
  return std::find(items.begin(), items.end(), atoms[kActiveWindow]) != items.end();
}

void requestActivation(Display* display, Window window, const Atoms& atoms) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = atoms[kActiveWindow];
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // source indication: a pager, which WMs obey
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

}  // namespace

bool isOnScreenWindow(Display* display, Window window) {
  Atoms atoms = internAtoms(display);
  auto order = stackingOrder(display, atoms);
  if (std::find(order.begin(), order.end(), window) == order.end()) return false;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0) return false;
  if (attributes.map_state != IsViewable) return false;
  return layerOf(display, window, attributes.override_redirect != 0, atoms).has_value() &&
         !minimised(display, window, atoms);
}

// A name the server did not know yet is asked for again on the next
// request: a serving helper that started before the first application (on a
// fresh display) would otherwise never learn _NET_WM_PID and list nothing.
const std::vector<unsigned long>& Desktop::atomsFor(const Connection::Lease& lease) {
  bool unknown = std::find(atoms_.begin(), atoms_.end(), None) != atoms_.end();
  if (atomsGeneration_ != lease.generation() || unknown) {
    atoms_ = internAtoms(lease.display());
    atomsGeneration_ = lease.generation();
  }
  return atoms_;
}

std::optional<std::vector<WindowDescription>> Desktop::onScreenWindows() {
  auto lease = connection_.lease();
  if (!lease) return std::nullopt;
  Display* display = lease->display();
  const Atoms& atoms = atomsFor(*lease);
  std::vector<WindowDescription> descriptions;
  for (Window window : stackingOrder(display, atoms)) {
    auto found = describe(display, window, atoms);
    if (!found) continue;
    const auto& d = found->description;
    // The listing asks for each owner's application next; its id is learnt
    // here, in the same pass.
    if (d.layer == kNormalLayer && d.ownerPid) {
      remember(static_cast<std::int32_t>(*d.ownerPid), applicationId(display, window, atoms));
    }
    descriptions.push_back(std::move(found->description));
  }
  if (lease->broken()) return std::nullopt;
  return descriptions;
}

std::optional<std::string> Desktop::bundleIdentifier(std::int32_t pid) {
  auto startTime = linux_proc::processStartTime(pid);
  if (!startTime) return std::nullopt;
  if (auto known = recall(pid, *startTime)) return known->appId;

  auto lease = connection_.lease();
  if (!lease) return std::nullopt;
  Display* display = lease->display();
  const Atoms& atoms = atomsFor(*lease);
  std::optional<std::string> appId;
  for (Window window : stackingOrder(display, atoms)) {
    if (ownerPid(display, window, atoms) != pid) continue;
    appId = applicationId(display, window, atoms);
    if (appId) break;
  }
  if (lease->broken()) return std::nullopt;
  remember(pid, appId);
  return appId;
}

bool Desktop::activate(std::int32_t pid) {
  auto lease = connection_.lease();
  if (!lease) return false;
  Display* display = lease->display();
  const Atoms& atoms = atomsFor(*lease);
  std::optional<Window> front;
  for (Window window : stackingOrder(display, atoms)) {
    auto found = describe(display, window, atoms);
    if (found && found->description.layer == kNormalLayer && found->description.ownerPid == pid) {
      front = window;
      break;
    }
  }
  if (!front) return false;
  if (supportsActiveWindow(display, atoms)) {
    requestActivation(display, *front, atoms);
  } else {
    // Without a window manager nobody else hands out the focus.
    XRaiseWindow(display, *front);
    XSetInputFocus(display, *front, RevertToParent, CurrentTime);
  }
  XSync(display, False);
  return !lease->broken();
}

void Desktop::remember(std::int32_t pid, const std::optional<std::string>& appId) {
  auto startTime = linux_proc::processStartTime(pid);
  if (!startTime) return;
  std::lock_guard lock(knownMutex_);
  // Bounded: a long-lived helper on a busy desktop meets many processes.
  if (known_.size() >= 4096) known_.clear();
  auto [it, inserted] = known_.try_emplace(pid, KnownApplication{*startTime, appId});
  if (inserted) return;
  if (it->second.startTime != *startTime || (!it->second.appId && appId)) {
    it->second = KnownApplication{*startTime, appId};
  }
}

std::optional<Desktop::KnownApplication> Desktop::recall(std::int32_t pid,
                                                         std::uint64_t startTime) {
  std::lock_guard lock(knownMutex_);
  auto it = known_.find(pid);
  if (it == known_.end()) return std::nullopt;
  if (it->second.startTime != startTime) {
    known_.erase(it);
    return std::nullopt;
  }
  return it->second;
}

}  // namespace vorn::platform::x11
