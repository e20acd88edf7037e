// Where the session's messages go.
#pragma once

#include <string_view>

namespace vorn::mcp {

class Output {
 public:
  virtual ~Output() = default;
  /// Sends one message (a line without its line feed). Safe from any thread;
  /// lines never interleave.
  virtual void send(std::string_view line) = 0;
};

}  // namespace vorn::mcp
