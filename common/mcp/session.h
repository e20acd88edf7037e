// One client connection: reads messages, answers the protocol's methods and
// hands tool calls to workers. Both kinds of revision are served on the same
// connection: an `initialize` handshake fixes a revision for requests that
// name none, and a request that names its revision in `_meta` is served by
// what it carries alone.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/mcp/client_roots.h"
#include "common/mcp/in_flight.h"
#include "common/mcp/json_rpc.h"
#include "common/mcp/output.h"
#include "common/mcp/results.h"
#include "common/mcp/tool.h"

namespace vorn::mcp {

struct SessionOptions {
  /// Calls running or waiting for a worker; beyond this a call is answered
  /// at once as busy.
  std::size_t maxCallsInFlight = 256;
  /// The request text those calls may hold together (one call alone may
  /// always be as long as a line may be).
  std::size_t maxBytesInFlight = std::size_t{256} << 20;
  std::chrono::milliseconds progressInterval{2000};
  /// How long a call waits for the client's first roots answer.
  std::chrono::milliseconds rootsWait{5000};
};

/// Runs a job on some thread (a worker pool; inline in tests).
using Submit = std::function<void(std::function<void()>)>;
/// Takes one line of diagnostics (for standard error).
using Diagnose = std::function<void(std::string_view)>;

class Session {
 public:
  /// `tools` must pass `checkTools`. Jobs given to `submit` refer to the
  /// session: they must all have ended before it is destroyed.
  Session(ServerInfo server, std::vector<Tool> tools, Output& output, Submit submit,
          Diagnose diagnose, SessionOptions options = {});

  /// Handles one line of input. Called from one thread only.
  void handleLine(std::string_view line);
  /// Answers a line too long to be kept.
  void handleOversizedLine(std::size_t limit);
  /// Input has ended: cancels every call and ends every wait.
  void endOfInput();

  /// The calls in flight (the progress clock runs on them).
  InFlightCalls& calls() { return calls_; }

 private:
  struct MethodEntry;
  static const MethodEntry kMethods[];

  void onRequest(const Request& request, std::size_t bytes);
  void onNotification(const Notification& notification);
  void onResponse(const Response& response);

  /// The revision `request` is served under, or the error line answering it.
  std::variant<RequestEra, std::string> eraOf(const Request& request, bool required) const;

  void initialize(const Request& request, const RequestEra& era);
  void ping(const Request& request, const RequestEra& era);
  void discover(const Request& request, const RequestEra& era);
  void listTools(const Request& request, const RequestEra& era);
  void callTool(const Request& request, const RequestEra& era);

  struct PendingCall;
  void startCall(std::shared_ptr<PendingCall> pending);
  void runCall(PendingCall& pending);
  void askForRoots();
  void answer(const Request& request, nlohmann::json result, const RequestEra& era);
  void fail(const RequestId& id, int code, std::string_view message,
            const nlohmann::json& data = nullptr);

  const ServerInfo server_;
  const std::vector<Tool> tools_;
  Output& output_;
  Submit submit_;
  Diagnose diagnose_;
  const SessionOptions options_;
  InFlightCalls calls_;
  ClientRoots roots_;
  // Read and written on the input thread only: the size of the line being
  // handled, and the handshake's outcome.
  std::size_t lineBytes_ = 0;
  std::string handshakeVersion_;
  nlohmann::json handshakeCapabilities_ = nlohmann::json::object();
};

}  // namespace vorn::mcp
