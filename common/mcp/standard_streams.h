// Keeping the protocol's streams to the protocol. A child process started by
// a tool inherits standard input and output: left as they are, a shell
// command could read the client's next messages or print into the message
// stream. So the protocol moves them to private close-on-exec descriptors,
// and the standard ones become /dev/null (input) and standard error
// (output) for the rest of the process.
#pragma once

#include <optional>

#include "common/unique_fd.h"

namespace vorn::mcp {

struct ProtocolStreams {
  UniqueFd input;
  UniqueFd output;
};

/// Takes standard input and output for the protocol as above; nothing (and
/// nothing changed) when a descriptor cannot be made.
std::optional<ProtocolStreams> takeStandardStreams();

}  // namespace vorn::mcp
