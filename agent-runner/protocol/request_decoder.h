// Strict decoding of request bytes into a RunnerRequest.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "agent-runner/protocol/runner_request.h"

namespace vorn {

/// Why a request did not decode, in words for the caller.
struct DecodeError {
  std::string description;
};

/// Decodes one JSON object. Wrong types are errors (a number is no boolean,
/// `count` must be integral and fit 64 bits, arrays hold only strings, a
/// `timeout` must be finite); unknown keys are ignored; null means absent; of
/// duplicate keys the last one counts; a raw NUL byte anywhere is refused.
/// Never throws.
std::variant<RunnerRequest, DecodeError> decodeRequest(std::string_view bytes);

}  // namespace vorn
