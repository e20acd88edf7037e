// One bus connection, used under one lock. The bus thread reads calls and
// hands each to a worker; the worker that finishes a call sends its reply
// itself, under the lock, so a reply costs no second hand-over to the bus
// thread. Only when the socket cannot take the reply at once does the worker
// wake the bus thread (through an eventfd) to wait for room and send it.
// Calls stay referenced until they are answered, and the worker reads the
// request where the call holds it; a reply to a caller that has gone away is
// dropped by the bus.
//
// What is bounded here: calls in flight (kMaxWorkers threads; a call beyond
// waits for the first free one), and each call's memory (its request, at
// most one bus message, is never copied; an answer the bus cannot carry is
// never built into a message). The cap is far above what slow calls take in
// practice, so a quick call does not wait behind them; what slow calls cost
// the machine (children) is for each program to bound. The descriptor limit
// is raised to match the cap.
#include "common/service_host.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "common/systemd_library.h"
#include "common/unique_fd.h"
#include "common/worker_pool.h"

namespace vorn::service {
namespace {

// Descriptors a call in flight may hold at once (a child's two pipes, both
// ends while it starts, and its pidfd), with room to spare.
constexpr rlim_t kDescriptorsPerCall = 8;
constexpr rlim_t kDescriptorReserve = 256;

// Set once, before any object below exists.
const SystemdLibrary* sd = nullptr;

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd->sd_bus_flush_close_unref(bus); }
};
struct SlotDeleter {
  void operator()(sd_bus_slot* slot) const { sd->sd_bus_slot_unref(slot); }
};
struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd->sd_bus_message_unref(message); }
};
using Call = std::unique_ptr<sd_bus_message, MessageDeleter>;

class Host {
 public:
  Host(RequestHandler handler, std::string answerTooLarge)
      : handler_(std::move(handler)), answerTooLarge_(std::move(answerTooLarge)) {}
  // Workers finish (and release their calls) before the bus goes.
  ~Host() { workers_.reset(); }

  int run(const ServiceName& name);
  int accept(sd_bus_message* message);

 private:
  int fail(const char* what, int rc);
  int connect(const ServiceName& name);
  int loop();
  void reply(sd_bus_message* call, const std::string& text);

  RequestHandler handler_;
  const std::string answerTooLarge_;
  std::array<sd_bus_vtable, 3> vtable_{};  // registered with the bus: lives as long
  std::unique_ptr<sd_bus, BusDeleter> bus_;
  std::unique_ptr<sd_bus_slot, SlotDeleter> object_;
  std::mutex busMutex_;
  UniqueFd wake_;
  std::unique_ptr<WorkerPool> workers_ = std::make_unique<WorkerPool>(kMaxWorkers);
};

int onCall(sd_bus_message* message, void* host, sd_bus_error*) {
  return static_cast<Host*>(host)->accept(message);
}

// SD_BUS_VTABLE_START would link the library for its format symbol; the
// entry is filled in the same way from the opened library instead.
std::array<sd_bus_vtable, 3> methodTable() {
  sd_bus_vtable start{};
  start.type = _SD_BUS_VTABLE_START;
  start.x.start.element_size = sizeof(sd_bus_vtable);
  start.x.start.features = _SD_BUS_VTABLE_PARAM_NAMES;
  start.x.start.vtable_format_reference = sd->sd_bus_object_vtable_format;
  return {start, SD_BUS_METHOD("PerformRequest", "s", "s", onCall, SD_BUS_VTABLE_UNPRIVILEGED),
          SD_BUS_VTABLE_END};
}

// One line on standard error, and the exit status of a service that could
// not start serving.
int Host::fail(const char* what, int rc) {
  std::fprintf(stderr, "%s: %s\n", what, std::strerror(-rc));
  return 1;
}

// Runs on the bus thread, under the lock: the call is referenced and handed
// to a worker, which reads the request in the message itself.
int Host::accept(sd_bus_message* message) {
  const char* text = nullptr;
  int rc = sd->sd_bus_message_read(message, "s", &text);
  if (rc < 0) return rc;  // sd-bus answers the caller with the error
  auto call = std::make_shared<Call>(sd->sd_bus_message_ref(message));
  workers_->submit([this, call, request = std::string_view(text)] {
    std::string answer = handler_(request);
    std::lock_guard lock(busMutex_);
    reply(call->get(), answer);
    call->reset();
  });
  return 1;
}

