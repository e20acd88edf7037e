// The context a handler gets for one call, backed by the registry of calls
// in flight.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/mcp/in_flight.h"
#include "common/mcp/tool.h"

namespace vorn::mcp {

class CallContextImpl final : public CallContext {
 public:
  CallContextImpl(CallState& call, InFlightCalls& calls, std::optional<std::vector<Root>> roots,
                  std::string version)
      : call_(call), calls_(calls), roots_(std::move(roots)), version_(std::move(version)) {}

  std::stop_token stopToken() const override { return call_.stop.get_token(); }
  void reportProgress(std::string message) override {
    if (!call_.progressToken.is_null()) calls_.setStatus(call_, std::move(message));
  }
  const std::optional<std::vector<Root>>& roots() const override { return roots_; }
  std::string_view protocolVersion() const override { return version_; }

 private:
  CallState& call_;
  InFlightCalls& calls_;
  std::optional<std::vector<Root>> roots_;
  std::string version_;
};

}  // namespace vorn::mcp
