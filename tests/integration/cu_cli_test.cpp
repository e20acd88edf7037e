// The built helper as the calling application sees it: every request over
// each transport (standard input, --json, a --serve line), exact answer
// bytes, exit statuses, and nothing on standard error but the usage line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/program_session.h"

namespace {

using vorn::testing::Launch;
using vorn::testing::ProgramRun;
using vorn::testing::ProgramSession;
using vorn::testing::runProgram;
using namespace std::string_literals;

const std::string kHelper = VORN_COMPUTER_USE;
const std::string kInvalidJson = R"({"error":"invalid_json","ok":false})";
const std::string kUsage =
    R"({"error":"expected JSON on stdin, --json, --serve, or --xpc-service","ok":false})"
    "\n";
const std::string kNotTrusted =
    R"({"message":"Accessibility is required in the helper process.","ok":false,"outcome":"didnt"})";

// Every run is without a display unless a test gives one (an X11 one: a
// Wayland session is another backend, tested in cu_wayland_cli_test.cpp).
ProgramRun run(std::vector<std::string> arguments, std::string_view input = {},
               std::vector<std::string> environment = {}) {
  return runProgram(kHelper,
                    {std::move(arguments), std::move(environment), {"DISPLAY", "WAYLAND_DISPLAY"}},
                    input);
}

std::string pong(pid_t pid) {
  return R"({"ax_in_helper":true,"helper":"vorn-computer-use","ok":true,"pid":)" +
         std::to_string(pid) + "}";
}

enum class Transport { kStdin, kJsonArgument, kServe };

struct Case {
  std::string name;
  std::string request;
  std::string answer;  // "PONG" for the ping answer
  bool ok;
};

const Case kCases[] = {
    {"Ping", R"({"op":"ping"})", "PONG", true},
    {"OpIsTrimmedAndLowercased", R"({"op":" \tPING  "})", "PONG", true},
    {"UnknownOp", R"({"op":"Windows"})", R"({"error":"unknown_op","ok":false,"op":"windows"})",
     false},
    {"NoOp", R"({"limit":3})", R"({"error":"unknown_op","ok":false,"op":""})", false},
    {"Array", R"([{"op":"ping"}])", kInvalidJson, false},
    {"BareNumber", "42", kInvalidJson, false},
    {"Blanks", "   ", kInvalidJson, false},
    {"Truncated", R"({"op":)", kInvalidJson, false},
    {"InvalidUtf8", "{\"op\":\"\xc3\"}", kInvalidJson, false},
    {"WindowsWithoutDisplay", R"({"op":"list_windows","limit":0})", R"({"ok":true,"windows":[]})",
     true},
    {"KeypressWithoutDisplay", R"({"op":"keypress","key":"cmd+a"})", kNotTrusted, false},
    {"ClickWithoutDisplay", R"({"op":"click_xy","x":1,"y":2})", kNotTrusted, false},
    {"ScreenshotWithoutDisplay", R"({"op":"screenshot","window_number":7})",
     R"({"error":"permission_required","message":"Screen Recording is required in the helper: )"
     R"x(cannot connect to the X display (DISPLAY is not set)","ok":false})x",
     false},
    {"ScreenshotWithoutWindowNumber", R"({"op":"screenshot","window_number":"7"})",
     R"({"error":"invalid_arguments","message":"window_number is required","ok":false})", false},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class OverEachTransport : public testing::TestWithParam<std::tuple<Transport, Case>> {};

