// The capture task runs on a thread of its own and hands its answer over in
// a `Box` that it shares with the caller. The caller waits on the box for
// the bound at most and then reads whatever the box holds: the task's whole
// answer, or the timed-out answer it was made with. The task is never
// cancelled; a late one fills a box that nobody reads any more.
#include "computer-use/capture/capture.h"

#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>

#include "common/text.h"
#include "common/uuid.h"
#include "computer-use/capture/png_writer.h"
#include "computer-use/capture/screenshot_folder.h"

namespace Capture {
namespace {

using vorn::platform::CaptureFailure;
using vorn::platform::Frame;
using vorn::platform::Image;
using vorn::platform::PixelSize;
using vorn::platform::ScreenCapture;
using vorn::platform::ShareableContent;

constexpr std::string_view kPermissionPrefix = "Screen Recording is required in the helper: ";

using vorn::Failure;

Failure permissionRequired(std::string_view description) {
  return {"permission_required", std::string(kPermissionPrefix) + std::string(description)};
}

Failure notShareable(std::string_view decimal) {
  return {"unknown_root", "Window " + std::string(decimal) + " is not shareable."};
}

Failure timedOut() { return {"unknown_root", "Screenshot timed out."}; }

// What the task and its caller share. The caller reads `result` once its
// wait ends; the task writes it once, under the mutex, so either answer is
// seen whole.
struct Box {
  std::mutex mutex;
  std::condition_variable signalled;
  bool done = false;
  Outcome result = timedOut();
};

// ---- The capture task ----

// The side of the image for `points` at `scale`: halves round away from zero.
std::uint32_t pixels(double points, double scale) {
  double side = std::round(points * scale);
  if (!(side >= 1)) return 1;
  return side >= 1 << 30 ? 1u << 30 : static_cast<std::uint32_t>(side);
}

// A frame of a point or less on either side is captured at its natural size.
std::optional<PixelSize> requestedSize(const Frame& frame, double scale) {
  if (!(frame.width > 1 && frame.height > 1) || !std::isfinite(frame.width * frame.height)) {
    return std::nullopt;
  }
  return PixelSize{pixels(frame.width, scale), pixels(frame.height, scale)};
}

// Writes the PNG file; its path, or the failure.
std::variant<std::string, Failure> writePng(const Image& image) {
  auto folder = openScreenshotFolder(temporaryDirectory());
  if (auto* refused = std::get_if<std::string>(&folder)) return permissionRequired(*refused);
  const auto& open = std::get<ScreenshotFolder>(folder);
  std::string name = "cu-" + vorn::newUuid() + ".png";
  auto destination = FileDestination::create(open, name);
  if (!destination) return Failure{"unknown_root", "Failed to create PNG destination."};
  auto png = encodePng(image);
  if (!png || !destination->finish(*png)) return Failure{"unknown_root", "Failed to write PNG."};
  return open.path + "/" + name;
}

Outcome captureWindow(std::uint32_t windowId, ScreenCapture& screen) {
  auto content = screen.shareableContent();
  if (auto* failure = std::get_if<CaptureFailure>(&content)) {
    return permissionRequired(failure->description);
  }
  ShareableContent& shareable = *std::get<std::unique_ptr<ShareableContent>>(content);
  auto window = shareable.window(windowId);
  if (!window) return notShareable(std::to_string(windowId));
  float reported = shareable.pointPixelScale(*window);
  double scale = reported > 0 ? reported : 1.0;
  auto captured = shareable.captureImage(*window, requestedSize(window->frame, scale));
  if (auto* failure = std::get_if<CaptureFailure>(&captured)) {
    if (failure->windowGone) return notShareable(std::to_string(windowId));
    if (failure->timedOut) return timedOut();
    return permissionRequired(failure->description);
  }
  const Image& image = std::get<Image>(captured);
  auto written = writePng(image);
  if (auto* failure = std::get_if<Failure>(&written)) return *failure;
  return Screenshot{std::get<std::string>(std::move(written)), windowId, window->frame, image.size,
                    scale};
}

// Nothing may escape a thread: an exception there would end the process.
Outcome captureGuarded(std::uint32_t windowId, ScreenCapture& screen) {
  try {
    return captureWindow(windowId, screen);
  } catch (const std::exception& e) {
    return permissionRequired(vorn::text::toValidUtf8(e.what()));
  } catch (...) {
    return permissionRequired("the capture failed");
  }
}

void runTask(std::shared_ptr<Box> box, std::uint32_t windowId, ScreenCapture& screen) {
  Outcome outcome = captureGuarded(windowId, screen);
  {
    std::lock_guard lock(box->mutex);
    box->result = std::move(outcome);
    box->done = true;
  }
  box->signalled.notify_one();
}

}  // namespace

Outcome capture(const CaptureRequest& request, vorn::platform::Platform& platform) {
  return captureWithin(request, platform, kBound);
}

Outcome captureWithin(const CaptureRequest& request, vorn::platform::Platform& platform,
                      std::chrono::milliseconds bound) {
  if (!request.window.id) return notShareable(request.window.decimal);
  auto box = std::make_shared<Box>();
  try {
    std::thread(runTask, box, *request.window.id, std::ref(platform.capture)).detach();
  } catch (const std::system_error& e) {
    return permissionRequired(vorn::text::toValidUtf8(e.what()));
  }
  std::unique_lock lock(box->mutex);
  const auto deadline = std::chrono::steady_clock::now() + bound;
  box->signalled.wait_until(lock, deadline, [&] { return box->done; });
  return box->result;
}

}  // namespace Capture
