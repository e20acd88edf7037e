// One capture: sway's tree says where the window lies and whether it is in
// view; screencopy copies that region of its output into a shared-memory
// buffer of ours; the tree is read again afterwards, and a window that moved
// or got covered meanwhile is refused rather than answered with what the
// screen showed in its place.
#include "computer-use/platform/wayland/screencopy_capture.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>

#include "common/unique_fd.h"
#include "computer-use/platform/image_scale.h"
#include "computer-use/platform/wayland/sway_ipc.h"
#include "computer-use/platform/wayland/unsupported.h"
#include "computer-use/platform/wayland/wayland_display.h"
#include "computer-use/platform/wayland/wayland_outputs.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace vorn::platform::wayland {
namespace {

// Below the screenshot's own 8 seconds, so that a compositor that never
// answers still gets a failure of ours.
constexpr std::chrono::milliseconds kCaptureBound{5000};
constexpr const char* kScreencopyManager = "zwlr_screencopy_manager_v1";
constexpr const char* kScreencopyNeed = "the screencopy protocol (zwlr_screencopy_manager_v1)";

CaptureFailure failed(std::string description) { return {.description = std::move(description)}; }
CaptureFailure gone() { return {.windowGone = true, .description = "the window went away"}; }
CaptureFailure notInView(std::string why) {
  return {.notInView = true, .description = std::move(why)};
}

std::optional<CaptureFailure> refusal(sway::Exposure exposure) {
  switch (exposure) {
    case sway::Exposure::kUncovered:
      return std::nullopt;
    case sway::Exposure::kCovered:
      return notInView(
          "another window lies over it, and only what the screen shows can be captured");
    case sway::Exposure::kOffScreen:
      return notInView("it is not wholly on one screen");
    case sway::Exposure::kHidden:
      break;
  }
  return notInView("it is not shown (another tab or workspace)");
}

// Makes the pages of [data, data + size) present at once: a fresh process
// would otherwise fault them in one by one while it writes a megabyte image,
// which costs more than the writing. Only a hint: nothing changes when the
// kernel cannot (before Linux 5.14).
void populate(void* data, std::size_t size) {
  auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
  auto end = (reinterpret_cast<std::uintptr_t>(data) + size) / page * page;
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

// ---- One copy of an output region ----

struct BufferLayout {
  std::uint32_t format, width, height, stride;
};

struct CopyState {
  std::vector<BufferLayout> shm;
  bool buffersKnown = false;
  std::uint32_t flags = 0;
  bool ready = false;
  bool failed = false;
};

void onBuffer(void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width,
              std::uint32_t height, std::uint32_t stride) {
  static_cast<CopyState*>(data)->shm.push_back({format, width, height, stride});
}
void onFlags(void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
  static_cast<CopyState*>(data)->flags = flags;
}
void onReady(void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {
  static_cast<CopyState*>(data)->ready = true;
}
void onFailed(void* data, zwlr_screencopy_frame_v1*) {
  static_cast<CopyState*>(data)->failed = true;
}
void onDamage(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t,
              std::uint32_t) {}
void onDmabuf(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {}
void onBufferDone(void* data, zwlr_screencopy_frame_v1*) {
  static_cast<CopyState*>(data)->buffersKnown = true;
}

const zwlr_screencopy_frame_v1_listener kFrameListener = {onBuffer, onFlags,  onReady,     onFailed,
                                                          onDamage, onDmabuf, onBufferDone};

bool convertible(std::uint32_t format) {
  return format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888 ||
         format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
}

// A shared-memory buffer of the compositor's choosing, mapped for reading.
class ShmBuffer {
 public:
  static std::unique_ptr<ShmBuffer> make(wl_shm* shm, const BufferLayout& layout) {
    std::size_t size = std::size_t{layout.stride} * layout.height;
    if (size == 0 || layout.stride < layout.width * 4) return nullptr;
    UniqueFd fd(::memfd_create("vorn-capture", MFD_CLOEXEC));
    if (!fd.valid() || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) return nullptr;
    // Populated at once: faulting its pages in one by one while reading the
    // image costs more than the copy itself.
    void* map =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd.get(), 0);
    if (map == MAP_FAILED) return nullptr;
    std::unique_ptr<ShmBuffer> b(new ShmBuffer(map, size));
    b->pool_ = wl_shm_create_pool(shm, fd.get(), static_cast<std::int32_t>(size));
    b->buffer_ = wl_shm_pool_create_buffer(b->pool_, 0, static_cast<std::int32_t>(layout.width),
                                           static_cast<std::int32_t>(layout.height),
                                           static_cast<std::int32_t>(layout.stride), layout.format);
    return b;
  }
  ~ShmBuffer() {
    if (buffer_ != nullptr) wl_buffer_destroy(buffer_);
    if (pool_ != nullptr) wl_shm_pool_destroy(pool_);
    ::munmap(map_, size_);
  }
  wl_buffer* buffer() const { return buffer_; }
  const std::uint8_t* pixels() const { return static_cast<const std::uint8_t*>(map_); }

 private:
  ShmBuffer(void* map, std::size_t size) : map_(map), size_(size) {}
  void* map_;
  std::size_t size_;
  wl_shm_pool* pool_ = nullptr;
  wl_buffer* buffer_ = nullptr;
};

std::variant<Image, CaptureFailure> copyRegion(Display& display,
                                               zwlr_screencopy_manager_v1* manager,
                                               std::uint32_t managerVersion, wl_shm* shm,
                                               wl_output* output, const Frame& region,
                                               Clock::time_point deadline) {
  CopyState state;
  auto* frame = zwlr_screencopy_manager_v1_capture_output_region(
      manager, 0, output, static_cast<std::int32_t>(region.x), static_cast<std::int32_t>(region.y),
      static_cast<std::int32_t>(region.width), static_cast<std::int32_t>(region.height));
  std::unique_ptr<zwlr_screencopy_frame_v1, decltype(&zwlr_screencopy_frame_v1_destroy)> owned(
      frame, zwlr_screencopy_frame_v1_destroy);
  zwlr_screencopy_frame_v1_add_listener(frame, &kFrameListener, &state);
  // Before version 3 the buffer events end with the first one.
  bool described = display.dispatchUntil(
      [&] {
        return state.failed || state.buffersKnown || (managerVersion < 3 && !state.shm.empty());
      },
      deadline);
  if (!described || state.failed) return failed("the compositor did not offer a buffer");
  auto layout = std::find_if(state.shm.begin(), state.shm.end(),
                             [](const BufferLayout& s) { return convertible(s.format); });
  if (layout == state.shm.end()) return failed("the compositor offered no 32-bit buffer");
  auto buffer = ShmBuffer::make(shm, *layout);
  if (!buffer) return failed("no shared memory for the image");
  zwlr_screencopy_frame_v1_copy(frame, buffer->buffer());
  if (!display.dispatchUntil([&] { return state.ready || state.failed; }, deadline) ||
      state.failed) {
    return failed("the compositor did not copy the screen");
  }
  auto image =
      imageFromBuffer(buffer->pixels(), layout->format, {layout->width, layout->height},
                      layout->stride, state.flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT);
  if (!image) return failed("the compositor's buffer format is not known");
  return std::move(*image);
}

// ---- One capture's content ----

class Content final : public ShareableContent {
 public:
  Content(SwayDesktop& windows, sway::Tree tree, std::unique_ptr<Display> display)
      : windows_(windows), tree_(std::move(tree)), display_(std::move(display)) {}
  ~Content() override {
    outputs_.reset();
    if (soleOutput_ != nullptr) wl_output_destroy(soleOutput_);
    if (manager_ != nullptr) zwlr_screencopy_manager_v1_destroy(manager_);
    if (shm_ != nullptr) wl_shm_destroy(shm_);
  }

  std::optional<CaptureFailure> bind() {
    const Global* manager = display_->find(kScreencopyManager);
    const Global* shm = display_->find(wl_shm_interface.name);
    managerVersion_ = std::min<std::uint32_t>(manager->version, 3);
    manager_ = static_cast<zwlr_screencopy_manager_v1*>(
        display_->bind(*manager, &zwlr_screencopy_manager_v1_interface, 3));
    shm_ = static_cast<wl_shm*>(display_->bind(*shm, &wl_shm_interface, 1));
    return std::nullopt;
  }

  std::optional<ShareableWindow> window(std::uint32_t windowId) override {
    const sway::Window* w = sway::findWindow(tree_, windowId);
    if (w == nullptr || !w->onCurrentWorkspace) return std::nullopt;
    return ShareableWindow{windowId, w->content};
  }

  float pointPixelScale(const ShareableWindow& window) override {
    const sway::Output* output = outputOf(window.frame);
    return output != nullptr ? static_cast<float>(output->scale) : 1.0f;
  }

  std::variant<Image, CaptureFailure> captureImage(const ShareableWindow& window,
                                                   std::optional<PixelSize> size) override {
    const sway::Window* w = sway::findWindow(tree_, window.windowId);
    if (w == nullptr) return gone();
    if (auto refused = refusal(sway::exposure(tree_, *w))) return *refused;
    const sway::Output* output = outputOf(w->content);
    wl_output* proxy = output != nullptr ? proxyNamed(output->name) : nullptr;
    if (proxy == nullptr) {
      if (display_->usable()) return failed("the window's output is not known to the compositor");
      return failed(unreachableCompositor());
    }
    Frame region{w->content.x - output->rect.x, w->content.y - output->rect.y, w->content.width,
                 w->content.height};
    auto copied = copyRegion(*display_, manager_, managerVersion_, shm_, proxy, region,
                             Clock::now() + kCaptureBound);
    if (auto* failure = std::get_if<CaptureFailure>(&copied)) return *failure;
    if (auto changed = checkUnchanged(*w)) return *changed;
    Image& image = std::get<Image>(copied);
    if (size && !(*size == image.size)) return scaledImage(image, *size);
    return std::move(image);
  }

 private:
  const sway::Output* outputOf(const Frame& frame) const {
    for (const auto& o : tree_.outputs) {
      if (contains(o.rect, frame)) return &o;
    }
    return nullptr;
  }

  // The compositor's output that sway calls `name`. With one output on
  // both sides it is that one, and its name need not be read (a round trip).
  wl_output* proxyNamed(const std::string& name) {
    std::vector<const Global*> globals;
    for (const auto& g : display_->globals()) {
      if (g.interface == wl_output_interface.name) globals.push_back(&g);
    }
    if (globals.size() == 1 && tree_.outputs.size() == 1) {
      if (soleOutput_ == nullptr) {
        soleOutput_ = static_cast<wl_output*>(display_->bind(*globals[0], &wl_output_interface, 1));
      }
      return soleOutput_;
    }
    if (!outputs_) outputs_ = Outputs::read(*display_, Clock::now() + kCaptureBound);
    if (!outputs_) return nullptr;
    for (const auto& o : outputs_->list()) {
      if (o.name == name) return o.proxy;
    }
    return nullptr;
  }

  // The window as it stands after the copy: still there, in the same place,
  // still in view. Otherwise the copy may hold what came over it.
  std::optional<CaptureFailure> checkUnchanged(const sway::Window& before) {
    auto now = windows_.tree();
    if (!now) return failed("sway's IPC stopped answering");
    const sway::Window* after = sway::findWindow(*now, before.id);
    if (after == nullptr) return gone();
    if (!(after->content == before.content)) return notInView("it moved while it was captured");
    return refusal(sway::exposure(*now, *after));
  }

  SwayDesktop& windows_;
  sway::Tree tree_;
  std::unique_ptr<Display> display_;
  zwlr_screencopy_manager_v1* manager_ = nullptr;
  std::uint32_t managerVersion_ = 0;
  wl_shm* shm_ = nullptr;
  wl_output* soleOutput_ = nullptr;
  std::unique_ptr<Outputs> outputs_;
};

}  // namespace

std::variant<std::unique_ptr<ShareableContent>, CaptureFailure>
ScreencopyCapture::shareableContent() {
  auto display = Display::connect(Clock::now() + kCaptureBound);
  if (!display) return failed(unreachableCompositor());
  std::vector<std::string> needs;
  if (!sway::socketPath()) needs.push_back(kSwayIpcNeed);
  if (display->find(kScreencopyManager) == nullptr ||
      display->find(wl_shm_interface.name) == nullptr) {
    needs.push_back(kScreencopyNeed);
  }
  if (!needs.empty()) {
    return failed(unsupportedCompositor(display->compositor(), "screenshots need", needs));
  }
  auto tree = windows_.tree();
  if (!tree) return failed("sway's IPC does not answer");
  auto content = std::make_unique<Content>(windows_, std::move(*tree), std::move(display));
  if (auto failure = content->bind()) return *failure;
  return content;
}

std::optional<Image> imageFromBuffer(const std::uint8_t* pixels, std::uint32_t format,
                                     PixelSize size, std::uint32_t stride, bool yInverted) {
  // Little-endian 32-bit words: XRGB8888 is 0xXXRRGGBB, XBGR8888 0xXXBBGGRR;
  // straight RGBA read as a word is 0xAABBGGRR. Word by word, the loop
  // vectorises.
  bool bgr = format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888;
  bool rgb = format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
  if (!bgr && !rgb) return std::nullopt;
  Image image{size, {}};
  std::size_t bytes = std::size_t{size.width} * size.height * 4;
  image.rgba.reserve(bytes);
  populate(image.rgba.data(), bytes);
  image.rgba.resize(bytes);
  std::vector<std::uint32_t> row(size.width);
  for (std::uint32_t y = 0; y < size.height; ++y) {
    const std::uint8_t* in = pixels + std::size_t{stride} * (yInverted ? size.height - 1 - y : y);
    std::memcpy(row.data(), in, std::size_t{size.width} * 4);
    if (bgr) {
      for (auto& w : row) {
        w = 0xFF000000u | ((w & 0xFFu) << 16) | (w & 0xFF00u) | ((w >> 16) & 0xFFu);
      }
    } else {
      for (auto& w : row) w |= 0xFF000000u;
    }
    std::memcpy(image.rgba.data() + std::size_t{size.width} * 4 * y, row.data(),
                std::size_t{size.width} * 4);
  }
  return image;
}

}  // namespace vorn::platform::wayland
