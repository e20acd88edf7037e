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
/// `count` must be an integer that fits 64 bits, however it is written,
/// arrays hold only strings, a `timeout` must lie in the double range);
/// numbers are read exactly from their text; unknown keys are ignored; null
/// means absent; of duplicate keys the last one counts; a raw NUL byte
/// anywhere is refused. Never throws.
std::variant<RunnerRequest, DecodeError> decodeRequest(std::string_view bytes);

/// decodeRequest on a buffer it takes over: strings are unescaped inside it
/// and it is freed before the call returns, so a request's memory is its
/// text and the decoded record, never more copies.
std::variant<RunnerRequest, DecodeError> decodeRequestInPlace(std::string&& bytes);

}  // namespace vorn
