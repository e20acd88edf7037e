// The operations that change files directly: write_file, mkdir, delete_file.
#pragma once

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"

namespace VornAgentRunnerMain {

/// Replaces the file at `path` with `content` (creating missing folders),
/// atomically; a symbolic link at `path` is written through to its target,
/// which must be authorised too. Honours `extra_roots`.
vorn::RunnerResponse writeFile(const vorn::RunnerRequest& request);

/// Creates the folder at `path` with its missing parents.
vorn::RunnerResponse mkdir(const vorn::RunnerRequest& request);

/// Removes the file, link or folder tree at `path`; missing is "deleted" too.
vorn::RunnerResponse deleteFile(const vorn::RunnerRequest& request);

}  // namespace VornAgentRunnerMain
