#include "agent-runner/protocol/xpc_service.h"

#include "agent-runner/protocol/entry.h"

namespace VornAgentRunnerMain {

int VornAgentRunnerXPCService::run() const {
  return vorn::service::serve(
      kName, [this](std::string_view request) { return performRequest(request); },
      encodeToString(vorn::failure("answer_too_large")));
}

std::string VornAgentRunnerXPCService::performRequest(std::string_view request) const {
  return handleJSONText(request);
}

}  // namespace VornAgentRunnerMain
