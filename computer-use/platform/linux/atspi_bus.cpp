// sd-bus drives the connection; this file drives sd-bus. No call here ever
// blocks without a bound: `sd_bus_call` would wait for a connection's
// authentication without one, so every call is asynchronous and the wait is
// ours (`sd_bus_wait` up to the batch's deadline).
#include "computer-use/platform/linux/atspi_bus.h"

#include <systemd/sd-bus.h>

#include <algorithm>

namespace vorn::platform::atspi {
namespace {

std::uint64_t microsecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  return static_cast<std::uint64_t>(std::max<std::int64_t>(left.count(), 1));
}

}  // namespace

// ---- BusConnection ----

std::unique_ptr<BusConnection> BusConnection::open(const service::SystemdLibrary& sd,
                                                   const std::string& address, bool busClient) {
  sd_bus* bus = nullptr;
  if (sd.sd_bus_new(&bus) < 0) return nullptr;
  std::unique_ptr<BusConnection> connection(new BusConnection(sd, bus, !busClient));
  if (sd.sd_bus_set_address(bus, address.c_str()) < 0) return nullptr;
  if (sd.sd_bus_set_bus_client(bus, busClient) < 0) return nullptr;
  if (sd.sd_bus_start(bus) < 0) return nullptr;
  return connection;
}

BusConnection::~BusConnection() {
  if (bus_ != nullptr) sd_.sd_bus_close_unref(bus_);
}

bool BusConnection::usable() const { return !broken_ && sd_.sd_bus_is_open(bus_) > 0; }

// ---- CallBatch ----

CallBatch::~CallBatch() {
  const auto& sd = connection_.library();
  for (auto& call : calls_) {
    // Unreferencing the slot cancels the callback: a late reply can never
    // reach a batch that is gone.
    if (call->slot != nullptr) sd.sd_bus_slot_unref(call->slot);
    if (call->request != nullptr) sd.sd_bus_message_unref(call->request);
    if (call->reply != nullptr) sd.sd_bus_message_unref(call->reply);
  }
}

int CallBatch::onReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* call = static_cast<Call*>(userdata);
  const auto& sd = call->owner->connection_.library();
  const sd_bus_error* error = sd.sd_bus_message_get_error(m);
  if (error != nullptr && error->name != nullptr) {
    call->errorName = error->name;
  } else {
    call->reply = sd.sd_bus_message_ref(m);
  }
  call->done = true;
  --call->owner->pending_;
  return 1;
}

void CallBatch::send(Call& call, Clock::time_point deadline) {
  const auto& sd = connection_.library();
  call.sent = true;
  int r = sd.sd_bus_call_async(connection_.bus(), &call.slot, call.request, onReply, &call,
                               microsecondsUntil(deadline));
  sd.sd_bus_message_unref(call.request);
  call.request = nullptr;
  if (r < 0) {
    call.done = true;
    connection_.markBroken();
    return;
  }
  ++pending_;
}

void CallBatch::run(Clock::time_point deadline) {
  const auto& sd = connection_.library();
  for (auto& call : calls_) {
    if (!call->sent && !call->done) send(*call, deadline);
  }
  while (pending_ > 0) {
    int r = sd.sd_bus_process(connection_.bus(), nullptr);
    if (r < 0) {
      connection_.markBroken();
      break;
    }
    if (r > 0) continue;
    if (Clock::now() >= deadline) break;
    if (sd.sd_bus_wait(connection_.bus(), microsecondsUntil(deadline)) < 0) {
      connection_.markBroken();
      break;
    }
  }
}

std::unique_ptr<ReplyReader> CallBatch::reply(std::size_t index) const {
  const Call& call = *calls_[index];
  if (call.reply == nullptr) return nullptr;
  return std::make_unique<ReplyReader>(connection_.library(), call.reply);
}

// ---- ReplyReader ----

bool ReplyReader::string(std::string& out) {
  const char* s = nullptr;
  if (sd_.sd_bus_message_read_basic(m_, 's', &s) <= 0) return false;
  out = s;
  return true;
}

bool ReplyReader::boolean(bool& out) {
  int b = 0;
  if (sd_.sd_bus_message_read_basic(m_, 'b', &b) <= 0) return false;
  out = b != 0;
  return true;
}

bool ReplyReader::uint32(std::uint32_t& out) {
  return sd_.sd_bus_message_read_basic(m_, 'u', &out) > 0;
}

bool ReplyReader::int32(std::int32_t& out) {
  return sd_.sd_bus_message_read_basic(m_, 'i', &out) > 0;
}

bool ReplyReader::int32Variant(std::int32_t& out) {
  return sd_.sd_bus_message_read(m_, "v", "i", &out) > 0;
}

bool ReplyReader::objectRef(ObjectRef& out) {
  const char* bus = nullptr;
  const char* path = nullptr;
  if (sd_.sd_bus_message_read(m_, "(so)", &bus, &path) <= 0) return false;
  out = {bus, path};
  return true;
}

bool ReplyReader::objectRefs(std::vector<ObjectRef>& out) {
  if (sd_.sd_bus_message_enter_container(m_, 'a', "(so)") <= 0) return false;
  std::vector<ObjectRef> refs;
  ObjectRef ref;
  while (objectRef(ref)) refs.push_back(std::move(ref));
  if (sd_.sd_bus_message_exit_container(m_) < 0) return false;
  out = std::move(refs);
  return true;
}