// Under the lock. An answer the bus cannot carry would cost the connection
// (the bus drops a peer that sends an oversized message, and every call in
// flight with it): the program's fixed answer goes instead. A reply the
// socket could not take whole waits in the connection's queue; the bus
// thread is woken to watch for room.
void Host::reply(sd_bus_message* call, const std::string& answer) {
  const std::string& text = answer.size() > kMaxReplyBytes ? answerTooLarge_ : answer;
  int rc = sd->sd_bus_reply_method_return(call, "s", text.c_str());
  if (rc < 0) (void)sd->sd_bus_reply_method_errno(call, -rc, nullptr);  // still one reply
  if (sd->sd_bus_get_events(bus_.get()) & POLLOUT) {
    std::uint64_t one = 1;
    (void)::write(wake_.get(), &one, sizeof one);
  }
}

// Every call in flight may hold a child's descriptors; the usual soft limit
// (1024) would refuse spawns long before the worker cap is reached.
void raiseDescriptorLimit() {
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  rlim_t wanted = std::min(limit.rlim_max, kMaxWorkers * kDescriptorsPerCall + kDescriptorReserve);
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = wanted;
  (void)::setrlimit(RLIMIT_NOFILE, &limit);
}

int Host::connect(const ServiceName& name) {
  sd_bus* bus = nullptr;
  int rc = sd->sd_bus_open_user(&bus);
  if (rc < 0) return fail("cannot reach the session bus", rc);
  bus_.reset(bus);
  vtable_ = methodTable();
  sd_bus_slot* slot = nullptr;
  rc = sd->sd_bus_add_object_vtable(bus, &slot, name.objectPath, name.interface, vtable_.data(),
                                    this);
  if (rc < 0) return fail("cannot export the service object", rc);
  object_.reset(slot);
  rc = sd->sd_bus_request_name(bus, name.busName, 0);
  if (rc < 0) {
    std::fprintf(stderr, "cannot take the bus name %s: %s\n", name.busName,
                 rc == -EEXIST ? "it is taken by another process" : std::strerror(-rc));
    return 1;
  }
  wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_.valid()) return fail("cannot create an eventfd", -errno);
  return 0;
}

// Processes what the bus has, then sleeps until it has more, a reply waits
// for room, or a timeout of the bus's own falls due. Ends when the connection
// does, the service's natural end.
int Host::loop() {
  for (;;) {
    pollfd fds[2] = {{sd->sd_bus_get_fd(bus_.get()), 0, 0}, {wake_.get(), POLLIN, 0}};
    int timeoutMs = -1;
    {
      std::lock_guard lock(busMutex_);
      int rc;
      while ((rc = sd->sd_bus_process(bus_.get(), nullptr)) > 0) {
      }
      if (rc < 0 || sd->sd_bus_is_open(bus_.get()) <= 0) return 0;
      fds[0].events = static_cast<short>(sd->sd_bus_get_events(bus_.get()));
      std::uint64_t due = 0;
      if (sd->sd_bus_get_timeout(bus_.get(), &due) > 0 && due != UINT64_MAX) {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1000;
        timeoutMs = due <= nowUs ? 0 : static_cast<int>((due - nowUs + 999) / 1000);
      }
    }
    if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) return fail("poll failed", -errno);
    if (fds[1].revents & POLLIN) {
      std::uint64_t count;
      (void)::read(wake_.get(), &count, sizeof count);
    }
  }
}

int Host::run(const ServiceName& name) {
  if (int rc = connect(name); rc != 0) return rc;
  raiseDescriptorLimit();
  return loop();
}

}  // namespace

int serve(const ServiceName& name, RequestHandler handler, std::string answerTooLarge) {
  const char* why = "";
  sd = systemdLibrary(&why);
  if (sd == nullptr) {
    std::fprintf(stderr, "cannot load libsystemd: %s\n", why);
    return 1;
  }
  Host host(std::move(handler), std::move(answerTooLarge));
  return host.run(name);
}

}  // namespace vorn::service
