// An operation's events are planned first (input_plan.h), so a refusal sends
// nothing; then they go out back to back, and one round trip waits until the
// compositor has handled them. The one wait is the settle after making the
// devices on a seat that had none (see virtual_input.h).
#include "computer-use/platform/wayland/virtual_input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstring>
#include <ctime>
#include <thread>

#include "common/unique_fd.h"
#include "computer-use/platform/wayland/input_plan.h"
#include "computer-use/platform/wayland/unsupported.h"
#include "computer-use/platform/wayland/wayland_display.h"
#include "computer-use/platform/wayland/wayland_outputs.h"
#include "us_keymap.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace vorn::platform::wayland {
namespace {

// How long applications get to take up a seat's new keyboard and pointer.
constexpr std::chrono::milliseconds kSettle{100};

// A wheel step as libinput reports one: 15 degrees, one discrete click.
constexpr double kWheelStepValue = 15.0;

// Milliseconds on the monotonic clock, as input devices stamp their events.
std::uint32_t now() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::uint32_t>(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

// A keymap's text in a sealed memory file, with its terminating NUL (the
// compositor reads it as a C string).
UniqueFd keymapFile(std::string_view text, std::uint32_t& size) {
  size = static_cast<std::uint32_t>(text.size() + 1);
  UniqueFd fd(::memfd_create("vorn-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd.valid()) return fd;
  std::size_t written = 0;
  while (written < size) {
    ssize_t n = ::write(fd.get(), text.data() + written, size - written);
    if (n <= 0) return UniqueFd();
    written += static_cast<std::size_t>(n);
  }
  ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  return fd;
}

// The seat's capabilities as they were when it was bound, before our own
// devices joined it (the compositor answers a bind at once, and announces
// the change that our devices make later).
void onCapabilities(void* data, wl_seat*, std::uint32_t capabilities) {
  auto& first = *static_cast<std::optional<std::uint32_t>*>(data);
  if (!first) first = capabilities;
}

const wl_seat_listener kSeatListener = {onCapabilities, nullptr};

constexpr const char* kKeyboardManager = "zwp_virtual_keyboard_manager_v1";
constexpr const char* kPointerManager = "zwlr_virtual_pointer_manager_v1";
constexpr const char* kKeyboardNeed =
    "the virtual keyboard protocol (zwp_virtual_keyboard_manager_v1)";
constexpr const char* kPointerNeed =
    "the virtual pointer protocol (zwlr_virtual_pointer_manager_v1)";
constexpr const char* kSeatNeed = "a seat (wl_seat)";

}  // namespace

class VirtualInput::Devices {
 public:
  /// Connects and makes both devices; the reason when it cannot.
  static std::variant<std::unique_ptr<Devices>, std::string> open(Clock::time_point deadline) {
    auto display = Display::connect(deadline);
    if (!display) return unreachableCompositor();
    const Global* seat = display->find(wl_seat_interface.name);
    const Global* keyboards = display->find(kKeyboardManager);
    const Global* pointers = display->find(kPointerManager);
    std::vector<std::string> needs;
    if (keyboards == nullptr) needs.push_back(kKeyboardNeed);
    if (pointers == nullptr) needs.push_back(kPointerNeed);
    if (seat == nullptr) needs.push_back(kSeatNeed);
    if (!needs.empty()) {
      return unsupportedCompositor(display->compositor(), "keys and clicks need", needs);
    }
    std::unique_ptr<Devices> devices(new Devices(std::move(display)));
    if (!devices->make(*seat, *keyboards, *pointers, deadline)) return unreachableCompositor();
    return devices;
  }

  ~Devices() {
    if (keyboard_ != nullptr) zwp_virtual_keyboard_v1_destroy(keyboard_);
    if (pointer_ != nullptr) zwlr_virtual_pointer_v1_destroy(pointer_);
    if (keyboardManager_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(keyboardManager_);
    if (pointerManager_ != nullptr) zwlr_virtual_pointer_manager_v1_destroy(pointerManager_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    outputs_.reset();
  }

  bool usable() const { return display_->usable(); }

  /// Sends the requests for `events` and waits until the compositor has
  /// handled them. False when they cannot be expressed (nothing is sent) or
  /// the compositor did not take them.
  bool post(std::span<const InputEvent> events, Clock::time_point deadline) {
    // What the compositor announced since (a moved output) comes in first.
    if (!display_->dispatchPending()) return false;
    std::vector<Frame> outputs;
    for (const auto& output : outputs_->list()) outputs.push_back(output.logical);
    return send(planRequests(events, outputs), deadline);
  }

  /// Types `text` (see `planTyping`) and waits until the compositor has
  /// handled it. False when it cannot be typed (nothing is sent) or the
  /// compositor did not take it.
  bool type(std::u32string_view text, Clock::time_point deadline) {
    if (!display_->dispatchPending()) return false;
    return send(planTyping(text, std::size(generated::kSpareKeys)), deadline);
  }

  /// The smallest rectangle holding every output, as last announced.
  std::optional<Frame> layout() {
    if (!display_->dispatchPending()) return std::nullopt;
    return outputs_->layout();
  }

 private:
  explicit Devices(std::unique_ptr<Display> display) : display_(std::move(display)) {}

  bool make(const Global& seat, const Global& keyboards, const Global& pointers,
            Clock::time_point deadline) {
    seat_ = static_cast<wl_seat*>(display_->bind(seat, &wl_seat_interface, 1));
    wl_seat_add_listener(seat_, &kSeatListener, &capabilities_);
    keyboardManager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
        display_->bind(keyboards, &zwp_virtual_keyboard_manager_v1_interface, 1));
    pointerManager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
        display_->bind(pointers, &zwlr_virtual_pointer_manager_v1_interface, 1));
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboardManager_, seat_);
    if (!uploadKeymap({generated::kKeymapText, sizeof generated::kKeymapText - 1})) return false;
    pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointerManager_, seat_);
    outputs_ = Outputs::read(*display_, deadline);
    // Its round trip answers everything asked above.
    if (!outputs_) return false;
    std::uint32_t before = capabilities_.value_or(0);
    // A seat that had no keyboard or no pointer before ours announces one
    // now; each application asks for its own keyboard and pointer objects
    // only when it hears of it, and events sent before then never reach it.
    // Nothing tells another client's progress, so they get a while.
    constexpr std::uint32_t kBoth = WL_SEAT_CAPABILITY_KEYBOARD | WL_SEAT_CAPABILITY_POINTER;
    if ((before & kBoth) != kBoth)
      std::this_thread::sleep_until(std::min(deadline, Clock::now() + kSettle));
    return true;
  }

  bool send(const std::optional<std::vector<DeviceRequest>>& requests, Clock::time_point deadline) {
    if (!requests) return false;
    for (const auto& request : *requests) {
      if (!std::visit([&](const auto& r) { return send(r); }, request)) return false;
    }
    return display_->roundtrip(deadline);
  }

  bool uploadKeymap(std::string_view text) {
    std::uint32_t size = 0;
    UniqueFd keymap = keymapFile(text, size);
    if (!keymap.valid()) return false;
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, keymap.get(), size);
    return true;
  }

