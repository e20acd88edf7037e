// The calls between their arrival and their answer: the one place that
// decides whether an answer or a progress notification is still sent, so
// that a cancelled call is never answered and no progress follows an answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stop_token>
#include <string>
#include <string_view>

#include "common/mcp/json_rpc.h"
#include "common/mcp/output.h"

namespace vorn::mcp {

struct CallState {
  using Clock = std::chrono::steady_clock;
  CallState(RequestId id, nlohmann::json progressToken)
      : id(std::move(id)), progressToken(std::move(progressToken)) {}

  const RequestId id;
  const nlohmann::json progressToken;  ///< null: the client asked for no progress
  std::size_t bytes = 0;               ///< the size of the request's text
  std::stop_source stop;
  Clock::time_point started = Clock::now();
  // Guarded by the registry's lock:
  Clock::time_point nextProgress;
  double lastProgress = 0;
  std::string status;
  bool cancelled = false;
};

class InFlightCalls {
 public:
  using Clock = CallState::Clock;
  struct Limits {
    std::size_t calls;  ///< calls at once
    std::size_t bytes;  ///< request text of the calls at once (a call alone always fits)
  };
  /// Sends on `output`; admits calls within `limits`; progress about every
  /// `progressInterval`.
  InFlightCalls(Output& output, Limits limits, std::chrono::milliseconds progressInterval);

  enum class Admission { kAdmitted, kIdInUse, kFull };
  /// Registers `call` unless its id is already in flight or a limit is met.
  Admission admit(const std::shared_ptr<CallState>& call);

  /// Cancels the call `id` (unknown ids are ignored): its stop token fires,
  /// its answer is never sent, and the id is free again.
  void cancel(const RequestId& id);
  /// Cancels every call (the session ends).
  void cancelAll();

  /// Ends `call` and sends `answerLine`, unless it was cancelled.
  void finish(CallState& call, std::string_view answerLine);

  /// Keeps `status` for the call's next progress notification.
  void setStatus(CallState& call, std::string status);

  /// Sends the progress notifications due at `now`; answers when the next
  /// one is due (`Clock::time_point::max()`: none).
  Clock::time_point sendDueProgress(Clock::time_point now);
  /// Sends progress when due until `stop` is requested (a thread's body).
  void runProgressClock(std::stop_token stop);

  std::size_t size() const;

 private:
  Output& output_;
  const Limits limits_;
  std::size_t bytes_ = 0;  // of the calls registered
  const std::chrono::milliseconds interval_;
  mutable std::mutex mutex_;
  std::condition_variable_any wake_;  // a call that wants progress arrived
  bool woken_ = false;
  std::map<std::string, std::shared_ptr<CallState>, std::less<>> calls_;  // by id text
};

}  // namespace vorn::mcp
