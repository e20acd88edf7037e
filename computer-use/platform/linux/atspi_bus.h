// D-Bus as the accessibility backend uses it: connections through sd-bus
// (libsystemd, opened on first use), and batches of method calls that are all
// sent before any reply is read, then waited for until one deadline. A
// round trip costs about 0.1 ms; sending a whole tree level at once pays it
// once per level instead of once per call.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/systemd_library.h"

namespace vorn::platform::atspi {

using Clock = std::chrono::steady_clock;

/// An accessible object: the bus name of its application and its path.
struct ObjectRef {
  std::string bus;
  std::string path;
  bool operator==(const ObjectRef&) const = default;
};

struct ObjectRefHash {
  std::size_t operator()(const ObjectRef& o) const {
    return std::hash<std::string>()(o.bus) * 31 + std::hash<std::string>()(o.path);
  }
};

/// One D-Bus connection, closed when it goes.
class BusConnection {
 public:
  /// Connects to `address` ("unix:path=..."); `busClient` for a bus daemon
  /// (which wants a Hello first), false for a peer. The connection completes
  /// while the first calls are sent. Null when the address is unusable.
  static std::unique_ptr<BusConnection> open(const service::SystemdLibrary& sd,
                                             const std::string& address, bool busClient);
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  /// Whether the connection still stands (it may be handed to a later request).
  bool usable() const;
  sd_bus* bus() const { return bus_; }
  /// A direct connection to one application rather than to a bus.
  bool peer() const { return peer_; }
  const service::SystemdLibrary& library() const { return sd_; }
  void markBroken() { broken_ = true; }

 private:
  BusConnection(const service::SystemdLibrary& sd, sd_bus* bus, bool peer)
      : sd_(sd), bus_(bus), peer_(peer) {}
  const service::SystemdLibrary& sd_;
  sd_bus* bus_;
  bool peer_;
  bool broken_ = false;
};

/// A reply's content, read in order. Each read answers false when the next
/// value is not of the expected type, and leaves the target unchanged then.
class ReplyReader {
 public:
  ReplyReader(const service::SystemdLibrary& sd, sd_bus_message* message) : sd_(sd), m_(message) {}
  bool string(std::string& out);
  bool boolean(bool& out);
  bool uint32(std::uint32_t& out);
  bool int32(std::int32_t& out);
  bool int32Variant(std::int32_t& out);             ///< v holding i
  bool objectRef(ObjectRef& out);                   ///< (so)
  bool objectRefs(std::vector<ObjectRef>& out);     ///< a(so)
  bool strings(std::vector<std::string>& out);      ///< as
  bool stateSet(std::uint64_t& out);                ///< au: two 32-bit words
  bool numberVariant(double& out);                  ///< v holding any number
  bool stringVariant(std::string& out);             ///< v holding s
  bool objectRefVariant(ObjectRef& out);            ///< v holding (so)
  bool extents(std::int32_t (&out)[4]);             ///< (iiii)
  bool actionNames(std::vector<std::string>& out);  ///< a(sss): the first of each
  /// a{sv}: calls `onString` for every string-valued entry, `onObject` for
  /// every object-valued one ((so)) and `onInt` for every 32-bit integer one;
  /// skips the rest.
  bool properties(const std::function<void(const char* key, const char* value)>& onString,
                  const std::function<void(const char* key, ObjectRef value)>& onObject,
                  const std::function<void(const char* key, std::int32_t value)>& onInt);

 private:
  const service::SystemdLibrary& sd_;
  sd_bus_message* m_;
};

/// A set of method calls on one connection, sent together and answered until
/// one deadline.
class CallBatch {
 public:
  explicit CallBatch(BusConnection& connection) : connection_(connection) {}
  ~CallBatch();
  CallBatch(const CallBatch&) = delete;
  CallBatch& operator=(const CallBatch&) = delete;

  /// Adds a call of `member` of `interface` on `target`; `types` and `args`
  /// are its arguments in sd-bus's notation (`types` null for none). The
  /// message is made at once (the arguments are copied); nothing is sent
  /// before `run`. Returns the call's index.
  template <class... Args>
  std::size_t add(const ObjectRef& target, const char* interface, const char* member,
                  const char* types = nullptr, Args... args) {
    const auto& sd = connection_.library();
    auto call = std::make_unique<Call>();
    call->owner = this;
    int r = sd.sd_bus_message_new_method_call(connection_.bus(), &call->request, target.bus.c_str(),
                                              target.path.c_str(), interface, member);
    if (r >= 0 && types != nullptr) r = sd.sd_bus_message_append(call->request, types, args...);
    if (r < 0) call->done = true;  // never sent: counts as unanswered
    calls_.push_back(std::move(call));
    return calls_.size() - 1;
  }

  /// Sends the calls not sent yet and processes replies until every call has
  /// one or `deadline` passes. Calls left without a reply then count as
  /// unanswered; the connection stays usable for later calls.
  void run(Clock::time_point deadline);

  /// The answer to call `index` after `run`: a reader over its reply, or null
  /// when it failed (an error reply, no reply in time, a broken connection).
  std::unique_ptr<ReplyReader> reply(std::size_t index) const;
  /// The D-Bus error name of a failed call; "" for a call that got no answer
  /// at all, which counts as a timeout.
  const std::string& errorName(std::size_t index) const { return calls_[index]->errorName; }
  bool answered(std::size_t index) const { return calls_[index]->reply != nullptr; }
  std::size_t size() const { return calls_.size(); }

 private:
  struct Call {
    CallBatch* owner = nullptr;
    sd_bus_message* request = nullptr;  // until sent
    bool sent = false;
    bool done = false;
    sd_bus_slot* slot = nullptr;
    sd_bus_message* reply = nullptr;  // a method return; errors keep only their name
    std::string errorName;
  };
  static int onReply(sd_bus_message* m, void* userdata, sd_bus_error* error);
  void send(Call& call, Clock::time_point deadline);

  BusConnection& connection_;
  std::vector<std::unique_ptr<Call>> calls_;
  std::size_t pending_ = 0;
};

}  // namespace vorn::platform::atspi
