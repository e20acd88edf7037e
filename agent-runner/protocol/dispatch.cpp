#include "agent-runner/protocol/dispatch.h"

#include <exception>
#include <string>

#include "agent-runner/process/shell.h"
#include "agent-runner/workspace/file_operations.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

vorn::RunnerResponse ping(const vorn::RunnerRequest&) {
  return vorn::success({.stdoutText = "pong"});
}

constexpr OperationEntry kOperations[] = {
    {"ping", ping},   {"write_file", writeFile}, {"mkdir", mkdir}, {"delete_file", deleteFile},
    {"shell", shell},
};

}  // namespace

std::span<const OperationEntry> operationTable() { return kOperations; }

vorn::RunnerResponse handle(const vorn::RunnerRequest& request) {
  std::string name = vorn::text::lowercase(vorn::text::trim(request.op));
  for (const auto& entry : kOperations) {
    if (entry.name != name) continue;
    // The last line of defence: nothing unexpected may escape an operation.
    try {
      return entry.run(request);
    } catch (const std::exception& e) {
      return vorn::failure(std::string("internal_error: ") + vorn::text::toValidUtf8(e.what()));
    } catch (...) {
      return vorn::failure("internal_error");
    }
  }
  return vorn::failure("unknown op '" + request.op + "'");
}

}  // namespace VornAgentRunnerMain
