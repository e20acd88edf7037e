// The capture task runs on a thread of its own and hands its answer over in
// a `Box` that it shares with the caller. The caller waits on the box for
// the bound at most and then reads whatever the box holds: the task's whole
// answer, or the timed-out answer it was made with. The task is never
// cancelled; a late one fills a box that nobody reads any more.
#include "computer-use/capture/capture.h"

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <limits>
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

struct Screenshot {
  std::string path;
  std::uint32_t windowNumber;
  Frame frame;
  PixelSize imageSize;
  double scale;
};

struct Failure {
  std::string error;
  std::string message;
};

using Outcome = std::variant<Screenshot, Failure>;

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
    if (failure->notInView) {
      return Failure{"unknown_root", "Window " + std::to_string(windowId) +
                                         " is not shareable: " + failure->description + "."};
    }
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

// ---- Arguments and answers ----

// The digits of a whole number beyond 64 bits.
std::string wholeNumberText(double whole) {
  if (std::isinf(whole)) return "inf";
  char buffer[400];  // the exact digits of any finite double
  std::snprintf(buffer, sizeof buffer, "%.0f", whole);
  return buffer;
}

WindowNumber windowNumberOf(std::uint64_t whole) {
  std::optional<std::uint32_t> id;
  if (whole <= std::numeric_limits<std::uint32_t>::max()) id = static_cast<std::uint32_t>(whole);
  return {id, std::to_string(whole)};
}

// Whole numbers are written without a fraction, as the caller's platform
// writes them.
Dictionary number(double v) {
  if (std::trunc(v) == v && std::fabs(v) < 9007199254740992.0) return static_cast<std::int64_t>(v);
  return v;
}

Dictionary answerFor(const Outcome& outcome) {
  if (const auto* failure = std::get_if<Failure>(&outcome)) {
    return {{"ok", false}, {"error", failure->error}, {"message", failure->message}};
  }
  const auto& shot = std::get<Screenshot>(outcome);
  return {{"ok", true},
          {"path", shot.path},
          {"url", fileUrl(shot.path)},
          {"window_number", shot.windowNumber},
          {"window_frame",
           {{"x", number(shot.frame.x)},
            {"y", number(shot.frame.y)},
            {"width", number(shot.frame.width)},
            {"height", number(shot.frame.height)}}},
          {"image_size", {{"width", shot.imageSize.width}, {"height", shot.imageSize.height}}},
          {"scale", number(shot.scale)},
          {"vision", "attached"},
          {"ax_in_helper", true}};
}

}  // namespace

std::optional<WindowNumber> windowNumberArgument(const Dictionary& request) {
  auto it = request.find("window_number");
  if (it == request.end() || !it->is_number()) return std::nullopt;
  if (it->is_number_unsigned()) {
    auto whole = it->get<std::uint64_t>();
    if (whole < 1) return std::nullopt;
    return windowNumberOf(whole);
  }
  if (it->is_number_integer()) {
    auto whole = it->get<std::int64_t>();
    if (whole < 1) return std::nullopt;
    return windowNumberOf(static_cast<std::uint64_t>(whole));
  }
  double whole = std::trunc(it->get<double>());
  if (!(whole >= 1)) return std::nullopt;
  if (whole < 18446744073709551616.0) return windowNumberOf(static_cast<std::uint64_t>(whole));
  return WindowNumber{std::nullopt, wholeNumberText(whole)};
}

Dictionary capture(const Dictionary& request, vorn::platform::Platform& platform) {
  return captureWithin(request, platform, kBound);
}

Dictionary captureWithin(const Dictionary& request, vorn::platform::Platform& platform,
                         std::chrono::milliseconds bound) {
  auto number = windowNumberArgument(request);
  if (!number) return answerFor(Failure{"invalid_arguments", "window_number is required"});
  if (!number->id) return answerFor(notShareable(number->decimal));

  auto box = std::make_shared<Box>();
  try {
    std::thread(runTask, box, *number->id, std::ref(platform.capture)).detach();
  } catch (const std::system_error& e) {
    return answerFor(permissionRequired(vorn::text::toValidUtf8(e.what())));
  }
  std::unique_lock lock(box->mutex);
  const auto deadline = std::chrono::steady_clock::now() + bound;
  box->signalled.wait_until(lock, deadline, [&] { return box->done; });
  return answerFor(box->result);
}

}  // namespace Capture
