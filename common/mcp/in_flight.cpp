#include "common/mcp/in_flight.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vorn::mcp {
namespace {

// A clock that sleeps this long at most sees a late call in time even if a
// wake-up were lost.
constexpr std::chrono::hours kLongestSleep{1};

std::string describe(const CallState& call, double seconds) {
  if (!call.status.empty()) return call.status;
  return "running for " + std::to_string(static_cast<long>(std::lround(seconds))) + " s";
}

}  // namespace

InFlightCalls::InFlightCalls(Output& output, Limits limits,
                             std::chrono::milliseconds progressInterval)
    : output_(output), limits_(limits), interval_(progressInterval) {}

InFlightCalls::Admission InFlightCalls::admit(const std::shared_ptr<CallState>& call) {
  std::lock_guard lock(mutex_);
  if (calls_.contains(call->id.json())) return Admission::kIdInUse;
  bool tooMuch = !calls_.empty() && bytes_ + call->bytes > limits_.bytes;
  if (calls_.size() >= limits_.calls || tooMuch) return Admission::kFull;
  calls_.emplace(call->id.json(), call);
  bytes_ += call->bytes;
  if (!call->progressToken.is_null()) {
    call->nextProgress = call->started + interval_;
    woken_ = true;
    wake_.notify_all();
  }
  return Admission::kAdmitted;
}

void InFlightCalls::cancel(const RequestId& id) {
  std::shared_ptr<CallState> call;
  {
    std::lock_guard lock(mutex_);
    auto found = calls_.find(id.json());
    if (found == calls_.end()) return;
    call = std::move(found->second);
    calls_.erase(found);
    bytes_ -= call->bytes;
    call->cancelled = true;
  }
  // Outside the lock: a callback on the token may take its time or report.
  call->stop.request_stop();
}

void InFlightCalls::cancelAll() {
  std::map<std::string, std::shared_ptr<CallState>, std::less<>> cancelled;
  {
    std::lock_guard lock(mutex_);
    cancelled.swap(calls_);
    bytes_ = 0;
    for (auto& [key, call] : cancelled) call->cancelled = true;
  }
  for (auto& [key, call] : cancelled) call->stop.request_stop();
}

void InFlightCalls::finish(CallState& call, std::string_view answerLine) {
  std::lock_guard lock(mutex_);
  if (call.cancelled) return;
  calls_.erase(call.id.json());
  bytes_ -= call.bytes;
  // Sent under the lock: a progress notification for this call is either
  // out already or never will be.
  output_.send(answerLine);
}

void InFlightCalls::setStatus(CallState& call, std::string status) {
  std::lock_guard lock(mutex_);
  call.status = std::move(status);
}

InFlightCalls::Clock::time_point InFlightCalls::sendDueProgress(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto next = Clock::time_point::max();
  for (auto& [key, call] : calls_) {
    if (call->progressToken.is_null()) continue;
    if (call->nextProgress <= now) {
      double seconds = std::chrono::duration<double>(now - call->started).count();
      // Progress must grow with every notification.
      double progress = std::max(std::round(seconds * 1000) / 1000, call->lastProgress + 0.001);
      call->lastProgress = progress;
      output_.send(
          notificationLine("notifications/progress", {{"progressToken", call->progressToken},
                                                      {"progress", progress},
                                                      {"message", describe(*call, seconds)}}));
      call->nextProgress = now + interval_;
    }
    next = std::min(next, call->nextProgress);
  }
  return next;
}

void InFlightCalls::runProgressClock(std::stop_token stop) {
  while (!stop.stop_requested()) {
    auto now = Clock::now();
    auto next = std::min(sendDueProgress(now), now + kLongestSleep);
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, stop, next, [this] { return std::exchange(woken_, false); });
  }
}

std::size_t InFlightCalls::size() const {
  std::lock_guard lock(mutex_);
  return calls_.size();
}

}  // namespace vorn::mcp
