// sd-bus objects belong to one thread, so workers never touch the bus: a
// finished call's reply text goes into a queue, and an eventfd wakes the bus
// thread's event loop to send it. Calls are referenced until they are
// answered; the reply is sent even when the caller has gone away (the bus
// then drops it).
#include "common/service_host.h"

#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "common/systemd_library.h"
#include "common/unique_fd.h"
#include "common/worker_pool.h"

namespace vorn::service {
namespace {

// Bounds the threads a flood of slow calls can start; later calls wait.
constexpr std::size_t kMaxWorkers = 64;

// Set once, before any object below exists.
const SystemdLibrary* sd = nullptr;

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd->sd_bus_flush_close_unref(bus); }
};
struct EventDeleter {
  void operator()(sd_event* event) const { sd->sd_event_unref(event); }
};
struct SlotDeleter {
  void operator()(sd_bus_slot* slot) const { sd->sd_bus_slot_unref(slot); }
};
struct SourceDeleter {
  void operator()(sd_event_source* source) const { sd->sd_event_source_unref(source); }
};
struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd->sd_bus_message_unref(message); }
};
using Call = std::unique_ptr<sd_bus_message, MessageDeleter>;

struct Finished {
  Call call;
  std::string reply;
};

class Host {
 public:
  explicit Host(RequestHandler handler) : handler_(std::move(handler)) {}
  // Workers finish before the calls they answer are released.
  ~Host() { workers_.reset(); }

  int run(const ServiceName& name);
  int accept(sd_bus_message* message);
  void sendReplies();

 private:
  int fail(const char* what, int rc);

  RequestHandler handler_;
  std::array<sd_bus_vtable, 3> vtable_{};  // registered with the bus: lives as long
  std::unique_ptr<sd_bus, BusDeleter> bus_;
  std::unique_ptr<sd_event, EventDeleter> event_;
  std::unique_ptr<sd_bus_slot, SlotDeleter> object_;
  std::unique_ptr<sd_event_source, SourceDeleter> wakeSource_;
  UniqueFd wake_;
  std::mutex mutex_;
  std::vector<Finished> finished_;
  std::unique_ptr<WorkerPool> workers_ = std::make_unique<WorkerPool>(kMaxWorkers);
};

int onCall(sd_bus_message* message, void* host, sd_bus_error*) {
  return static_cast<Host*>(host)->accept(message);
}

int onFinished(sd_event_source*, int fd, uint32_t, void* host) {
  std::uint64_t count;
  (void)::read(fd, &count, sizeof count);
  static_cast<Host*>(host)->sendReplies();
  return 0;
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

// Runs on the bus thread: the request is copied out and handed to a worker;
// the call stays referenced until its reply is sent.
int Host::accept(sd_bus_message* message) {
  const char* text = nullptr;
  int rc = sd->sd_bus_message_read(message, "s", &text);
  if (rc < 0) return rc;  // sd-bus answers the caller with the error
  auto call = std::make_shared<Call>(sd->sd_bus_message_ref(message));
  workers_->submit([this, call, request = std::string(text)] {
    std::string reply = handler_(request);
    std::lock_guard lock(mutex_);
    finished_.push_back({std::move(*call), std::move(reply)});
    std::uint64_t one = 1;
    (void)::write(wake_.get(), &one, sizeof one);
  });
  return 1;
}

void Host::sendReplies() {
  std::vector<Finished> ready;
  {
    std::lock_guard lock(mutex_);
    ready.swap(finished_);
  }
  for (auto& done : ready) {
    (void)sd->sd_bus_reply_method_return(done.call.get(), "s", done.reply.c_str());
  }
}

int Host::run(const ServiceName& name) {
  sd_bus* bus = nullptr;
  int rc = sd->sd_bus_open_user(&bus);
  if (rc < 0) return fail("cannot reach the session bus", rc);
  bus_.reset(bus);
  sd_bus_slot* slot = nullptr;
  vtable_ = methodTable();
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
  sd_event* event = nullptr;
  if ((rc = sd->sd_event_new(&event)) < 0) return fail("cannot create the event loop", rc);
  event_.reset(event);
  wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_.valid()) return fail("cannot create an eventfd", -errno);
  sd_event_source* source = nullptr;
  rc = sd->sd_event_add_io(event, &source, wake_.get(), EPOLLIN, onFinished, this);
  if (rc < 0) return fail("cannot watch the eventfd", rc);
  wakeSource_.reset(source);
  if ((rc = sd->sd_bus_attach_event(bus, event, SD_EVENT_PRIORITY_NORMAL)) < 0) {
    return fail("cannot attach the bus to the event loop", rc);
  }
  (void)sd->sd_bus_set_exit_on_disconnect(bus, 1);
  // The loop ends when the bus connection does: the service's natural end.
  rc = sd->sd_event_loop(event);
  return rc < 0 ? 1 : 0;
}

}  // namespace

int serve(const ServiceName& name, RequestHandler handler) {
  const char* why = "";
  sd = systemdLibrary(&why);
  if (sd == nullptr) {
    std::fprintf(stderr, "cannot load libsystemd: %s\n", why);
    return 1;
  }
  Host host(std::move(handler));
  return host.run(name);
}

}  // namespace vorn::service
