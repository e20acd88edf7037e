// A private D-Bus session bus for service tests: its own dbus-daemon, its
// own activation folder, stopped when the test ends. Service processes the
// test starts are stopped with it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vorn::testing {

struct Process {
  pid_t pid = -1;
  int status = -1;  // exit status once waited for; -1 while running or signalled
};

class PrivateBus {
 public:
  /// Starts the daemon; `activationDir` (may be empty) holds .service files
  /// it may start programs from.
  explicit PrivateBus(const std::string& activationDir = "");
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& address() const { return address_; }

  /// Starts `program` with `arguments` on this bus (DBUS_SESSION_BUS_ADDRESS
  /// set, XPC_SERVICE_NAME unset), its standard error into `stderrPath` when
  /// given. The process is stopped with the bus unless waited for earlier.
  pid_t start(const std::string& program, const std::vector<std::string>& arguments,
              const std::string& stderrPath = "");

  /// Waits for a process started here; its exit status, or -1 if signalled.
  int wait(pid_t pid);

  /// Waits until `busName` has an owner (or about five seconds pass).
  bool waitForName(const std::string& busName) const;

 private:
  std::string folder_;
  std::string address_;
  pid_t daemon_ = -1;
  std::vector<pid_t> started_;
};

/// Calls PerformRequest on `busName` over a connection of its own; the reply
/// text, or "error: <name>: <message>" when the call fails.
std::string performRequest(const std::string& address, const std::string& busName,
                           const std::string& objectPath, const std::string& interface,
                           const std::string& request);

/// Number of entries in /proc/<pid>/<what> ("task" or "fd").
int procEntries(pid_t pid, const char* what);

/// The number of entries once it has held still for a second (idle workers
/// linger a moment before they end), or after about ten seconds.
int settledEntries(pid_t pid, const char* what);

}  // namespace vorn::testing
