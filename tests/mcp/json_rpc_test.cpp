// Reading messages and writing answers: what JSON-RPC allows, what the
// protocol forbids, ids echoed as written, and the encodings answers use.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/mcp/base64.h"
#include "common/mcp/json_reader.h"
#include "common/mcp/json_rpc.h"
#include "common/mcp/roots.h"

namespace {

using nlohmann::json;
using namespace vorn::mcp;

// One line of input and how it reads: the kind, and the id (JSON text) the
// message is or would be answered with, and the error code where one is due.
struct Case {
  std::string line;
  std::string kind;  // request, notification, response, malformed, unanswerable
  std::string id;    // "" for none, "null" for the null id
  int code = 0;
};

std::string kindOf(const Message& message, std::string& id, int& code) {
  if (auto* r = std::get_if<Request>(&message)) return id = r->id.json(), "request";
  if (std::holds_alternative<Notification>(message)) return "notification";
  if (auto* r = std::get_if<Response>(&message)) return id = r->id.json(), "response";
  if (auto* m = std::get_if<Malformed>(&message)) {
    id = m->id ? m->id->json() : "null";
    code = m->code;
    return "malformed";
  }
  return "unanswerable";
}

TEST(ReadMessage, ClassifiesEachShapeAndKeepsIdsAsWritten) {
  const std::vector<Case> cases = {
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", "request", "1"},
      {R"({"jsonrpc":"2.0","id":"a\"b","method":"ping"})", "request", R"("a\"b")"},
      {R"({"jsonrpc":"2.0","id":-7,"method":"ping"})", "request", "-7"},
      {R"({"jsonrpc":"2.0","id":18446744073709551615,"method":"ping"})", "request",
       "18446744073709551615"},
      {R"({"jsonrpc":"2.0","id":123456789012345678901234567890,"method":"ping"})", "request",
       "123456789012345678901234567890"},
      {R"({"jsonrpc":"2.0","id":1.50,"method":"ping"})", "request", "1.50"},
      {R"({"jsonrpc":"2.0","id":1E3,"method":"ping"})", "request", "1E3"},
      // The last "id" counts, whatever kind the earlier one was.
      {R"({"jsonrpc":"2.0","id":1,"id":"x","method":"ping"})", "request", R"("x")"},
      {R"({"jsonrpc":"2.0","id":"x","id":7.0,"method":"ping"})", "request", "7.0"},
      {R"({"jsonrpc":"2.0","id":"a","method":"m","params":{"id":5}})", "request", R"("a")"},
      {R"({"jsonrpc":"2.0","id":1,"method":"pi\u0000ng"})", "request", "1"},
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", "notification", ""},
      {R"({"jsonrpc":"2.0","id":"roots-1","result":{}})", "response", R"("roots-1")"},
      {R"({"jsonrpc":"2.0","id":3,"error":{"code":1,"message":"no"}})", "response", "3"},
      // Parse errors and shapes that are no request answer with the null id.
      {"not json", "malformed", "null", -32700},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"} {})", "malformed", "null", -32700},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping")", "malformed", "null", -32700},
      {std::string(R"({"jsonrpc":"2.0","id":1,"method":"pi)") + '\0' + R"(ng"})", "malformed",
       "null", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"\xff\"}", "malformed", "null", -32700},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", "malformed", "null", -32600},
      {"[]", "malformed", "null", -32600},
      {R"("ping")", "malformed", "null", -32600},
      {"null", "malformed", "null", -32600},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", "malformed", "null", -32600},
      {R"({"jsonrpc":"2.0","id":true,"method":"ping"})", "malformed", "null", -32600},
      // A readable id is echoed even when the rest is wrong.
      {R"({"id":1,"method":"ping"})", "malformed", "1", -32600},
      {R"({"jsonrpc":"1.0","id":"q","method":"ping"})", "malformed", R"("q")", -32600},
      {R"({"jsonrpc":"2.0","id":1,"method":5})", "malformed", "1", -32600},
      {R"({"jsonrpc":"2.0","id":1,"method":"x","params":[1]})", "malformed", "1", -32602},
      {R"({"jsonrpc":"2.0","id":1})", "malformed", "1", -32600},
      // A notification is never answered, not even when it is malformed.
      {R"({"jsonrpc":"2.0","method":"x","params":[1]})", "unanswerable", ""},
      {R"({"method":"x"})", "unanswerable", ""},
      {R"({"jsonrpc":"2.0","id":{"a":1},"result":{}})", "unanswerable", ""},
      {R"({"jsonrpc":"2.0","id":1,"result":{},"error":{}})", "unanswerable", ""},
  };
  for (const auto& c : cases) {
    std::string id;
    int code = 0;
    std::string kind = kindOf(readMessage(c.line), id, code);
    EXPECT_EQ(kind, c.kind) << c.line;
    EXPECT_EQ(id, c.id) << c.line;
    EXPECT_EQ(code, c.code) << c.line;
  }
}

