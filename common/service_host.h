// The service mode both programs share: one method on the D-Bus session bus,
// PerformRequest(s request) -> (s reply), each call handled on a worker of its
// own while the bus thread only reads calls and sends replies.
#pragma once

#include <cstddef>
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
/// several at once. The request lives until the handler returns. Must not
/// throw.
using RequestHandler = std::function<std::string(std::string_view request)>;

/// The longest reply text sent: within the bus daemon's built-in limit of a
/// message (32 MiB, header and framing included), which a bus enforces
/// unless its configuration raises it (the usual session configuration
/// allows the protocol's 128 MiB). A service cannot ask which applies, and a
/// peer that sends a message beyond it is disconnected, so the lower one
/// counts.
inline constexpr std::size_t kMaxReplyBytes = (std::size_t{32} << 20) - 4096;

/// Calls in flight at most; later ones wait for a worker.
inline constexpr std::size_t kMaxWorkers = 1024;

/// Connects to the session bus, exports the method, takes `name.busName` and
/// serves until the bus connection ends (status 0). Every call gets exactly
/// one reply, in whatever order the calls finish; an answer longer than
/// kMaxReplyBytes is replied as `answerTooLarge` instead, and the service goes
/// on. A call runs at once on a worker of its own while fewer than
/// kMaxWorkers are busy. When the bus cannot be reached or the name is taken,
/// writes one line to standard error and returns 1 before serving anything.
int serve(const ServiceName& name, RequestHandler handler, std::string answerTooLarge);

}  // namespace vorn::service
