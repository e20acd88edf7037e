#include "computer-use/platform/null_platform.h"

namespace vorn::platform {
namespace {

class NullDesktop final : public WindowServer,
                          public Applications,
                          public InputDevice,
                          public Accessibility,
                          public ScreenCapture {
 public:
  std::optional<std::vector<WindowDescription>> onScreenWindows() override {
    return std::vector<WindowDescription>{};
  }
  std::optional<std::string> bundleIdentifier(std::int32_t) override { return std::nullopt; }
  bool activate(std::int32_t) override { return false; }
  bool trusted() override { return true; }
  std::unique_ptr<EventSource> createEventSource() override {
    return std::make_unique<DroppingSource>();
  }
  std::unique_ptr<AXSession> openSession() override { return std::make_unique<EmptySession>(); }
  std::variant<std::unique_ptr<ShareableContent>, CaptureFailure> shareableContent() override {
    return std::make_unique<NoWindows>();
  }

 private:
  class DroppingSource final : public EventSource {
   public:
    bool post(std::span<const InputEvent>) override { return true; }
  };

  // Every application is there and has nothing: no windows, no children.
  class EmptySession final : public AXSession {
   public:
    bool isProcessTrusted() override { return true; }
    AXElement createApplication(std::int32_t) override {
      return std::make_shared<AXElementObject>();
    }
    AXError copyAttribute(const AXElement&, std::string_view, AXValue&) override {
      return kAXErrorNoValue;
    }
    AXError performAction(const AXElement&, std::string_view) override {
      return kAXErrorActionUnsupported;
    }
    AXError setAttribute(const AXElement&, std::string_view, const AXValue&) override {
      return kAXErrorAttributeUnsupported;
    }
  };

  class NoWindows final : public ShareableContent {
   public:
    std::optional<ShareableWindow> window(std::uint32_t) override { return std::nullopt; }
    float pointPixelScale(const ShareableWindow&) override { return 1; }
    std::variant<Image, CaptureFailure> captureImage(const ShareableWindow&,
                                                     std::optional<PixelSize>) override {
      return CaptureFailure{.windowGone = true, .description = "no such window"};
    }
  };
};

}  // namespace

Platform& nullPlatform() {
  static NullDesktop desktop;
  static Platform platform{desktop, desktop, desktop, desktop, desktop};
  return platform;
}

}  // namespace vorn::platform
