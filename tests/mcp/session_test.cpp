// The session in-process, with calls run inline, held back or on threads:
// revisions and their result shapes, what is never answered, cancellation,
// progress timing, the in-flight limits and both ways roots arrive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "common/mcp/line_writer.h"
#include "common/mcp/session.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using namespace vorn::mcp;

class Lines final : public Output {
 public:
  void send(std::string_view line) override {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(line.find('\n'), std::string_view::npos);
    lines_.push_back(json::parse(line));
    raw_.emplace_back(line);
    arrived_.notify_all();
  }
  std::vector<std::string> takeRaw() {
    std::lock_guard lock(mutex_);
    lines_.clear();
    return std::exchange(raw_, {});
  }
  std::vector<json> take() {
    std::lock_guard lock(mutex_);
    raw_.clear();
    return std::exchange(lines_, {});
  }
  /// Waits for `count` lines in all, then takes them.
  std::vector<json> takeWhen(std::size_t count) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, 10s, [&] { return lines_.size() >= count; });
    raw_.clear();
    return std::exchange(lines_, {});
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<json> lines_;
  std::vector<std::string> raw_;
};

enum class Calls { kInline, kHeld, kThreaded };

json meta(std::string version = "2026-07-28", json capabilities = json::object()) {
  return {{"io.modelcontextprotocol/protocolVersion", std::move(version)},
          {"io.modelcontextprotocol/clientCapabilities", std::move(capabilities)}};
}

class SessionTest : public ::testing::Test {
 protected:
  void start(Calls run, SessionOptions options = {}) {
    Submit submit = [this, run](std::function<void()> job) {
      if (run == Calls::kInline) return job();
      if (run == Calls::kHeld) return held_.push_back(std::move(job));
      threads_.emplace_back(std::move(job));
    };
    session_ = std::make_unique<Session>(
        ServerInfo{.name = "test", .version = "1"}, tools(), out_, submit, [](std::string_view) {},
        options);
  }
  void TearDown() override {
    if (session_) session_->endOfInput();
    for (auto& job : held_) job();
    for (auto& thread : threads_) thread.join();
  }

  void send(const json& message) { session_->handleLine(message.dump()); }
  void request(json id, std::string method, json params = json::object()) {
    send({{"jsonrpc", "2.0"},
          {"id", std::move(id)},
          {"method", std::move(method)},
          {"params", std::move(params)}});
  }
  void notify(std::string method, json params = json::object()) {
    send({{"jsonrpc", "2.0"}, {"method", std::move(method)}, {"params", std::move(params)}});
  }
  void call(json id, std::string name, json extra = json::object()) {
    extra["name"] = std::move(name);
    request(std::move(id), "tools/call", std::move(extra));
  }
  json initialize(std::string version = "2025-11-25", json capabilities = json::object()) {
    request(0, "initialize", {{"protocolVersion", version}, {"capabilities", capabilities}});
    return only();
  }
  /// The one line sent since the last look.
  json only() {
    auto lines = out_.take();
    EXPECT_EQ(lines.size(), 1u) << json(lines).dump();
    return lines.empty() ? json() : lines[0];
  }
  void runHeld() {
    auto jobs = std::exchange(held_, {});
    for (auto& job : jobs) job();
  }

  std::vector<Tool> tools() {
    auto schema = json{{"type", "object"}};
    return {
        {.name = "echo",
         .description = "echo",
         .inputSchema = schema,
         .annotations = {.readOnly = true},
         .handler =
             [](const json& arguments, CallContext&) {
               return ToolResult{.structured = {{"got", arguments}}};
             }},
        {.name = "block",
         .description = "waits to be cancelled",
         .inputSchema = schema,
         .handler =
             [this](const json&, CallContext& context) {
               context.reportProgress("copying");
               entered_.release();
               std::mutex mutex;
               std::condition_variable_any never;
               std::unique_lock lock(mutex);
               never.wait_for(lock, context.stopToken(), 10s, [] { return false; });
               cancelledSeen_ = context.stopToken().stop_requested();
               return ToolResult{.structured = {{"ok", true}}};
             }},
        {.name = "where",
         .description = "roots",
         .inputSchema = schema,
         .usesRoots = true,
         .handler =
             [](const json&, CallContext& context) {
               json paths = json::array();
               if (context.roots()) {
                 for (const auto& root : *context.roots()) paths.push_back(root.path.value_or("?"));
               }
               return ToolResult{.structured = {{"offered", context.roots().has_value()},
                                                {"paths", paths},
                                                {"version", context.protocolVersion()}}};
             }},
        {.name = "explode",
         .description = "throws",
         .inputSchema = schema,
         .handler = [](const json&, CallContext&) -> ToolResult {
           throw std::runtime_error("kaboom");
         }},
    };
  }

