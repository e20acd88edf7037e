#include "agent-runner/protocol/answers.h"

#include <utility>

namespace VornAgentRunnerMain {

Pong ping(const PingRequest&) { return {}; }

vorn::RunnerResponse answerOf(Pong) { return vorn::success({.stdoutText = "pong"}); }

vorn::RunnerResponse answerOf(vorn::Refusal refusal) {
  return vorn::failure(std::move(refusal.text));
}

vorn::RunnerResponse answerOf(FileChange change) {
  std::vector<std::string> affected{change.path};
  switch (change.kind) {
    case FileChange::Kind::kWritten:
      return vorn::success({.path = std::move(change.path),
                            .writtenBytes = change.writtenBytes,
                            .affectedPaths = std::move(affected)});
    case FileChange::Kind::kMade:
      return vorn::success({.path = std::move(change.path), .affectedPaths = std::move(affected)});
    case FileChange::Kind::kDeleted:
      break;
  }
  return vorn::success(
      {.path = std::move(change.path), .affectedPaths = std::move(affected), .message = "deleted"});
}

vorn::RunnerResponse answerOf(ProcessRun run) {
  if (!started(run)) return vorn::failure(outcomeText(run));
  auto status = endStatus(run);
  if (status == 0) {
    return vorn::success({.stdoutText = std::move(run.stdoutText),
                          .stderrText = std::move(run.stderrText),
                          .exitStatus = 0});
  }
  return vorn::failure(outcomeText(run), {.stdoutText = std::move(run.stdoutText),
                                          .stderrText = std::move(run.stderrText),
                                          .exitStatus = status});
}

vorn::RunnerResponse answerOf(GitReport report) {
  if (report.done) {
    return vorn::success({.path = std::move(report.path),
                          .affectedPaths = std::move(report.affectedPaths),
                          .message = std::move(report.text),
                          .stdoutText = std::move(report.stdoutText),
                          .stderrText = std::move(report.stderrText),
                          .exitStatus = report.exitStatus});
  }
  return vorn::failure(std::move(report.text), {.stdoutText = std::move(report.stdoutText),
                                                .stderrText = std::move(report.stderrText),
                                                .exitStatus = report.exitStatus,
                                                .affectedPaths = std::move(report.affectedPaths)});
}

}  // namespace VornAgentRunnerMain
