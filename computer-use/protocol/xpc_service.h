// The helper's service mode: the shared service host on the session bus,
// with every call's text answered by handleJSONText.
#pragma once

#include <string>
#include <string_view>

#include "common/service_host.h"
#include "computer-use/platform/platform.h"

namespace ComputerUseHelperMain {

class VornComputerUseXPCService {
 public:
  /// Bus name, object path and interface under which the helper serves.
  static constexpr vorn::service::ServiceName kName{"dev.vorn.ComputerUse", "/dev/vorn/ComputerUse",
                                                    "dev.vorn.ComputerUse1"};

  /// One object serves every call; `platform` must outlive it and be safe to
  /// use from several threads at once.
  explicit VornComputerUseXPCService(vorn::platform::Platform& platform) : platform_(platform) {}

  /// Replied in place of an answer too large for the bus.
  static constexpr std::string_view kAnswerTooLarge =
      R"({"ok":false,"error":"answer_too_large","message":"The answer is too large for the bus."})";

  /// Serves until the bus connection ends (0); 1 after one line on standard
  /// error when the bus cannot be reached or the name is taken.
  int run();

  /// One call: the reply is exactly the one-shot answer without the line feed.
  std::string performRequest(std::string_view request);

 private:
  vorn::platform::Platform& platform_;
};

}  // namespace ComputerUseHelperMain
