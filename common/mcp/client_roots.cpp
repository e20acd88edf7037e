#include "common/mcp/client_roots.h"

#include <charconv>
#include <string_view>

#include "common/mcp/roots.h"

namespace vorn::mcp {
namespace {

constexpr std::string_view kIdPrefix = "roots-";

// The sequence number of one of our request ids ("roots-<n>" as a JSON
// string), or 0.
long sequenceOf(const RequestId& id) {
  std::string_view text = id.json();
  if (text.size() < kIdPrefix.size() + 3 || text.front() != '"' || text.back() != '"') return 0;
  text = text.substr(1, text.size() - 2);
  if (!text.starts_with(kIdPrefix)) return 0;
  text.remove_prefix(kIdPrefix.size());
  long n = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  return error == std::errc() && end == text.data() + text.size() ? n : 0;
}

}  // namespace

void ClientRoots::reset(bool offered) {
  std::lock_guard lock(mutex_);
  offered_ = offered;
  awaitingFirst_ = offered;
  applied_ = sent_;  // answers to requests of an earlier handshake are stale
  roots_.reset();
  answered_.notify_all();
}

bool ClientRoots::offered() const {
  std::lock_guard lock(mutex_);
  return offered_;
}

RequestId ClientRoots::nextRequest() {
  std::lock_guard lock(mutex_);
  return RequestId::fromString(std::string(kIdPrefix) + std::to_string(++sent_));
}

ClientRoots::Taken ClientRoots::take(const Response& response) {
  long sequence = sequenceOf(response.id);
  std::lock_guard lock(mutex_);
  if (sequence <= 0 || sequence > sent_) return Taken::kNotOurs;
  if (sequence <= applied_) return Taken::kRoots;
  applied_ = sequence;
  awaitingFirst_ = false;
  answered_.notify_all();
  auto roots = response.error.is_null() ? readRoots(response.result) : std::nullopt;
  if (!roots) return Taken::kFailed;
  roots_ = std::move(roots);
  return Taken::kRoots;
}

std::optional<std::vector<Root>> ClientRoots::current(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (!answered_.wait_until(lock, deadline, [this] { return !awaitingFirst_ || closed_; })) {
    awaitingFirst_ = false;  // a client that never answers delays one call, not every call
  }
  return roots_;
}

void ClientRoots::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  answered_.notify_all();
}

}  // namespace vorn::mcp