  Lines out_;
  std::unique_ptr<Session> session_;
  std::vector<std::function<void()>> held_;
  std::vector<std::thread> threads_;
  std::counting_semaphore<8> entered_{0};
  std::atomic<bool> cancelledSeen_{false};
};

TEST_F(SessionTest, HandshakeEchoesASupportedRevisionElseAnswersTheNewest) {
  start(Calls::kInline);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"2024-11-05", "2024-11-05"}, {"2025-03-26", "2025-03-26"}, {"2025-06-18", "2025-06-18"},
      {"2025-11-25", "2025-11-25"}, {"2026-07-28", "2025-11-25"}, {"1999-01-01", "2025-11-25"},
  };
  for (const auto& [asked, answered] : cases) {
    json result = initialize(asked)["result"];
    EXPECT_EQ(result["protocolVersion"], answered) << asked;
    EXPECT_EQ(result["serverInfo"]["name"], "test");
    EXPECT_TRUE(result["capabilities"].contains("tools"));
    EXPECT_FALSE(result.contains("resultType"));
  }
  request(1, "initialize", {{"capabilities", json::object()}});
  EXPECT_EQ(only()["error"]["code"], error_code::kInvalidParams);
}

TEST_F(SessionTest, WithoutARevisionOnlyPingAndTheHandshakeAreServed) {
  start(Calls::kInline);
  request(1, "ping");
  EXPECT_EQ(only()["result"], json::object());
  request(2, "tools/list");
  json error = only()["error"];
  EXPECT_EQ(error["code"], error_code::kInvalidParams);
  EXPECT_NE(error["message"].get<std::string>().find("initialize"), std::string::npos);
  request(3, "resources/list");
  EXPECT_EQ(only()["error"]["code"], error_code::kMethodNotFound);
  initialize();
  request(4, "tools/list");
  EXPECT_EQ(only()["result"]["tools"].size(), 4u);
}

TEST_F(SessionTest, StatelessRequestsCarryTheirOwnRevision) {
  start(Calls::kInline);
  request(1, "tools/list", {{"_meta", meta()}});
  json result = only()["result"];
  EXPECT_EQ(result["resultType"], "complete");
  EXPECT_EQ(result["_meta"]["io.modelcontextprotocol/serverInfo"]["name"], "test");
  EXPECT_GT(result["ttlMs"], 0);
  EXPECT_EQ(result["cacheScope"], "private");

  request(2, "server/discover", {{"_meta", meta()}});
  result = only()["result"];
  EXPECT_EQ(result["supportedVersions"][0], "2026-07-28");
  EXPECT_TRUE(result["capabilities"].contains("tools"));

  request("v", "tools/list", {{"_meta", meta("2099-01-01")}});
  json error = only()["error"];
  EXPECT_EQ(error["code"], error_code::kUnsupportedProtocolVersion);
  EXPECT_EQ(error["data"]["requested"], "2099-01-01");
  EXPECT_EQ(error["data"]["supported"][0], "2026-07-28");

  json noCapabilities = meta();
  noCapabilities.erase("io.modelcontextprotocol/clientCapabilities");
  request(3, "tools/list", {{"_meta", noCapabilities}});
  EXPECT_EQ(only()["error"]["code"], error_code::kInvalidParams);
  request(4, "tools/list", {{"_meta", meta()}});
  out_.take();
  request(5, "tools/list", {{"_meta", {{"io.modelcontextprotocol/protocolVersion", 20260728}}}});
  EXPECT_EQ(only()["error"]["code"], error_code::kInvalidParams);
}

