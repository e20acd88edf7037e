// A scripted desktop for unit tests: windows and applications as the test
// sets them up, and a recorder of the input an operation posts.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "computer-use/platform/platform.h"
#include "tests/unit/fake_accessibility.h"

namespace vorn::testing {

class FakePlatform final : public platform::WindowServer,
                           public platform::Applications,
                           public platform::InputDevice {
 public:
  // Scripted behaviour.
  std::optional<std::vector<platform::WindowDescription>> windows =
      std::vector<platform::WindowDescription>{};
  std::map<std::int32_t, std::string> bundles;
  bool inputTrusted = true;
  bool sourceAvailable = true;
  bool postSucceeds = true;

  FakeAccessibility accessibility;

  // What happened.
  std::vector<std::int32_t> bundleLookups;
  std::vector<std::int32_t> activations;
  std::vector<std::vector<platform::InputEvent>> posted;  // one entry per post call

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
  bool trusted() override { return inputTrusted; }
  std::unique_ptr<platform::EventSource> createEventSource() override {
    if (!sourceAvailable) return nullptr;
    return std::make_unique<Source>(*this);
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

   private:
    FakePlatform& owner_;
  };

  platform::Platform platform_{*this, *this, *this, accessibility};
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
