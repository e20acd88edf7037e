#include "agent-runner/process/process_runner.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <semaphore>

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

// Children that run at once in one runner process (its service serves many
// calls together). Each costs a process, its pipes and its share of the
// machine; beyond this a run waits for a slot before it starts, and its time
// limit starts with it. Calls that start no child never wait here.
constexpr std::ptrdiff_t kMaxChildren = 64;
std::counting_semaphore<kMaxChildren> childSlots(kMaxChildren);

struct ChildSlot {
  ChildSlot() { childSlots.acquire(); }
  ~ChildSlot() { childSlots.release(); }
  ChildSlot(const ChildSlot&) = delete;
  ChildSlot& operator=(const ChildSlot&) = delete;
};

vorn::Clock::time_point deadlineAfter(double seconds) {
  if (!(seconds >= kMinimumTimeout)) seconds = kMinimumTimeout;  // also NaN
  seconds = std::min(seconds, kMaximumTimeout);
  return vorn::Clock::now() +
         std::chrono::duration_cast<vorn::Clock::duration>(std::chrono::duration<double>(seconds));
}

ProcessRun runProcessIn(const std::vector<std::string>* environment, const std::string& executable,
                        const std::vector<std::string>& arguments, const std::string& directory,
                        double timeout, const vorn::Confinement* confinement = nullptr) {
  ChildSlot slot;
  auto spawned =
      vorn::ChildProcess::spawn(executable, arguments, directory, environment, {}, confinement);
  if (auto* failed = std::get_if<vorn::FailedToStart>(&spawned)) return {*failed, {}, {}};
  auto& child = *std::get<std::unique_ptr<vorn::ChildProcess>>(spawned);
  Wait wait = waitForExit(child, timeout);
  child.drainRemaining(wait.ended ? vorn::Clock::duration(kLeftoverBound)
                                  : vorn::Clock::duration::zero());
  auto outcome = child.outcome();
  return {std::move(outcome), child.takeStdout(), child.takeStderr(), wait.overran};
}

}  // namespace

// A child that ends in time leaves what it started alone. An overrun stops
// the whole group; once the child has gone, or its grace is over, whatever
// is left of the group is killed, so nothing outlives the answer.
Wait waitForExit(vorn::ChildProcess& child, double timeout) {
  if (child.waitUntil(deadlineAfter(timeout))) return {false, true};
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