TEST_F(SessionTest, ResultsFollowTheRevisionsShape) {
  start(Calls::kInline);
  initialize("2024-11-05");
  request(1, "tools/list");
  EXPECT_FALSE(only()["result"]["tools"][0].contains("annotations"));
  call(2, "echo", {{"arguments", {{"a", 1}}}});
  json result = only()["result"];
  EXPECT_FALSE(result.contains("structuredContent"));
  EXPECT_EQ(json::parse(result["content"][0]["text"].get<std::string>()),
            json({{"got", {{"a", 1}}}}));

  initialize("2025-06-18");
  request(3, "tools/list");
  EXPECT_EQ(only()["result"]["tools"][0]["annotations"]["readOnlyHint"], true);
  call(4, "echo");
  result = only()["result"];
  EXPECT_EQ(result["structuredContent"], json({{"got", json::object()}}));
  EXPECT_EQ(result["isError"], false);
  EXPECT_FALSE(result.contains("resultType"));
}

TEST_F(SessionTest, BadCallsAreProtocolErrorsAndAFailingToolIsAnErrorResult) {
  start(Calls::kInline);
  initialize();
  call(1, "nope");
  json error = only()["error"];
  EXPECT_EQ(error["code"], error_code::kInvalidParams);
  EXPECT_EQ(error["message"], "Unknown tool: nope");
  request(2, "tools/call", {{"arguments", json::object()}});
  EXPECT_EQ(only()["error"]["code"], error_code::kInvalidParams);
  call(3, "echo", {{"arguments", json::array()}});
  EXPECT_EQ(only()["error"]["code"], error_code::kInvalidParams);
  call(4, "explode");
  json result = only()["result"];
  EXPECT_EQ(result["isError"], true);
  EXPECT_NE(result["content"][0]["text"].get<std::string>().find("kaboom"), std::string::npos);
  EXPECT_FALSE(result.contains("structuredContent"));
}

TEST_F(SessionTest, NotificationsAndStrayResponsesAreNeverAnswered) {
  start(Calls::kInline);
  initialize();
  notify("tools/call", {{"name", "echo"}});
  notify("notifications/unknown");
  notify("notifications/cancelled", {{"requestId", 12345}});
  session_->handleLine(R"({"jsonrpc":"2.0","method":"x","params":"not an object"})");
  session_->handleLine(R"({"jsonrpc":"2.0","id":"roots-9","result":{}})");
  session_->handleLine("   ");
  EXPECT_TRUE(out_.take().empty());
}

TEST_F(SessionTest, IdsComeBackAsTheyWereWritten) {
  start(Calls::kInline);
  initialize();
  session_->handleLine(R"({"jsonrpc":"2.0","id":98765432109876543210,"method":"ping"})");
  session_->handleLine(R"({"jsonrpc":"2.0","id":"0","method":"ping"})");
  session_->handleLine(
      R"({"jsonrpc":"2.0","id":2.50,"method":"tools/call","params":{"name":"echo"}})");
  auto lines = out_.takeRaw();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].starts_with(R"({"jsonrpc":"2.0","id":98765432109876543210,)")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with(R"({"jsonrpc":"2.0","id":"0",)")) << lines[1];
  EXPECT_TRUE(lines[2].starts_with(R"({"jsonrpc":"2.0","id":2.50,)")) << lines[2];
}

TEST_F(SessionTest, ACancelledCallIsStoppedAndNeverAnswered) {
  start(Calls::kThreaded);
  initialize();
  call(7, "block");
  entered_.acquire();
  notify("notifications/cancelled", {{"requestId", 7}, {"reason", "user"}});
  request(8, "ping");
  threads_.back().join();
  threads_.pop_back();
  EXPECT_TRUE(cancelledSeen_);
  auto lines = out_.take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["id"], 8);
  // The id is free again, and cancelling a finished call changes nothing.
  call(7, "echo");
  EXPECT_EQ(out_.takeWhen(1).at(0)["id"], 7);
  notify("notifications/cancelled", {{"requestId", 7}});
  request(9, "ping");
  EXPECT_EQ(only()["id"], 9);
}

TEST_F(SessionTest, ACallCancelledBeforeItRunsNeverRuns) {
  start(Calls::kHeld);
  initialize();
  call("c", "explode");
  notify("notifications/cancelled", {{"requestId", "c"}});
  runHeld();
  EXPECT_TRUE(out_.take().empty());
}

TEST_F(SessionTest, EndOfInputCancelsEveryCall) {
  start(Calls::kThreaded);
  initialize();
  call(1, "block");
  call(2, "block");
  entered_.acquire();
  entered_.acquire();
  session_->endOfInput();
  for (auto& thread : threads_) thread.join();
  threads_.clear();
  EXPECT_TRUE(out_.take().empty());
}

