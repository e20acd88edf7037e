#include "agent-runner/protocol/dispatch.h"

#include <exception>
#include <string>

#include "agent-runner/protocol/request_checks.h"
#include "agent-runner/sandbox/availability.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

vorn::RunnerResponse run(const Operation& operation, vorn::RunnerRequest& request) {
  if (operation.startsPrograms) {
    if (auto refused = vorn::sandbox::refusal()) return vorn::failure(std::move(*refused));
  }
  Prepared prepared;
  if (auto refusal = firstRefusal(operation.checks, request, prepared)) {
    return vorn::failure(std::move(*refusal));
  }
  return operation.serve(request, prepared);
}

}  // namespace

vorn::RunnerResponse handle(vorn::RunnerRequest&& request) {
  const Operation* operation = findOperation(vorn::text::lowercase(vorn::text::trim(request.op)));
  if (operation == nullptr) return vorn::failure("unknown op '" + request.op + "'");
  // The last line of defence: nothing unexpected may escape an operation.
  try {
    return run(*operation, request);
  } catch (const std::exception& e) {
    return vorn::failure(std::string("internal_error: ") + vorn::text::toValidUtf8(e.what()));
  } catch (...) {
    return vorn::failure("internal_error");
  }
}

vorn::RunnerResponse handle(const vorn::RunnerRequest& request) {
  return handle(vorn::RunnerRequest(request));
}

}  // namespace VornAgentRunnerMain