TEST_P(OverEachTransport, AnswersExactly) {
  const auto& [transport, c] = GetParam();
  std::vector<std::string> arguments;
  if (transport == Transport::kJsonArgument) arguments = {"--json", c.request};
  if (transport == Transport::kServe) arguments = {"--serve"};
  std::string input = transport == Transport::kJsonArgument ? ""
                      : transport == Transport::kServe      ? c.request + "\n"
                                                            : c.request;
  ProgramRun result = run(arguments, input);
  std::string expected = c.answer == "PONG" ? pong(result.pid) : c.answer;
  EXPECT_EQ(result.out, expected + "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, transport == Transport::kServe ? 0 : (c.ok ? 0 : 1));
}

std::string caseName(const testing::TestParamInfo<std::tuple<Transport, Case>>& info) {
  static const char* const kTransports[] = {"Stdin_", "Json_", "Serve_"};
  return kTransports[static_cast<int>(std::get<0>(info.param))] + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Cli, OverEachTransport,
                         testing::Combine(testing::Values(Transport::kStdin,
                                                          Transport::kJsonArgument,
                                                          Transport::kServe),
                                          testing::ValuesIn(kCases)),
                         caseName);

TEST(CliOneShot, WithoutARequestTheUsageGoesToStandardError) {
  for (auto arguments : {std::vector<std::string>{}, {"--json"}, {"--jsonx", "{}"}}) {
    ProgramRun r = run(arguments, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kUsage);
  }
}

TEST(CliOneShot, JsonAsLastArgumentReadsStandardInput) {
  ProgramRun r = run({"--json"}, R"({"op":"ping"})");
  EXPECT_EQ(r.out, pong(r.pid) + "\n");
  EXPECT_EQ(r.status, 0);
}

TEST(CliOneShot, TheFirstJsonArgumentWinsAndAnEmptyOneIsInvalid) {
  ProgramRun r = run({"--json", "", "--json", R"({"op":"ping"})"}, R"({"op":"ping"})");
  EXPECT_EQ(r.out, kInvalidJson + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
}

TEST(CliOneShot, BytesThatAreNotUtf8OrHoldNulAreInvalid) {
  for (std::string input : {"\xff\xfe"s, "{\"op\":\"ping\"}\0"s, "\0"s}) {
    ProgramRun r = run({}, input);
    EXPECT_EQ(r.out, kInvalidJson + "\n");
    EXPECT_EQ(r.status, 1);
  }
}

// A service that cannot reach a bus says why in one line and ends with 1,
// without reading a request or answering on standard output.
const std::string kNoBus = "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/vorn-bus";

void expectNoBusRefusal(const ProgramRun& r) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("cannot reach the session bus: ")) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(CliModes, ServeWinsOverJsonAndTheServiceOverBoth) {
  ProgramRun served = run({"--json", R"({"op":"nope"})", "--serve"}, R"({"op":"ping"})");
  EXPECT_EQ(served.out, pong(served.pid) + "\n");
  EXPECT_EQ(served.status, 0);

  ProgramRun service = run({"--serve", "--json", R"({"op":"ping"})", "--xpc-service"},
                           R"({"op":"ping"})"
                           "\n",
                           {kNoBus});
  expectNoBusRefusal(service);
}

TEST(CliModes, ServiceNameInTheEnvironmentSelectsTheService) {
  for (std::string name :
       {"dev.vorn.ComputerUse", " \n dev.vorn.ComputerUse\t\n",
        "application.dev.vorn.ComputerUse.42", "com.example.vorn-computer-use"}) {
    ProgramRun r = run({"--serve"}, R"({"op":"ping"})", {"XPC_SERVICE_NAME=" + name, kNoBus});
    expectNoBusRefusal(r);
  }
  for (std::string name :
       {"0", " 0 ", "   ", "", "dev.vorn.AgentRunner", "vorn-computer-use.old"}) {
    ProgramRun r = run({}, R"({"op":"ping"})", {"XPC_SERVICE_NAME=" + name});
    EXPECT_EQ(r.out, pong(r.pid) + "\n") << name;
  }
}

TEST(CliServe, EachLineGetsOneAnswerBeforeTheNextIsRead) {
  ProgramSession session(kHelper, {{"--serve"}, {}, {"DISPLAY", "WAYLAND_DISPLAY"}});
  ASSERT_TRUE(session.write(R"({"op":"ping"})"
                            "\n"));
  EXPECT_EQ(session.readLine(), pong(session.pid()) + "\n");
  // Empty lines (with or without a carriage return) get nothing at all.
  ASSERT_TRUE(session.write("\n\r\n\n"));
  EXPECT_TRUE(session.outputStaysQuiet(std::chrono::milliseconds(200)));
  ASSERT_TRUE(session.write("  \n"));
  EXPECT_EQ(session.readLine(), kInvalidJson + "\n");
  ASSERT_TRUE(session.write(R"({"op":"keypress","key":"a"})"
                            "\r\n"));
  EXPECT_EQ(session.readLine(), kNotTrusted + "\n");
  // The last line needs no line feed.
  ProgramRun end = session.finish(R"({"op":"ping"})");
  EXPECT_EQ(end.out, pong(end.pid) + "\n");
  EXPECT_EQ(end.err, "");
  EXPECT_EQ(end.status, 0);
}

TEST(CliServe, NoLineEndsTheLoop) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) % 256);
  std::string lines = garbage + "\n" + std::string(2'000'000, '[') + "\n" +
                      "{\"op\":\"ping\"\0}\n"s +
                      R"({"op":"ping"})"
                      "\n";
  ProgramRun r = run({"--serve"}, lines);
  // The garbage holds line feeds of its own: every piece gets its own answer.
  std::string last = pong(r.pid) + "\n";
  ASSERT_TRUE(r.out.ends_with(last))
      << r.out.substr(r.out.size() - std::min<std::size_t>(r.out.size(), 300));
  std::string before = r.out.substr(0, r.out.size() - last.size());
  std::size_t answers = 0;
  for (std::size_t at = 0; (at = before.find(kInvalidJson + "\n", at)) != std::string::npos;
       at += kInvalidJson.size()) {
    ++answers;
  }
  EXPECT_EQ(before.size(), answers * (kInvalidJson.size() + 1));
  EXPECT_GE(answers, 3u);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

