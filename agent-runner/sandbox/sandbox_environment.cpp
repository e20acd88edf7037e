#include "agent-runner/sandbox/sandbox_environment.h"

#include <algorithm>
#include <string_view>

extern char** environ;

namespace vorn::sandbox {
namespace {

constexpr std::string_view kSessionAddresses[] = {
    "DBUS_SESSION_BUS_ADDRESS",
    "DBUS_SYSTEM_BUS_ADDRESS",
    "AT_SPI_BUS_ADDRESS",
    "DISPLAY",
    "WAYLAND_DISPLAY",
    "XAUTHORITY",
    "XDG_RUNTIME_DIR",
    "SSH_AUTH_SOCK",
    "SSH_AGENT_PID",
    "GPG_AGENT_INFO",
    "GNOME_KEYRING_CONTROL",
    "KRB5CCNAME",
    "SESSION_MANAGER",
    "PULSE_SERVER",
    "SWAYSOCK",
    "I3SOCK",
    "NOTIFY_SOCKET",
    "LISTEN_PID",
    "LISTEN_FDS",
    "LISTEN_FDNAMES",
    "XPC_SERVICE_NAME",
    // Replaced below.
    "TMPDIR",
    "TMPPREFIX",
};

bool isSessionAddress(std::string_view entry) {
  std::string_view name = entry.substr(0, entry.find('='));
  return std::find(std::begin(kSessionAddresses), std::end(kSessionAddresses), name) !=
         std::end(kSessionAddresses);
}

}  // namespace

std::vector<std::string> sandboxEnvironment(const std::vector<std::string>& environment,
                                            const std::string& tempFolder) {
  std::vector<std::string> result;
  result.reserve(environment.size() + 2);
  for (const auto& entry : environment) {
    if (!isSessionAddress(entry)) result.push_back(entry);
  }
  result.push_back("TMPDIR=" + tempFolder);
  // zsh writes here-documents to $TMPPREFIX*, /tmp/zsh by default.
  result.push_back("TMPPREFIX=" + tempFolder + "/zsh");
  return result;
}

std::vector<std::string> processEnvironment() {
  std::vector<std::string> result;
  for (char** entry = environ; entry && *entry; ++entry) result.emplace_back(*entry);
  return result;
}

}  // namespace vorn::sandbox