TEST_F(SessionTest, AnIdInFlightCannotBeReusedAndTheLimitAnswersBusy) {
  start(Calls::kHeld, {.maxCallsInFlight = 2});
  initialize();
  call(1, "echo");
  call(1, "echo");
  json error = only()["error"];
  EXPECT_EQ(error["code"], error_code::kInvalidRequest);
  call(2, "echo");
  call(3, "echo");
  json busy = only();
  EXPECT_EQ(busy["id"], 3);
  EXPECT_EQ(busy["result"]["isError"], true);
  EXPECT_NE(busy["result"]["content"][0]["text"].get<std::string>().find("busy"),
            std::string::npos);
  runHeld();
  EXPECT_EQ(out_.take().size(), 2u);
}

TEST_F(SessionTest, RequestTextInFlightIsBoundedButOneCallAlwaysFits) {
  start(Calls::kHeld, {.maxBytesInFlight = 200});
  initialize();
  call(1, "echo", {{"arguments", {{"text", std::string(500, 'x')}}}});
  EXPECT_TRUE(out_.take().empty()) << "alone, a call runs whatever its size";
  call(2, "echo");
  EXPECT_EQ(only()["result"]["isError"], true);
  runHeld();
  out_.take();
  call(3, "echo");
  call(4, "echo");
  EXPECT_TRUE(out_.take().empty()) << "small calls share the room";
  runHeld();
  EXPECT_EQ(out_.take().size(), 2u);
}

TEST_F(SessionTest, ProgressIsSentWhileACallLastsAndNeverAfter) {
  start(Calls::kThreaded, {.progressInterval = 2000ms});
  initialize();
  auto begun = CallState::Clock::now();
  call(1, "block", {{"_meta", {{"progressToken", "tok"}}}});
  call(2, "block");  // no token: no progress
  entered_.acquire();
  entered_.acquire();
  auto& calls = session_->calls();
  EXPECT_TRUE(out_.take().empty());
  auto due = calls.sendDueProgress(begun);  // not due yet
  EXPECT_GE(due, begun + 2000ms);
  EXPECT_LT(due, begun + 3000ms);
  calls.sendDueProgress(due);
  calls.sendDueProgress(due + 100ms);  // not due again yet
  calls.sendDueProgress(due + 2000ms);
  auto lines = out_.take();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines) {
    EXPECT_EQ(line["method"], "notifications/progress");
    EXPECT_EQ(line["params"]["progressToken"], "tok");
    EXPECT_EQ(line["params"]["message"], "copying");
  }
  EXPECT_GT(lines[0]["params"]["progress"], 0);
  EXPECT_GT(lines[1]["params"]["progress"], lines[0]["params"]["progress"]);

  notify("notifications/cancelled", {{"requestId", 2}});
  notify("notifications/cancelled", {{"requestId", 1}});
  for (auto& thread : threads_) thread.join();
  threads_.clear();
  EXPECT_EQ(calls.sendDueProgress(begun + 60s), CallState::Clock::time_point::max());
  EXPECT_TRUE(out_.take().empty());
}

TEST_F(SessionTest, HandshakeRootsAreAskedForAndFollowChanges) {
  start(Calls::kInline);
  initialize("2025-11-25", {{"roots", {{"listChanged", true}}}});
  notify("notifications/initialized");
  json ask = only();
  EXPECT_EQ(ask["method"], "roots/list");
  EXPECT_EQ(ask["id"], "roots-1");
  send({{"jsonrpc", "2.0"},
        {"id", "roots-1"},
        {"result", {{"roots", {{{"uri", "file:///w/a%20b"}, {"name", "A"}}}}}}});
  call(1, "where");
  EXPECT_EQ(only()["result"]["structuredContent"]["paths"], json({"/w/a b"}));

  notify("notifications/roots/list_changed");
  notify("notifications/roots/list_changed");
  EXPECT_EQ(out_.take().size(), 2u);
  // The newer answer counts even when the older one arrives after it.
  send(
      {{"jsonrpc", "2.0"}, {"id", "roots-3"}, {"result", {{"roots", {{{"uri", "file:///new"}}}}}}});
  send(
      {{"jsonrpc", "2.0"}, {"id", "roots-2"}, {"result", {{"roots", {{{"uri", "file:///old"}}}}}}});
  call(2, "where");
  EXPECT_EQ(only()["result"]["structuredContent"]["paths"], json({"/new"}));
}

