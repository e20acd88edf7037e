// What the caller of an operation may ask of the child processes it starts,
// without every module passing it down: a call served through the protocol
// front end can be cancelled (its child's whole group is then stopped and no
// further child starts) and hears which program is running. The one-shot and
// service modes set nothing, and their runs behave as they always did.
#pragma once

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace VornAgentRunnerMain {

/// What the runs started on one thread are held to.
struct RunControl {
  /// A stop requested here stops the running child's group (SIGTERM, then
  /// SIGKILL after the usual grace) and keeps any further child from starting.
  std::stop_token stop;
  /// Told of each program a run is about to start, with its arguments.
  std::function<void(const std::string& executable, const std::vector<std::string>& arguments)>
      started;
};

/// Puts `control` in force for the runs this thread starts while the scope
/// lives; scopes nest, the innermost counts.
class RunControlScope {
 public:
  explicit RunControlScope(const RunControl& control);
  ~RunControlScope();
  RunControlScope(const RunControlScope&) = delete;
  RunControlScope& operator=(const RunControlScope&) = delete;

 private:
  const RunControl* previous_;
};

/// The control in force on this thread, or null.
const RunControl* currentRunControl();

}  // namespace VornAgentRunnerMain
