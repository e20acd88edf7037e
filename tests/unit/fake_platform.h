// A scripted desktop for unit tests: windows and applications as the test
// sets them up, and a recorder of the input an operation posts.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "computer-use/platform/platform.h"
#include "tests/unit/fake_accessibility.h"

namespace vorn::testing {

class FakePlatform final : public platform::WindowServer,
                           public platform::Applications,
                           public platform::InputDevice,
                           public platform::ScreenCapture {
 public:
  // Scripted behaviour.
  std::optional<std::vector<platform::WindowDescription>> windows =
      std::vector<platform::WindowDescription>{};
  std::map<std::int32_t, std::string> bundles;
  bool inputTrusted = true;
  /// What `windowsUnsupported()` and `inputUnsupported()` say.
  std::optional<std::string> windowsRefusal;
  std::optional<std::string> inputRefusal;
  bool sourceAvailable = true;
  bool postSucceeds = true;
  /// The screen clicks may land on; unknown when not set.
  std::optional<platform::ScreenArea> screen;
  /// Whether sources can type text; `onType` plays the application that
  /// receives it.
  bool canType = true;
  std::function<void(const std::u32string&)> onType;

  FakeAccessibility accessibility;
  // Capture: no content at all when `contentFailure` is set; otherwise the
  // shareable windows, the scale, and a failure or an image of one colour at
  // the requested size (else the frame's). `beforeImage` runs on the capture
  // task's thread just before the image is made.
  std::optional<std::string> contentFailure;
  std::vector<platform::ShareableWindow> shareable;
  float scale = 1;
  std::optional<platform::CaptureFailure> imageFailure;
  std::array<std::uint8_t, 4> fill = {0x20, 0xC0, 0x60, 0xFF};
  std::function<void()> beforeImage;

  // What happened.
  std::vector<std::int32_t> bundleLookups;
  std::vector<std::int32_t> activations;
  std::vector<std::vector<platform::InputEvent>> posted;  // one entry per post call
  std::vector<std::u32string> typed;                      // one entry per typeText call
  std::atomic<int> contentRequests = 0;
  /// The size each capture asked for, in order (guarded by `captureMutex`).
  std::vector<std::optional<platform::PixelSize>> requestedSizes;
  std::mutex captureMutex;

  platform::Platform& platform() { return platform_; }

  std::optional<std::vector<platform::WindowDescription>> onScreenWindows() override {
    return windows;
  }
  std::optional<std::string> bundleIdentifier(std::int32_t pid) override {
    bundleLookups.push_back(pid);
    auto it = bundles.find(pid);
    if (it == bundles.end()) return std::nullopt;
    return it->second;
  }
  bool activate(std::int32_t pid) override {
    activations.push_back(pid);
    return false;
  }
  std::optional<std::string> windowsUnsupported() override { return windowsRefusal; }
  std::optional<std::string> inputUnsupported() override { return inputRefusal; }
  bool trusted() override { return inputTrusted; }
  std::optional<platform::ScreenArea> screenArea() override { return screen; }
  std::unique_ptr<platform::EventSource> createEventSource() override {
    if (!sourceAvailable) return nullptr;
    return std::make_unique<Source>(*this);
  }
  std::variant<std::unique_ptr<platform::ShareableContent>, platform::CaptureFailure>
  shareableContent() override {
    ++contentRequests;
    if (contentFailure) return platform::CaptureFailure{.description = *contentFailure};
    return std::make_unique<Content>(*this);
  }

 private:
  class Source final : public platform::EventSource {
   public:
    explicit Source(FakePlatform& owner) : owner_(owner) {}
    bool post(std::span<const platform::InputEvent> events) override {
      if (!owner_.postSucceeds) return false;
      owner_.posted.emplace_back(events.begin(), events.end());
      return true;
    }
    bool typeText(std::u32string_view text) override {
      if (!owner_.canType || !owner_.postSucceeds) return false;
      owner_.typed.emplace_back(text);
      if (owner_.onType) owner_.onType(owner_.typed.back());
      return true;
    }

   private:
    FakePlatform& owner_;
  };

  class Content final : public platform::ShareableContent {
   public:
    explicit Content(FakePlatform& owner) : owner_(owner) {}
    std::optional<platform::ShareableWindow> window(std::uint32_t id) override {
      for (const auto& w : owner_.shareable) {
        if (w.windowId == id) return w;
      }
      return std::nullopt;
    }
    float pointPixelScale(const platform::ShareableWindow&) override { return owner_.scale; }
    std::variant<platform::Image, platform::CaptureFailure> captureImage(
        const platform::ShareableWindow& window, std::optional<platform::PixelSize> size) override {
      {
        std::lock_guard lock(owner_.captureMutex);
        owner_.requestedSizes.push_back(size);
      }
      if (owner_.beforeImage) owner_.beforeImage();
      if (owner_.imageFailure) return *owner_.imageFailure;
      platform::PixelSize natural{std::max(1u, static_cast<std::uint32_t>(window.frame.width)),
                                  std::max(1u, static_cast<std::uint32_t>(window.frame.height))};
      platform::Image image{size.value_or(natural), {}};
      for (std::size_t i = 0; i < std::size_t{image.size.width} * image.size.height; ++i) {
        image.rgba.insert(image.rgba.end(), owner_.fill.begin(), owner_.fill.end());
      }
      return image;
    }

   private:
    FakePlatform& owner_;
  };

  platform::Platform platform_{*this, *this, *this, accessibility, *this};
};

/// A window description with every field set; tests clear what they need to.
inline platform::WindowDescription window(std::int64_t pid, std::int64_t number, std::string name,
                                          std::string owner = "Editor") {
  return {.layer = 0,
          .ownerPid = pid,
          .windowNumber = number,
          .ownerName = std::move(owner),
          .windowName = std::move(name)};
}

}  // namespace vorn::testing
