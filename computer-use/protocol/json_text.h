// Request text in, answer text out: the step every transport shares.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "computer-use/protocol/dispatch.h"

namespace ComputerUseHelperMain {

/// Written in place of an answer that cannot be written as JSON.
inline constexpr std::string_view kEncodeFailed = R"({"ok":false,"error":"encode_failed"})";

/// Requests nested deeper than this are refused as "invalid_json": parsing
/// them would cost memory out of all proportion to their size.
inline constexpr std::size_t kMaxNesting = 512;

/// The request dictionary in `text`, or nothing when `text` is not valid UTF-8,
/// holds a NUL byte, nests deeper than `kMaxNesting`, is not one JSON document,
/// or its top level is not an object.
std::optional<Dictionary> parseRequest(std::string_view text);

/// `result` as compact JSON text, or `kEncodeFailed` when a value cannot be
/// written (a number that is not finite, a string that is not UTF-8).
std::string encodeAnswer(const Dictionary& result);

/// One answer as text, and whether it says the operation did what was asked
/// (read from the answer's value, never from its text).
struct AnswerText {
  std::string text;
  bool ok = false;
};

/// The answer for one request text, without a line feed: "invalid_json" for
/// text `parseRequest` refuses, otherwise what `handle` answers. Never fails
/// and never throws; holds no state, so any thread may call it.
AnswerText answerJSONText(std::string_view text, vorn::platform::Platform& platform);

/// The text of `answerJSONText`.
std::string handleJSONText(std::string_view text, vorn::platform::Platform& platform);

/// Writes `result` as one line to standard error in one write. Only the usage
/// failure goes there.
void emit(const Dictionary& result);

}  // namespace ComputerUseHelperMain
