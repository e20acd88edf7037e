#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <string>
#include <variant>

#include "agent-runner/protocol/entry.h"
#include "agent-runner/protocol/request_decoder.h"
#include "agent-runner/protocol/response_encoder.h"
#include "common/text.h"

namespace {

using vorn::RunnerRequest;
using vorn::RunnerResponse;

RunnerRequest decodeOk(const std::string& json) {
  auto decoded = vorn::decodeRequest(json);
  if (auto* error = std::get_if<vorn::DecodeError>(&decoded)) {
    ADD_FAILURE() << json.substr(0, 100) << " -> " << error->description;
    return {};
  }
  return std::get<RunnerRequest>(decoded);
}

std::optional<std::string> decodeError(const std::string& json) {
  auto decoded = vorn::decodeRequest(json);
  auto* error = std::get_if<vorn::DecodeError>(&decoded);
  return error ? std::optional(error->description) : std::nullopt;
}

const std::string kPid = std::to_string(::getpid());

TEST(DecodeRequest, PingAloneLeavesEverythingElseAbsent) {
  auto r = decodeOk(R"({"op":"ping"})");
  EXPECT_EQ(r.op, "ping");
  EXPECT_FALSE(r.workspace_root || r.extra_roots || r.path || r.paths || r.content || r.dry_run ||
               r.timeout || r.count);
}

TEST(DecodeRequest, IgnoresUnknownKeysAndTreatsNullAsAbsent) {
  auto r = decodeOk(R"({"op":"x","later":{"a":[1,{}]},"path":null,"count":null,"paths":null})");
  EXPECT_EQ(r.op, "x");
  EXPECT_FALSE(r.path || r.count || r.paths);
}

TEST(DecodeRequest, ReadsEveryKindOfField) {
  auto r = decodeOk(R"({"op":"w","path":"a\/\u00e9\ud83d\ude00","paths":["a",""],"extra_roots":[],)"
                    R"("dry_run":false,"staged":true,"timeout":5,"count":5.0})");
  EXPECT_EQ(r.path, "a/é😀");
  EXPECT_EQ(r.paths, (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(r.extra_roots, std::vector<std::string>{});
  EXPECT_EQ(r.dry_run, false);
  EXPECT_EQ(r.staged, true);
  EXPECT_EQ(r.timeout, 5.0);
  EXPECT_EQ(r.count, 5);
  EXPECT_EQ(decodeOk(R"({"op":"x","count":9223372036854775807})").count, INT64_MAX);
  EXPECT_EQ(decodeOk(R"({"op":"x","count":-9223372036854775808})").count, INT64_MIN);
  EXPECT_EQ(decodeOk(R"({"op":"x","count":-1e3})").count, -1000);
}

TEST(DecodeRequest, LastDuplicateKeyWins) {
  auto r = decodeOk(R"({"op":"a","path":"x","path":"y","op":"b"})");
  EXPECT_EQ(r.op, "b");
  EXPECT_EQ(r.path, "y");
}

class DecodeRefusal : public testing::TestWithParam<std::string> {};

TEST_P(DecodeRefusal, IsAnError) { EXPECT_TRUE(decodeError(GetParam())); }

// Counts are checked at both ends of the 64-bit range, including literals
// that only overflow once rounded to a double.
INSTANTIATE_TEST_SUITE_P(
    Table, DecodeRefusal,
    testing::Values("", "null", "[]", "{}", R"("ping")", R"({"op":null})", R"({"path":"x"})",
                    R"({"op":5})", R"({"op":[]})", R"({"op":{}})", R"({"op":"ping",})",
                    R"({"op":"ping"} x)", R"({"op":"x","dry_run":1})",
                    R"({"op":"x","dry_run":"true"})", R"({"op":"x","timeout":"5"})",
                    R"({"op":"x","timeout":1e400})", R"({"op":"x","count":2.5})",
                    R"({"op":"x","count":9223372036854775808})", R"({"op":"x","count":1e19})",
                    R"({"op":"x","count":-9223372036854775809})", R"({"op":"x","count":"5"})",
                    R"({"op":"x","count":true})", R"({"op":"x","paths":"a"})",
                    R"({"op":"x","paths":["a",1]})", R"({"op":"x","extra_roots":["a",null]})",
                    R"({"op":"x","content":5})", "{\"op\":\"\xFF\"}",
                    "{\"op\":\"x\",\"other\":\"\xED\xA0\x80\"}", R"({"op":"x","other":"\udc00"})",
                    "{\"op\":\"x\x1f\"}", "{\"op\":\"x\",\"path\":\"\x1a\"}",
                    "{\"op\":\"x\",\"path\":\"a\tb\"}"));

TEST(DecodeRequest, InvalidUtf8ErrorStaysShortAndValidForHugeStrings) {
  const std::string big(10 << 20, 'a'), head = R"({"op":"x","content":")";
  for (std::string json :
       {head + big + "\xFF\"}", head + "\xC3" + big + "\"}", head + big + "\xE2"}) {
    auto error = decodeError(json);
    ASSERT_TRUE(error);
    EXPECT_TRUE(vorn::text::isValidUtf8(*error)) << *error;
    EXPECT_LT(error->size(), 400u);
  }
}

TEST(DecodeRequest, SurvivesDeepNesting) {
  const std::string open(100000, '['), close(100000, ']');
  EXPECT_TRUE(decodeError(open));
  EXPECT_TRUE(decodeError(open + close));
  decodeOk(R"({"op":"x","deep":)" + open + close + "}");
}

// Numbers are read from their text: no detour through a double decides
// whether a count is whole or in range, and a timeout is the double nearest
// to what was written.
TEST(DecodeNumbers, TimeoutIsTheNearestDouble) {
  const std::pair<const char*, double> cases[] = {
      {"0e92", 0.0},
      {"-0.0e-7", -0.0},
      {"5", 5.0},
      {"0.1", 0.1},
      {"1.5E+3", 1500.0},
      {"1e-400", 0.0},
      {"2.4703282292062328e-324", 4.9406564584124654e-324},
      {"123456789012345678901234567890", 1.2345678901234568e29},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"18446744073709551617", 18446744073709551616.0}};
  for (const auto& [text, value] : cases) {
    auto r = decodeOk(std::string(R"({"op":"shell","timeout":)") + text + "}");
    ASSERT_TRUE(r.timeout) << text;
    EXPECT_EQ(*r.timeout, value) << text;
    EXPECT_EQ(std::signbit(*r.timeout), std::signbit(value)) << text;
  }
  for (const char* text : {"1.7976931348623159e308", "1e400", "-1e309"}) {
    EXPECT_TRUE(decodeError(std::string(R"({"op":"shell","timeout":)") + text + "}")) << text;
  }
}

TEST(DecodeNumbers, CountIsAnExactWholeNumberInRange) {
  const std::pair<const char*, std::int64_t> whole[] = {{"0e92", 0},
                                                        {"-0", 0},
                                                        {"0.5e1", 5},
                                                        {"500e-2", 5},
                                                        {"9007199254740993", 9007199254740993},
                                                        {"9007199254740993.0", 9007199254740993},
                                                        {"9223372036854775807.000", INT64_MAX},
                                                        {"922337203685477580.7e1", INT64_MAX},
                                                        {"-9.223372036854775808e18", INT64_MIN},
                                                        {"1e18", 1000000000000000000}};
  for (const auto& [text, value] : whole) {
    EXPECT_EQ(decodeOk(std::string(R"({"op":"git_log","count":)") + text + "}").count, value)
        << text;
  }
  for (const char* text :
       {"2.5", "1.0000000000000000001", "1e-99999999999999999999999", "1e19", "9223372036854775808",
        "9.223372036854775808e18", "-9223372036854775809", "100000000000000000000000000000000"}) {
    EXPECT_TRUE(decodeError(std::string(R"({"op":"git_log","count":)") + text + "}")) << text;
  }
}

TEST(EncodeResponse, PingAndFailureAnswersAreExact) {
  const std::string ping =
      R"({"helper":"vorn-agent-runner","ok":true,"pid":)" + kPid + R"(,"stdout":"pong"})";
  EXPECT_EQ(VornAgentRunnerMain::encodeToString(vorn::success({.stdoutText = "pong"})), ping);
  EXPECT_EQ(VornAgentRunnerMain::handleJSONText(R"( {"op":" PING "} )"), ping);
  EXPECT_EQ(VornAgentRunnerMain::encodeToString(vorn::failure("path is required")),
            R"({"error":"path is required","helper":"vorn-agent-runner",)"
            R"("message":"path is required","ok":false,"pid":)" +
                kPid + "}");
}

TEST(EncodeResponse, WritesAllFieldsInKeyOrder) {
  RunnerResponse r{.ok = true,
                   .error = "e",
                   .path = "/w/a",
                   .written_bytes = INT64_MAX,
                   .affected_paths = std::vector<std::string>{"/w/a", "b"},
                   .message = "m",
                   .stdout_text = "",
                   .stderr_text = "err",
                   .exit_status = -2,
                   .pid = 42};
  EXPECT_EQ(vorn::encodeResponse(r),
            R"({"affected_paths":["\/w\/a","b"],"error":"e","exit_status":-2,)"
            R"("helper":"vorn-agent-runner","message":"m","ok":true,"path":"\/w\/a","pid":42,)"
            R"("stderr":"err","stdout":"","written_bytes":9223372036854775807})");
}

TEST(EncodeResponse, EscapesOnlyWhatJsonNeedsPlusSlash) {
  const std::pair<std::string, std::string> cases[] = {
      {"a/b//", R"(a\/b\/\/)"},
      {"\"\\", R"(\"\\)"},
      {"\b\f\n\r\t", R"(\b\f\n\r\t)"},
      {std::string("\0\x01\x0b\x1b\x1f", 5), R"(\u0000\u0001\u000b\u001b\u001f)"},
      {"\x7f é€😀\u2028", "\x7f é€😀\u2028"}};
  for (const auto& [raw, written] : cases) {
    RunnerResponse r{.stderr_text = raw};
    EXPECT_EQ(vorn::encodeResponse(r),
              R"({"helper":"vorn-agent-runner","ok":false,"pid":0,"stderr":")" + written + "\"}");
  }
}

TEST(EncodeResponse, InvalidUtf8InAnyStringFallsBackToFixedText) {
  const std::function<void(RunnerResponse&)> spoilers[] = {
      [](auto& r) { r.error = "\xFF"; },
      [](auto& r) { r.path = "a\xC3"; },
      [](auto& r) { r.affected_paths->push_back("\xED\xA0\x80"); },
      [](auto& r) { r.message = "\xC0\x80"; },
      [](auto& r) { r.stdout_text = "ok\x80"; },
      [](auto& r) { r.stderr_text = "\xF5"; },
      [](auto& r) { r.helper = "\xFE"; }};
  for (std::size_t i = 0; i < std::size(spoilers); ++i) {
    RunnerResponse r = vorn::success({.path = "p", .affectedPaths = std::vector<std::string>{"a"}});
    spoilers[i](r);
    EXPECT_EQ(vorn::encodeResponse(r), std::nullopt) << "field " << i;
    EXPECT_EQ(VornAgentRunnerMain::encodeToString(r),
              R"({"ok":false,"error":"encode_failed","helper":"vorn-agent-runner"})");
  }
}

}  // namespace