TEST(CliServe, FiftyMegabyteLinesAreAnswered) {
  std::string pad(50'000'000, 'x');
  std::string lines = R"({"op":"ping","pad":")" + pad + "\"}\n" + pad + "\n";
  ProgramRun r = run({"--serve"}, lines);
  EXPECT_EQ(r.out, pong(r.pid) + "\n" + kInvalidJson + "\n");
  EXPECT_EQ(r.status, 0);
}

TEST(CliDisplay, AnUnreachableDisplayIsAnswerNotAFailure) {
  for (std::string display : {"DISPLAY=:4242", "DISPLAY=nonsense", "DISPLAY="}) {
    ProgramRun windows = run({"--json", R"({"op":"list_windows"})"}, {}, {display});
    EXPECT_EQ(windows.out, R"({"ok":true,"windows":[]})"
                           "\n")
        << display;
    EXPECT_EQ(windows.status, 0);
    ProgramRun key = run({"--json", R"({"op":"keypress","key":"return"})"}, {}, {display});
    EXPECT_EQ(key.out, kNotTrusted + "\n") << display;
    EXPECT_EQ(key.err, "") << display;
    EXPECT_EQ(key.status, 1);
  }
}

TEST(CliAccessibility, AnUnreachableAccessibilityBusAsksForPermission) {
  const std::string refused =
      R"({"error":"permission_required","message":"Accessibility is required in the helper process.","ok":false})"
      "\n";
  // No session bus, a session bus that is not there, an accessibility bus
  // that is not there: every request answers, none aborts or hangs.
  const std::vector<std::vector<std::string>> environments = {
      {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus", "XDG_RUNTIME_DIR=/nonexistent"},
      {"DBUS_SESSION_BUS_ADDRESS=nonsense", "AT_SPI_BUS_ADDRESS="},
      {"AT_SPI_BUS_ADDRESS=unix:path=/nonexistent/at-spi"},
  };
  for (const auto& environment : environments) {
    for (std::string request :
         {R"({"op":"observe","pid":1})", R"({"op":"perform","action":"keypress","key":"a"})"}) {
      ProgramRun r = run({"--json", request}, {}, environment);
      EXPECT_EQ(r.out, refused) << environment[0] << " " << request;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.status, 1);
    }
  }
  // The pid is checked first.
  ProgramRun r = run({"--json", R"({"op":"observe"})"}, {}, environments[0]);
  EXPECT_EQ(r.out, R"({"error":"invalid_arguments","message":"pid is required","ok":false})"
                   "\n");
}

}  // namespace
