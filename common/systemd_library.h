// libsystemd brings a dozen shared libraries with it, about a millisecond of
// start-up for every one-shot run. Only the service mode needs it, so it is
// opened then, and its functions are reached through this table.
#pragma once

#include <systemd/sd-bus.h>

namespace vorn::service {

// Every function the service host calls, and the one datum (the vtable format
// that a vtable's first entry must point at), once.
#define VORN_SYSTEMD_FUNCTIONS(X)                                                              \
  X(sd_bus_open_user)                                                                          \
  X(sd_bus_add_object_vtable) X(sd_bus_request_name) X(sd_bus_process) X(sd_bus_get_fd)        \
      X(sd_bus_get_events) X(sd_bus_get_timeout) X(sd_bus_is_open) X(sd_bus_flush_close_unref) \
          X(sd_bus_slot_unref) X(sd_bus_message_read) X(sd_bus_message_ref)                    \
              X(sd_bus_message_unref) X(sd_bus_reply_method_return) X(sd_bus_object_vtable_format)

struct SystemdLibrary {
#define VORN_SYSTEMD_SLOT(name) decltype(&::name) name = nullptr;
  VORN_SYSTEMD_FUNCTIONS(VORN_SYSTEMD_SLOT)
#undef VORN_SYSTEMD_SLOT
};

/// The library's functions, opened on first use; null (with the reason in
/// `why`) when libsystemd cannot be loaded. Thread-safe.
const SystemdLibrary* systemdLibrary(const char** why);

}  // namespace vorn::service
