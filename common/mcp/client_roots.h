// The roots of a client that offers them in its handshake: asked for once
// the handshake is complete and again whenever the client says they changed.
// Calls that arrive before the first answer wait for it (bounded), so that
// roots narrowing what a call may touch are never skipped by a quick call.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "common/mcp/json_rpc.h"
#include "common/mcp/tool.h"

namespace vorn::mcp {

class ClientRoots {
 public:
  using Clock = std::chrono::steady_clock;

  /// Starts over for a new handshake; `offered`: the client offers roots.
  void reset(bool offered);
  bool offered() const;

  /// The id of a new `roots/list` request to send.
  RequestId nextRequest();

  enum class Taken { kNotOurs, kRoots, kFailed };
  /// Takes the client's answer to one of our requests. An answer to an
  /// older request than one already taken changes nothing.
  Taken take(const Response& response);

  /// The client's roots (nothing when it offers none or has not answered),
  /// after waiting until `deadline` while the first answer is outstanding;
  /// once a wait has run out, later calls no longer wait.
  std::optional<std::vector<Root>> current(Clock::time_point deadline);

  /// Ends every wait (the session ends).
  void close();

 private:
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  bool offered_ = false;
  bool awaitingFirst_ = false;
  bool closed_ = false;
  long sent_ = 0;     // requests sent
  long applied_ = 0;  // the newest request whose answer was taken
  std::optional<std::vector<Root>> roots_;
};

}  // namespace vorn::mcp
