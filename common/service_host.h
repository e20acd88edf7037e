// The service mode both programs share: one method on the D-Bus session bus,
// PerformRequest(s request) -> (s reply), each call handled on a worker of its
// own while the bus thread only reads calls and sends replies.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vorn::service {

/// Where a program serves: its well-known bus name, object and interface.
struct ServiceName {
  const char* busName;
  const char* objectPath;
  const char* interface;
};

/// Turns one request text into its reply text; called on worker threads,
/// several at once. Must not throw.
using RequestHandler = std::function<std::string(std::string_view request)>;

/// Connects to the session bus, exports the method, takes `name.busName` and
/// serves until the bus connection ends (status 0). Every call gets exactly
/// one reply, in whatever order the calls finish. When the bus cannot be
/// reached or the name is taken, writes one line to standard error and
/// returns 1 before serving anything.
int serve(const ServiceName& name, RequestHandler handler);

}  // namespace vorn::service
