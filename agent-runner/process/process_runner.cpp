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

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

vorn::RunnerResponse exitAnswer(int status, std::string out, std::string err) {
  if (status == 0) {
    return vorn::success(
        {.stdoutText = std::move(out), .stderrText = std::move(err), .exitStatus = 0});
  }
  return vorn::failure(
      "exit_" + std::to_string(status),
      {.stdoutText = std::move(out), .stderrText = std::move(err), .exitStatus = status});
}

vorn::RunnerResponse runProcessIn(const std::vector<std::string>* environment,
                                  const std::string& executable,
                                  const std::vector<std::string>& arguments,
                                  const std::string& directory, double timeout,
                                  const vorn::Confinement* confinement = nullptr) {
  ChildSlot slot;
  auto spawned =
      vorn::ChildProcess::spawn(executable, arguments, directory, environment, {}, confinement);
  if (auto* failed = std::get_if<vorn::FailedToStart>(&spawned)) return answerFor(*failed, {}, {});
  auto& child = *std::get<std::unique_ptr<vorn::ChildProcess>>(spawned);
  bool ended = waitForExit(child, timeout);
  child.drainRemaining(ended ? vorn::Clock::duration(kLeftoverBound)
                             : vorn::Clock::duration::zero());
  return answerFor(child.outcome(), child.takeStdout(), child.takeStderr());
}

}  // namespace

// A child that ends in time leaves what it started alone. An overrun stops
// the whole group; once the child has gone, or its grace is over, whatever
// is left of the group is killed, so nothing outlives the answer.
bool waitForExit(vorn::ChildProcess& child, double timeout) {
  if (child.waitUntil(deadlineAfter(timeout))) return true;
  child.signalGroup(SIGTERM);
  child.signalGroup(SIGCONT);  // a stopped member could not act on the terminate
  bool ended = child.waitUntil(vorn::Clock::now() + kTerminateGrace);
  child.signalGroup(SIGKILL);
  return ended || child.waitUntil(vorn::Clock::now() + kKillGrace);
}

vorn::RunnerResponse answerFor(const vorn::ChildOutcome& outcome, std::string out,
                               std::string err) {
  return std::visit(Overloaded{
                        [&](const vorn::Exited& e) {
                          return exitAnswer(e.status, std::move(out), std::move(err));
                        },
                        [&](const vorn::Signaled& s) {
                          return exitAnswer(s.signal, std::move(out), std::move(err));
                        },
                        [&](const vorn::StillRunning&) {
                          return vorn::failure("timeout", {.stdoutText = std::move(out),
                                                           .stderrText = std::move(err)});
                        },
                        [&](const vorn::FailedToStart& f) {
                          return vorn::failure("spawn_failed: " + f.description);
                        },
                    },
                    outcome);
}

vorn::RunnerResponse runProcess(const std::string& executable,
                                const std::vector<std::string>& arguments,
                                const std::string& directory, double timeout) {
  return runProcessIn(nullptr, executable, arguments, directory, timeout);
}

vorn::RunnerResponse runProcessWithEnvironment(const std::vector<std::string>& environment,
                                               const std::string& executable,
                                               const std::vector<std::string>& arguments,
                                               const std::string& directory, double timeout,
                                               const vorn::Confinement* confinement) {
  return runProcessIn(&environment, executable, arguments, directory, timeout, confinement);
}

}  // namespace VornAgentRunnerMain