TEST_F(SessionTest, AClientWithoutRootsIsNeverAsked) {
  start(Calls::kInline);
  initialize();
  notify("notifications/initialized");
  notify("notifications/roots/list_changed");
  EXPECT_TRUE(out_.take().empty());
  call(1, "where");
  EXPECT_EQ(only()["result"]["structuredContent"]["offered"], false);
}

TEST_F(SessionTest, AnEarlyCallWaitsForTheFirstRootsAnswerButNotForever) {
  start(Calls::kThreaded, {.rootsWait = 10s});
  initialize("2025-11-25", {{"roots", json::object()}});
  call(1, "where");  // before the handshake is even complete
  notify("notifications/initialized");
  std::this_thread::sleep_for(50ms);
  auto lines = out_.take();
  ASSERT_EQ(lines.size(), 1u) << "the call must still be waiting";
  send({{"jsonrpc", "2.0"}, {"id", "roots-1"}, {"result", {{"roots", {{{"uri", "file:///r"}}}}}}});
  EXPECT_EQ(out_.takeWhen(1).at(0)["result"]["structuredContent"]["paths"], json({"/r"}));

  for (auto& thread : threads_) thread.join();
  threads_.clear();
  session_ = nullptr;
  start(Calls::kThreaded, {.rootsWait = 50ms});
  initialize("2025-11-25", {{"roots", json::object()}});
  call(2, "where");  // the client never answers
  json answer = out_.takeWhen(1).at(0);
  EXPECT_EQ(answer["result"]["structuredContent"]["offered"], false);
}

TEST_F(SessionTest, StatelessRootsComeBackWithTheRetriedCall) {
  start(Calls::kInline);
  json withRoots = meta("2026-07-28", {{"roots", json::object()}});
  call(1, "where", {{"_meta", withRoots}});
  json interim = only()["result"];
  EXPECT_EQ(interim["resultType"], "input_required");
  EXPECT_EQ(interim["inputRequests"]["roots"]["method"], "roots/list");

  call(2, "where",
       {{"_meta", withRoots},
        {"inputResponses", {{"roots", {{"roots", {{{"uri", "file:///p"}}}}}}}}});
  json result = only()["result"];
  EXPECT_EQ(result["resultType"], "complete");
  EXPECT_EQ(result["structuredContent"]["paths"], json({"/p"}));
  EXPECT_EQ(result["structuredContent"]["version"], "2026-07-28");

  call(3, "where", {{"_meta", withRoots}, {"inputResponses", {{"roots", {{"roots", 5}}}}}});
  EXPECT_EQ(only()["error"]["code"], error_code::kInvalidParams);
  call(4, "where", {{"_meta", meta()}});
  EXPECT_EQ(only()["result"]["structuredContent"]["offered"], false);
  call(5, "echo", {{"_meta", withRoots}});
  EXPECT_EQ(only()["result"]["resultType"], "complete");
  // A handshake revision named in _meta has no such round trip.
  call(6, "where", {{"_meta", meta("2025-06-18", {{"roots", json::object()}})}});
  json legacy = only()["result"];
  EXPECT_FALSE(legacy.contains("resultType"));
  EXPECT_EQ(legacy["structuredContent"]["offered"], false);
}

TEST_F(SessionTest, OversizedAndUnreadableLinesAnswerWithTheNullId) {
  start(Calls::kInline);
  session_->handleOversizedLine(64);
  session_->handleLine("{\"jsonrpc\":");
  for (const auto& line : out_.take()) {
    EXPECT_TRUE(line["id"].is_null());
    EXPECT_TRUE(line.contains("error"));
  }
}

TEST(LineWriter, LinesFromManyThreadsStayWhole) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  LineWriter writer(fds[1]);
  std::string read;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) read.append(buffer, n);
  });
  {
    std::vector<std::jthread> writers;
    for (char c = 'a'; c < 'a' + 8; ++c) {
      writers.emplace_back([&writer, c] {
        // Far beyond the size a pipe writes atomically.
        for (int i = 0; i < 20; ++i) writer.send(std::string(200000, c));
      });
    }
  }
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  std::size_t lines = 0, start = 0, end;
  while ((end = read.find('\n', start)) != std::string::npos) {
    std::string_view line(read.data() + start, end - start);
    ASSERT_EQ(line.size(), 200000u);
    EXPECT_EQ(line.find_first_not_of(line[0]), std::string_view::npos);
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, 160u);
}

}  // namespace
