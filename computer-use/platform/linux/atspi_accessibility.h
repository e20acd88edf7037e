// The accessibility API on Linux: AT-SPI2, spoken directly over its D-Bus
// interfaces on the accessibility bus (no libatspi: it needs a GLib main loop
// to cache anything, and blocks each call up to its own long timeout).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "computer-use/platform/linux/atspi_bus.h"
#include "computer-use/platform/linux/atspi_toolkits.h"
#include "computer-use/platform/linux/element_origins.h"
#include "computer-use/platform/platform.h"

namespace vorn::platform::atspi {

/// How long one request may spend on the accessibility bus, all calls
/// together; an application that stops answering costs at most this.
inline constexpr std::chrono::milliseconds kRequestBound{2500};

/// Attributes, roles, values and actions map as docs/architecture.md's
/// accessibility table says. Connections to the accessibility bus are kept
/// for later requests (a few at most), so a serving helper connects once.
class AtspiAccessibility final : public Accessibility {
 public:
  /// `input` posts the wheel events of the page-scroll actions. `origins`,
  /// when given, places the positions toolkits report relative to their
  /// window (Wayland) on the screen.
  explicit AtspiAccessibility(InputDevice& input, std::chrono::milliseconds bound = kRequestBound,
                              ElementOrigins* origins = nullptr)
      : input_(input), bound_(bound), origins_(origins) {}

  std::unique_ptr<AXSession> openSession() override;

  /// A connection to the accessibility bus (a kept one when there is one);
  /// null when libsystemd cannot be loaded or the bus cannot be reached.
  std::unique_ptr<BusConnection> connect(Clock::time_point deadline);
  /// Keeps `connection` for a later request if it still stands.
  void giveBack(std::unique_ptr<BusConnection> connection);

  /// The process id behind a unique bus name, as learnt earlier (a unique
  /// name is never reused by its bus, so the answer never goes stale).
  std::optional<std::int32_t> knownPid(const std::string& busName);
  void rememberPid(const std::string& busName, std::int32_t pid);

  /// The toolkit an application reported, as learnt earlier.
  std::optional<Toolkit> knownToolkit(const std::string& busName);
  void rememberToolkit(const std::string& busName, Toolkit toolkit);

  InputDevice& input() { return input_; }
  ElementOrigins* origins() { return origins_; }

 private:
  std::optional<std::string> busAddress(const service::SystemdLibrary& sd,
                                        Clock::time_point deadline);

  InputDevice& input_;
  std::chrono::milliseconds bound_;
  ElementOrigins* origins_;
  std::mutex mutex_;  // guards what follows
  std::optional<std::string> address_;
  std::vector<std::unique_ptr<BusConnection>> idle_;
  std::unordered_map<std::string, std::int32_t> pids_;
  std::unordered_map<std::string, Toolkit> toolkits_;
};

}  // namespace vorn::platform::atspi