  bool send(const KeymapRequest& r) { return uploadKeymap(keymapText(r)); }
  bool send(const KeyRequest& r) {
    zwp_virtual_keyboard_v1_key(
        keyboard_, now(), r.code,
        r.pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    return true;
  }
  bool send(const ModifiersRequest& r) {
    zwp_virtual_keyboard_v1_modifiers(keyboard_, r.depressed, 0, 0, 0);
    return true;
  }
  bool send(const MotionRequest& r) {
    zwlr_virtual_pointer_v1_motion_absolute(pointer_, now(), r.x, r.y, r.width, r.height);
    return true;
  }
  bool send(const ButtonRequest& r) {
    zwlr_virtual_pointer_v1_button(
        pointer_, now(), r.code,
        r.pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    return true;
  }
  bool send(const WheelRequest& r) {
    auto axis = r.vertical ? WL_POINTER_AXIS_VERTICAL_SCROLL : WL_POINTER_AXIS_HORIZONTAL_SCROLL;
    std::int32_t discrete = r.forward ? 1 : -1;
    zwlr_virtual_pointer_v1_axis_source(pointer_, WL_POINTER_AXIS_SOURCE_WHEEL);
    zwlr_virtual_pointer_v1_axis_discrete(
        pointer_, now(), axis, wl_fixed_from_double(kWheelStepValue * discrete), discrete);
    return true;
  }
  bool send(const FrameRequest&) {
    zwlr_virtual_pointer_v1_frame(pointer_);
    return true;
  }

  std::unique_ptr<Display> display_;
  wl_seat* seat_ = nullptr;
  zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
  zwlr_virtual_pointer_manager_v1* pointerManager_ = nullptr;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;
  std::unique_ptr<Outputs> outputs_;
  std::optional<std::uint32_t> capabilities_;
};

namespace {

class Source final : public EventSource {
 public:
  Source(std::unique_lock<std::mutex> lock, VirtualInput::Devices& devices,
         Clock::time_point deadline)
      : lock_(std::move(lock)), devices_(devices), deadline_(deadline) {}

  bool post(std::span<const InputEvent> events) override {
    return devices_.post(events, deadline_);
  }
  bool typeText(std::u32string_view text) override { return devices_.type(text, deadline_); }

 private:
  std::unique_lock<std::mutex> lock_;
  VirtualInput::Devices& devices_;
  Clock::time_point deadline_;
};

}  // namespace

VirtualInput::VirtualInput(std::chrono::milliseconds bound) : bound_(bound) {}

VirtualInput::~VirtualInput() = default;

std::variant<VirtualInput::Devices*, std::string> VirtualInput::devices() {
  if (devices_ && devices_->usable()) return devices_.get();
  devices_.reset();
  auto opened = Devices::open(Clock::now() + bound_);
  if (auto* reason = std::get_if<std::string>(&opened)) return *reason;
  devices_ = std::move(std::get<std::unique_ptr<Devices>>(opened));
  return devices_.get();
}

std::optional<std::string> VirtualInput::inputUnsupported() {
  std::lock_guard lock(mutex_);
  auto devices = this->devices();
  if (auto* reason = std::get_if<std::string>(&devices)) return *reason;
  return std::nullopt;
}

bool VirtualInput::trusted() { return !inputUnsupported(); }

std::optional<ScreenArea> VirtualInput::screenArea() {
  std::lock_guard lock(mutex_);
  auto devices = this->devices();
  auto* made = std::get_if<Devices*>(&devices);
  if (made == nullptr) return std::nullopt;
  auto layout = (*made)->layout();
  if (!layout) return std::nullopt;
  return ScreenArea{layout->x, layout->y, layout->width, layout->height};
}

std::unique_ptr<EventSource> VirtualInput::createEventSource() {
  std::unique_lock lock(mutex_);
  auto devices = this->devices();
  auto* made = std::get_if<Devices*>(&devices);
  if (made == nullptr) return nullptr;
  return std::make_unique<Source>(std::move(lock), **made, Clock::now() + bound_);
}

}  // namespace vorn::platform::wayland