bool ReplyReader::strings(std::vector<std::string>& out) {
  if (sd_.sd_bus_message_enter_container(m_, 'a', "s") <= 0) return false;
  std::vector<std::string> list;
  std::string s;
  while (string(s)) list.push_back(std::move(s));
  if (sd_.sd_bus_message_exit_container(m_) < 0) return false;
  out = std::move(list);
  return true;
}

bool ReplyReader::stateSet(std::uint64_t& out) {
  if (sd_.sd_bus_message_enter_container(m_, 'a', "u") <= 0) return false;
  std::uint64_t states = 0;
  std::uint32_t word = 0;
  for (int i = 0; sd_.sd_bus_message_read_basic(m_, 'u', &word) > 0; ++i) {
    if (i < 2) states |= static_cast<std::uint64_t>(word) << (32 * i);
  }
  if (sd_.sd_bus_message_exit_container(m_) < 0) return false;
  out = states;
  return true;
}

bool ReplyReader::numberVariant(double& out) {
  char type = 0;
  const char* contents = nullptr;
  if (sd_.sd_bus_message_peek_type(m_, &type, &contents) <= 0 || type != 'v' ||
      contents == nullptr || std::string_view(contents).size() != 1) {
    return false;
  }
  if (sd_.sd_bus_message_enter_container(m_, 'v', contents) <= 0) return false;
  union {
    double d;
    std::int64_t x;
    std::uint64_t t;
    std::int32_t i;
    std::uint32_t u;
    std::int16_t n;
    std::uint16_t q;
    std::uint8_t y;
  } v{};
  bool ok = sd_.sd_bus_message_read_basic(m_, contents[0], &v) > 0;
  if (ok) {
    switch (contents[0]) {
      case 'd':
        out = v.d;
        break;
      case 'x':
        out = static_cast<double>(v.x);
        break;
      case 't':
        out = static_cast<double>(v.t);
        break;
      case 'i':
        out = v.i;
        break;
      case 'u':
        out = v.u;
        break;
      case 'n':
        out = v.n;
        break;
      case 'q':
        out = v.q;
        break;
      case 'y':
        out = v.y;
        break;
      default:
        ok = false;
    }
  }
  return sd_.sd_bus_message_exit_container(m_) >= 0 && ok;
}

bool ReplyReader::stringVariant(std::string& out) {
  const char* s = nullptr;
  if (sd_.sd_bus_message_read(m_, "v", "s", &s) <= 0) return false;
  out = s;
  return true;
}

bool ReplyReader::objectRefVariant(ObjectRef& out) {
  const char* bus = nullptr;
  const char* path = nullptr;
  if (sd_.sd_bus_message_read(m_, "v", "(so)", &bus, &path) <= 0) return false;
  out = {bus, path};
  return true;
}

bool ReplyReader::extents(std::int32_t (&out)[4]) {
  return sd_.sd_bus_message_read(m_, "(iiii)", &out[0], &out[1], &out[2], &out[3]) > 0;
}

bool ReplyReader::actionNames(std::vector<std::string>& out) {
  if (sd_.sd_bus_message_enter_container(m_, 'a', "(sss)") <= 0) return false;
  std::vector<std::string> names;
  const char *name = nullptr, *description = nullptr, *binding = nullptr;
  while (sd_.sd_bus_message_read(m_, "(sss)", &name, &description, &binding) > 0) {
    names.emplace_back(name);
  }
  if (sd_.sd_bus_message_exit_container(m_) < 0) return false;
  out = std::move(names);
  return true;
}

bool ReplyReader::properties(
    const std::function<void(const char* key, const char* value)>& onString,
    const std::function<void(const char* key, ObjectRef value)>& onObject,
    const std::function<void(const char* key, std::int32_t value)>& onInt) {
  if (sd_.sd_bus_message_enter_container(m_, 'a', "{sv}") <= 0) return false;
  while (sd_.sd_bus_message_enter_container(m_, 'e', "sv") > 0) {
    const char* key = nullptr;
    char type = 0;
    const char* contents = nullptr;
    if (sd_.sd_bus_message_read_basic(m_, 's', &key) <= 0) return false;
    if (sd_.sd_bus_message_peek_type(m_, &type, &contents) <= 0) return false;
    const char* value = nullptr;
    const char* path = nullptr;
    if (contents != nullptr && std::string_view(contents) == "s") {
      if (sd_.sd_bus_message_read(m_, "v", "s", &value) <= 0) return false;
      onString(key, value);
    } else if (contents != nullptr && std::string_view(contents) == "(so)") {
      if (sd_.sd_bus_message_read(m_, "v", "(so)", &value, &path) <= 0) return false;
      onObject(key, ObjectRef{value, path});
    } else if (contents != nullptr && std::string_view(contents) == "i") {
      std::int32_t number = 0;
      if (sd_.sd_bus_message_read(m_, "v", "i", &number) <= 0) return false;
      onInt(key, number);
    } else if (sd_.sd_bus_message_skip(m_, "v") < 0) {
      return false;
    }
    if (sd_.sd_bus_message_exit_container(m_) < 0) return false;
  }
  return sd_.sd_bus_message_exit_container(m_) >= 0;
}

}  // namespace vorn::platform::atspi
