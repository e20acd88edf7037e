#include "computer-use/protocol/xpc_service.h"

#include "computer-use/protocol/json_text.h"

namespace ComputerUseHelperMain {

int VornComputerUseXPCService::run() {
  return vorn::service::serve(
      kName, [this](std::string_view request) { return performRequest(request); },
      std::string(kAnswerTooLarge));
}

std::string VornComputerUseXPCService::performRequest(std::string_view request) {
  return handleJSONText(request, platform_);
}

}  // namespace ComputerUseHelperMain
