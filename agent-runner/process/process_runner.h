// The runner's only way to start a program: runProcess and its wait.
#pragma once

#include <string>
#include <vector>

#include "agent-runner/process/child_process.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Waits up to max(`timeout`, 0.1) s for `child`, then SIGTERM and up to
/// 1.5 s, then SIGKILL and up to 1.0 s, draining its pipes all along. True
/// when the child has ended and been reaped.
bool waitForExit(vorn::ChildProcess& child, double timeout);

/// Runs `executable` (absolute, not searched) with `arguments` in
/// `directory` ("" = the runner's own) under `timeout` seconds, once one of
/// the process's 64 child slots is free (the limit starts then). Answers
/// success with exit_status 0, "exit_<n>" with exit_status n (a signal's
/// number for a child ended by one), "timeout" without exit_status, or
/// "spawn_failed: <description>"; stdout cut to 16000 and stderr to 8000
/// grapheme clusters, empty when not valid UTF-8.
vorn::RunnerResponse runProcess(const std::string& executable,
                                const std::vector<std::string>& arguments,
                                const std::string& directory, double timeout);

/// runProcess with `environment` ("NAME=value" entries) in place of the
/// runner's own, and the child held to `confinement` when given.
vorn::RunnerResponse runProcessWithEnvironment(const std::vector<std::string>& environment,
                                               const std::string& executable,
                                               const std::vector<std::string>& arguments,
                                               const std::string& directory, double timeout,
                                               const vorn::Confinement* confinement = nullptr);

/// The answer for a finished run, built in one place for every caller.
vorn::RunnerResponse answerFor(const vorn::ChildOutcome& outcome, std::string stdoutText,
                               std::string stderrText);

}  // namespace VornAgentRunnerMain
