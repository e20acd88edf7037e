#include "agent-runner/protocol/runner_response.h"

#include <unistd.h>

#include <utility>

namespace vorn {

RunnerResponse success(SuccessFields fields) {
  RunnerResponse r;
  r.ok = true;
  r.path = std::move(fields.path);
  r.written_bytes = fields.writtenBytes;
  r.affected_paths = std::move(fields.affectedPaths);
  r.message = std::move(fields.message);
  r.stdout_text = std::move(fields.stdoutText);
  r.stderr_text = std::move(fields.stderrText);
  r.exit_status = fields.exitStatus;
  r.pid = static_cast<std::int32_t>(::getpid());
  return r;
}

RunnerResponse failure(std::string text, FailureFields fields) {
  RunnerResponse r;
  r.ok = false;
  r.message = text;
  r.error = std::move(text);
  r.stdout_text = std::move(fields.stdoutText);
  r.stderr_text = std::move(fields.stderrText);
  r.exit_status = fields.exitStatus;
  r.affected_paths = std::move(fields.affectedPaths);
  r.pid = static_cast<std::int32_t>(::getpid());
  return r;
}

}  // namespace vorn
