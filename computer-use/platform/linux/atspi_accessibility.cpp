#include "computer-use/platform/linux/atspi_accessibility.h"

#include <cstdlib>

#include "computer-use/platform/linux/atspi_session.h"

namespace vorn::platform::atspi {
namespace {

// Kept connections beyond this are closed: a few cover the requests a
// service answers at once.
constexpr std::size_t kIdleConnections = 4;

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::optional<std::string> sessionBusAddress() {
  if (auto address = environment("DBUS_SESSION_BUS_ADDRESS")) return address;
  if (auto runtime = environment("XDG_RUNTIME_DIR")) return "unix:path=" + *runtime + "/bus";
  return std::nullopt;
}

}  // namespace

std::unique_ptr<AXSession> AtspiAccessibility::openSession() {
  return std::make_unique<AtspiSession>(*this, Clock::now() + bound_);
}

// The accessibility bus announces itself to the session bus (org.a11y.Bus);
// AT_SPI_BUS_ADDRESS overrides it, as for every AT-SPI client.
std::optional<std::string> AtspiAccessibility::busAddress(const service::SystemdLibrary& sd,
                                                          Clock::time_point deadline) {
  if (auto address = environment("AT_SPI_BUS_ADDRESS")) return address;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (address_) return address_;
  }
  auto sessionAddress = sessionBusAddress();
  if (!sessionAddress) return std::nullopt;
  auto session = BusConnection::open(sd, *sessionAddress, true);
  if (!session) return std::nullopt;
  CallBatch batch(*session);
  auto call = batch.add({"org.a11y.Bus", "/org/a11y/bus"}, "org.a11y.Bus", "GetAddress");
  batch.run(deadline);
  std::string address;
  auto reply = batch.reply(call);
  if (!reply || !reply->string(address) || address.empty()) return std::nullopt;
  std::lock_guard<std::mutex> guard(mutex_);
  address_ = address;
  return address;
}

std::unique_ptr<BusConnection> AtspiAccessibility::connect(Clock::time_point deadline) {
  const service::SystemdLibrary* sd = service::systemdLibrary(nullptr);
  if (sd == nullptr) return nullptr;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    while (!idle_.empty()) {
      auto connection = std::move(idle_.back());
      idle_.pop_back();
      if (connection->usable()) return connection;
    }
  }
  // A remembered address may be stale (the desktop's bus restarted): then
  // the address is asked for once more.
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto address = busAddress(*sd, deadline);
    if (!address) return nullptr;
    if (auto connection = BusConnection::open(*sd, *address, true)) return connection;
    std::lock_guard<std::mutex> guard(mutex_);
    if (!address_) return nullptr;
    address_.reset();
  }
  return nullptr;
}

void AtspiAccessibility::giveBack(std::unique_ptr<BusConnection> connection) {
  if (!connection || !connection->usable()) return;
  std::lock_guard<std::mutex> guard(mutex_);
  if (idle_.size() < kIdleConnections) idle_.push_back(std::move(connection));
}

std::optional<std::int32_t> AtspiAccessibility::knownPid(const std::string& busName) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = pids_.find(busName);
  if (it == pids_.end()) return std::nullopt;
  return it->second;
}

void AtspiAccessibility::rememberPid(const std::string& busName, std::int32_t pid) {
  std::lock_guard<std::mutex> guard(mutex_);
  pids_[busName] = pid;
}

std::optional<Toolkit> AtspiAccessibility::knownToolkit(const std::string& busName) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = toolkits_.find(busName);
  if (it == toolkits_.end()) return std::nullopt;
  return it->second;
}

void AtspiAccessibility::rememberToolkit(const std::string& busName, Toolkit toolkit) {
  std::lock_guard<std::mutex> guard(mutex_);
  toolkits_[busName] = std::move(toolkit);
}

}  // namespace vorn::platform::atspi
