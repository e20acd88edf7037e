#include "agent-runner/process/process_runner.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <semaphore>

#include "agent-runner/process/run_control.h"

namespace VornAgentRunnerMain {
namespace {

using namespace std::chrono_literals;

constexpr double kMinimumTimeout = 0.1;
// Far beyond any real limit, and safe to add to the clock.
constexpr double kMaximumTimeout = 1e9;
constexpr auto kTerminateGrace = 1500ms;
constexpr auto kKillGrace = 1000ms;
// How long a descendant that inherited the pipes may hold the answer.
constexpr auto kLeftoverBound = 200ms;
// How soon a stop requested by the caller is seen while a child runs or waits
// for its slot.
constexpr auto kStopSlice = 50ms;

// Children that run at once in one runner process (its service serves many
// calls together). Each costs a process, its pipes and its share of the
// machine; beyond this a run waits for a slot before it starts, and its time
// limit starts with it. Calls that start no child never wait here.
constexpr std::ptrdiff_t kMaxChildren = 64;
std::counting_semaphore<kMaxChildren> childSlots(kMaxChildren);

// A slot, or none when the caller stopped the run while it waited.
class ChildSlot {
 public:
  explicit ChildSlot(const std::stop_token& stop) {
    if (!stop.stop_possible()) {
      childSlots.acquire();
      held_ = true;
      return;
    }
    while (!stop.stop_requested() && !(held_ = childSlots.try_acquire_for(kStopSlice))) {
    }
  }
  ~ChildSlot() {
    if (held_) childSlots.release();
  }
  ChildSlot(const ChildSlot&) = delete;
  ChildSlot& operator=(const ChildSlot&) = delete;
  bool held() const { return held_; }

 private:
  bool held_ = false;
};

// The caller's stop, or one that can never be requested.
std::stop_token callerStop() {
  const RunControl* control = currentRunControl();
  return control ? control->stop : std::stop_token();
}

void tellStarted(const std::string& executable, const std::vector<std::string>& arguments) {
  const RunControl* control = currentRunControl();
  if (control && control->started) control->started(executable, arguments);
}

// Waits for the child until `deadline`, or until the caller asks it to stop
// (false then, as for a deadline that passed).
bool waitOrStop(vorn::ChildProcess& child, vorn::Clock::time_point deadline,
                const std::stop_token& stop) {
  if (!stop.stop_possible()) return child.waitUntil(deadline);
  for (;;) {
    auto slice = std::min(deadline, vorn::Clock::now() + kStopSlice);
    if (child.waitUntil(slice)) return true;
    if (slice == deadline || stop.stop_requested()) return false;
  }
}

vorn::Clock::time_point deadlineAfter(double seconds) {
  if (!(seconds >= kMinimumTimeout)) seconds = kMinimumTimeout;  // also NaN
  seconds = std::min(seconds, kMaximumTimeout);
  return vorn::Clock::now() +
         std::chrono::duration_cast<vorn::Clock::duration>(std::chrono::duration<double>(seconds));
}

ProcessRun runProcessIn(const std::vector<std::string>* environment, const std::string& executable,
                        const std::vector<std::string>& arguments, const std::string& directory,
                        double timeout, const vorn::Confinement* confinement = nullptr) {
  std::stop_token stop = callerStop();
  ChildSlot slot(stop);
  if (!slot.held() || stop.stop_requested()) return {vorn::FailedToStart{"cancelled"}, {}, {}};
  tellStarted(executable, arguments);
  auto spawned =
      vorn::ChildProcess::spawn(executable, arguments, directory, environment, {}, confinement);
  if (auto* failed = std::get_if<vorn::FailedToStart>(&spawned)) return {*failed, {}, {}};
  auto& child = *std::get<std::unique_ptr<vorn::ChildProcess>>(spawned);
  Wait wait = waitForExit(child, timeout, stop);
  child.drainRemaining(wait.ended ? vorn::Clock::duration(kLeftoverBound)
                                  : vorn::Clock::duration::zero());
  auto outcome = child.outcome();
  return {std::move(outcome), child.takeStdout(), child.takeStderr(), wait.overran};
}

}  // namespace

// A child that ends in time leaves what it started alone. An overrun, or a
// stop the caller asked for, stops the whole group (git gets its SIGTERM
// first, so it removes its lock files); once the child has gone, or its grace is over, whatever
// is left of the group is killed, so nothing outlives the answer.
Wait waitForExit(vorn::ChildProcess& child, double timeout, const std::stop_token& stop) {
  if (waitOrStop(child, deadlineAfter(timeout), stop)) return {false, true};
  child.signalGroup(SIGTERM);
  child.signalGroup(SIGCONT);  // a stopped member could not act on the terminate
  bool ended = child.waitUntil(vorn::Clock::now() + kTerminateGrace);
  child.signalGroup(SIGKILL);
  return {true, ended || child.waitUntil(vorn::Clock::now() + kKillGrace)};
}

bool succeeded(const ProcessRun& run) { return endStatus(run) == 0; }

bool started(const ProcessRun& run) {
  return !std::holds_alternative<vorn::FailedToStart>(run.outcome);
}

std::optional<int> endStatus(const ProcessRun& run) {
  if (auto* exited = std::get_if<vorn::Exited>(&run.outcome)) return exited->status;
  if (auto* signaled = std::get_if<vorn::Signaled>(&run.outcome)) return signaled->signal;
  return std::nullopt;
}

std::string outcomeText(const ProcessRun& run) {
  if (auto status = endStatus(run)) return *status == 0 ? "" : "exit_" + std::to_string(*status);
  if (std::holds_alternative<vorn::StillRunning>(run.outcome)) return "timeout";
  const auto& failed = std::get<vorn::FailedToStart>(run.outcome);
  return std::string(failed.kind) + ": " + failed.description;
}

ProcessRun runProcess(const std::string& executable, const std::vector<std::string>& arguments,
                      const std::string& directory, double timeout) {
  return runProcessIn(nullptr, executable, arguments, directory, timeout);
}

ProcessRun runProcessWithEnvironment(const std::vector<std::string>& environment,
                                     const std::string& executable,
                                     const std::vector<std::string>& arguments,
                                     const std::string& directory, double timeout,
                                     const vorn::Confinement* confinement) {
  return runProcessIn(&environment, executable, arguments, directory, timeout, confinement);
}

}  // namespace VornAgentRunnerMain
