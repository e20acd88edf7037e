// The runner's service mode: the shared service host on the session bus,
// with every call's text answered by handleJSONText.
#pragma once

#include <string>
#include <string_view>

#include "common/service_host.h"

namespace VornAgentRunnerMain {

class VornAgentRunnerXPCService {
 public:
  /// Bus name, object path and interface under which the runner serves.
  static constexpr vorn::service::ServiceName kName{"dev.vorn.AgentRunner", "/dev/vorn/AgentRunner",
                                                    "dev.vorn.AgentRunner1"};

  /// Serves until the bus connection ends (0); 1 after one line on standard
  /// error when the bus cannot be reached or the name is taken. An answer
  /// too large for the bus is replied as the failure "answer_too_large".
  int run() const;

  /// One call: the reply is exactly what the one-shot mode writes for the
  /// same request, without the line feed.
  std::string performRequest(std::string_view request) const;
};

}  // namespace VornAgentRunnerMain