TEST(ReadMessage, RefusesNestingBeyondTheLimit) {
  auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(readJson(nested(kMaxNesting)));
  EXPECT_FALSE(readJson(nested(kMaxNesting + 1)));
  // Deep enough to overflow a recursive reader or writer, answered at once.
  auto deep = R"({"jsonrpc":"2.0","id":1,"method":"x","params":{"a":)" + nested(100000) + "}}";
  auto message = readMessage(deep);
  ASSERT_TRUE(std::holds_alternative<Malformed>(message));
  EXPECT_EQ(std::get<Malformed>(message).code, error_code::kParseError);
}

TEST(WriteMessage, LinesAreSingleLineJsonWithTheIdVerbatim) {
  json awkward = {{"text", "two\nlines \xff and a \u2028"}, {"n", 1.5}};
  std::vector<std::string> lines = {
      resultLine(RequestId::fromNumberLiteral("123456789012345678901234567890"), awkward),
      errorLine(std::nullopt, error_code::kParseError, "bad\nline"),
      errorLine(RequestId::fromString("x"), error_code::kUnsupportedProtocolVersion, "no",
                {{"supported", {"2026-07-28"}}}),
      notificationLine("notifications/progress", {{"progressToken", 1}, {"progress", 2}}),
      requestLine(RequestId::fromString("roots-1"), "roots/list", json::object()),
  };
  for (const auto& line : lines) {
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    json parsed = json::parse(line);
    EXPECT_EQ(parsed["jsonrpc"], "2.0") << line;
  }
  EXPECT_NE(lines[0].find(R"("id":123456789012345678901234567890,)"), std::string::npos);
  EXPECT_EQ(json::parse(lines[0])["result"]["text"], "two\nlines \xef\xbf\xbd and a \u2028");
  EXPECT_TRUE(json::parse(lines[1])["id"].is_null());
  EXPECT_EQ(json::parse(lines[2])["error"]["data"]["supported"][0], "2026-07-28");
}

TEST(Base64, MatchesTheStandardVectors) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\x00\xff\xfe", 3), "AP/+"},
  };
  for (const auto& [bytes, encoded] : vectors) EXPECT_EQ(base64Encode(bytes), encoded);
}

TEST(Roots, FileUrisBecomePathsAndNothingElseDoes) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"file:///home/u/work", "/home/u/work"}, {"file://localhost/tmp/a%20b", "/tmp/a b"},
      {"file:///caf%C3%A9", "/caf\xc3\xa9"},   {"file:///", "/"},
      {"file://server/share", std::nullopt},   {"https://example.com/x", std::nullopt},
      {"file:relative/path", std::nullopt},    {"file:///a%00b", std::nullopt},
      {"file:///a%2", std::nullopt},           {"file:///a%zz", std::nullopt},
      {"file:///a?query", std::nullopt},
  };
  for (const auto& [uri, path] : cases) EXPECT_EQ(filePathFromUri(uri), path) << uri;

  auto roots = readRoots(
      json::parse(R"({"roots":[{"uri":"file:///w","name":"Work"},{"uri":"https://x"}]})"));
  ASSERT_TRUE(roots);
  ASSERT_EQ(roots->size(), 2u);
  EXPECT_EQ((*roots)[0].path, "/w");
  EXPECT_EQ((*roots)[0].name, "Work");
  EXPECT_EQ((*roots)[1].path, std::nullopt);
  EXPECT_FALSE(readRoots(json::parse(R"({"roots":[{"name":"no uri"}]})")));
  EXPECT_FALSE(readRoots(json::parse(R"({"roots":{}})")));
  EXPECT_TRUE(readRoots(json::parse(R"({"roots":[]})")));
}

}  // namespace
