// libsystemd brings a dozen shared libraries with it, about a millisecond of
// start-up for every one-shot run. Only the service mode and the helper's
// accessibility requests need it, so it is opened then, and its functions are
// reached through this table.
#pragma once

#include <systemd/sd-bus.h>

namespace vorn::service {

// Every function the service host and the helper's accessibility backend
// call, and the one datum (the vtable format that a vtable's first entry must
// point at), once. The lists are laid out by hand: clang-format reflows them
// differently on every run.
// clang-format off
#define VORN_SYSTEMD_FUNCTIONS(X)                                                      \
  X(sd_bus_open_user) X(sd_bus_add_object_vtable) X(sd_bus_request_name)               \
  X(sd_bus_get_fd) X(sd_bus_get_events) X(sd_bus_get_timeout)                          \
  X(sd_bus_flush_close_unref) X(sd_bus_slot_unref) X(sd_bus_message_read)              \
  X(sd_bus_message_ref) X(sd_bus_message_unref) X(sd_bus_reply_method_return)          \
  X(sd_bus_reply_method_errno) X(sd_bus_object_vtable_format)                          \
  VORN_SD_BUS_CLIENT_FUNCTIONS(X)

// A client's calls: connecting to an address, asynchronous method calls and
// reading their replies (the service host's loop uses process and is_open too).
#define VORN_SD_BUS_CLIENT_FUNCTIONS(X)                                                \
  X(sd_bus_new) X(sd_bus_set_address) X(sd_bus_set_bus_client) X(sd_bus_start)         \
  X(sd_bus_is_open) X(sd_bus_close_unref) X(sd_bus_process) X(sd_bus_wait)             \
  X(sd_bus_call_async) X(sd_bus_message_new_method_call) X(sd_bus_message_append)      \
  X(sd_bus_message_enter_container) X(sd_bus_message_exit_container)                   \
  X(sd_bus_message_skip) X(sd_bus_message_peek_type) X(sd_bus_message_get_error)       \
  X(sd_bus_message_read_basic)
// clang-format on

struct SystemdLibrary {
#define VORN_SYSTEMD_SLOT(name) decltype(&::name) name = nullptr;
  VORN_SYSTEMD_FUNCTIONS(VORN_SYSTEMD_SLOT)
#undef VORN_SYSTEMD_SLOT
};

/// The library's functions, opened on first use; null (with the reason in
/// `why`) when libsystemd cannot be loaded. Thread-safe.
const SystemdLibrary* systemdLibrary(const char** why);

}  // namespace vorn::service
