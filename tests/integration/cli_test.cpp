// The built runner as the application sees it: arguments, standard input and
// environment in; one answer line and an exit status out, nothing on stderr.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

using json = nlohmann::json;
using namespace std::string_literals;

struct Exchange {
  pid_t pid = -1;
  int status = -1;  // the exit status; -1 when the runner did not exit normally
  std::string out;
  std::string err;
};

// Appends the answer and the operation its request named, as one line, to
// the file VORN_ANSWER_LOG names (when set): the schema test checks every
// answer these tests saw.
void logAnswer(const std::vector<std::string>& arguments, std::string_view input,
               const Exchange& run) {
  const char* log = std::getenv("VORN_ANSWER_LOG");
  json answer = json::parse(run.out, nullptr, /*allow_exceptions=*/false);
  if (log == nullptr || !answer.is_object()) return;
  auto flag = std::find(arguments.begin(), arguments.end(), "--json");
  std::string_view text =
      flag != arguments.end() && flag + 1 != arguments.end() ? *(flag + 1) : input;
  auto request = json::parse(text, nullptr, /*allow_exceptions=*/false);
  std::string op = request.is_object() && request.contains("op") && request["op"].is_string()
                       ? request["op"].get<std::string>()
                       : "";
  std::string line = json::object({{"op", op}, {"answer", answer}}).dump() + "\n";
  int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  (void)!::write(fd, line.data(), line.size());
  ::close(fd);
}

// Runs the runner with `arguments`, `input` on its standard input and our
// environment with `extraEnvironment` in place.
Exchange runRunner(const std::vector<std::string>& arguments, std::string_view input = {},
                   const std::vector<std::string>& extraEnvironment = {}) {
  // A runner that ends without reading its input must not kill the test.
  static const bool ignoring = (std::signal(SIGPIPE, SIG_IGN), true);
  (void)ignoring;

  // Our environment without XPC_SERVICE_NAME and without what the extra
  // entries set themselves.
  auto overridden = [&](std::string_view entry) {
    std::string_view name = entry.substr(0, entry.find('=') + 1);
    if (name == "XPC_SERVICE_NAME=") return true;
    for (const auto& extra : extraEnvironment) {
      if (extra.starts_with(name)) return true;
    }
    return false;
  };
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!overridden(*e)) env.emplace_back(*e);
  }
  env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
  std::vector<char*> envp, argv{const_cast<char*>(VORN_AGENT_RUNNER)};
  for (auto& e : env) envp.push_back(e.data());
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  envp.push_back(nullptr);
  argv.push_back(nullptr);

  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) {
    ADD_FAILURE() << "pipe2 failed";
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t pipeDefault;
  sigemptyset(&pipeDefault);
  sigaddset(&pipeDefault, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipeDefault);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  Exchange run;
  int rc =
      posix_spawn(&run.pid, VORN_AGENT_RUNNER, &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (int fd : {in[0], out[1], err[1]}) ::close(fd);
  if (rc != 0) {
    for (int fd : {in[1], out[0], err[0]}) ::close(fd);
    ADD_FAILURE() << "cannot start " << VORN_AGENT_RUNNER;
    return {};
  }

  std::string_view logged = input;
  int inFd = in[1], outFd = out[0], errFd = err[0];
  ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  if (input.empty()) ::close(std::exchange(inFd, -1));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buffer[65536];
  while (outFd >= 0 || errFd >= 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the runner did not finish; killing it";
      ::kill(run.pid, SIGKILL);
      break;
    }
    pollfd fds[3] = {{inFd, POLLOUT, 0}, {outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    if (::poll(fds, 3, 1000) <= 0) continue;
    if (inFd >= 0 && fds[0].revents) {
      ssize_t n = ::write(inFd, input.data(), input.size());
      if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
      if ((n < 0 && errno != EAGAIN) || input.empty()) ::close(std::exchange(inFd, -1));
    }
    for (auto [index, fd, text] :
         {std::tuple{1, &outFd, &run.out}, std::tuple{2, &errFd, &run.err}}) {
      if (*fd < 0 || !fds[index].revents) continue;
      ssize_t n = ::read(*fd, buffer, sizeof buffer);
      if (n > 0) text->append(buffer, static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EINTR)) ::close(std::exchange(*fd, -1));
    }
  }
  for (int fd : {inFd, outFd, errFd}) {
    if (fd >= 0) ::close(fd);
  }
  int status = 0;
  while (::waitpid(run.pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  logAnswer(arguments, logged, run);
  return run;
}

std::string withPid(std::string answer, pid_t pid) {
  auto at = answer.find("PID");
  if (at != std::string::npos) answer.replace(at, 3, std::to_string(pid));
  return answer + "\n";
}

// What every answer must be, whatever it says.
json checkedAnswer(const Exchange& run) {
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.out.ends_with("\n") && run.out.find('\n') == run.out.size() - 1)
      << "not exactly one line: " << run.out;
  json answer = json::parse(run.out, nullptr, /*allow_exceptions=*/false);
  EXPECT_TRUE(answer.is_object()) << run.out;
  if (!answer.is_object()) return answer;
  EXPECT_EQ(answer.value("pid", 0), run.pid);
  EXPECT_EQ(answer.value("helper", ""), "vorn-agent-runner");
  if (answer.contains("error")) {
    EXPECT_EQ(answer["error"], answer["message"]);
  }
  return answer;
}

const std::string kPong = R"({"helper":"vorn-agent-runner","ok":true,"pid":PID,"stdout":"pong"})";
const std::string kNoRequest =
    R"({"error":"expected JSON request on stdin, --json '<payload>', or --xpc",)"
    R"("helper":"vorn-agent-runner",)"
    R"("message":"expected JSON request on stdin, --json '<payload>', or --xpc",)"
    R"("ok":false,"pid":PID})";
const std::string kDecodeError = "invalid JSON request: ";

std::string refusal(const std::string& text) {
  return R"({"error":")" + text + R"(","helper":"vorn-agent-runner","message":")" + text +
         R"(","ok":false,"pid":PID})";
}

void expectAnswer(const Exchange& run, const std::string& expected, int status) {
  checkedAnswer(run);
  EXPECT_EQ(run.out, withPid(expected, run.pid));
  EXPECT_EQ(run.status, status);
}

void expectDecodeError(const Exchange& run) {
  json answer = checkedAnswer(run);
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(answer.value("ok", true));
  EXPECT_TRUE(answer.value("error", "").starts_with(kDecodeError)) << run.out;
}

enum class Transport { kStdin, kJsonArgument };

Exchange send(Transport transport, const std::string& request) {
  if (transport == Transport::kStdin) return runRunner({}, request);
  return runRunner({"--json", request});
}

struct RequestCase {
  std::string name;
  std::string request;
  std::string answer;  // exact, with PID for the pid; "" = any decode error
  int status;
};

const RequestCase kRequestCases[] = {
    {"Ping", R"({"op":"ping"})", kPong, 0},
    {"OpIsTrimmedAndLowercased", R"({"op":"  PING\n"})", kPong, 0},
    {"TrailingLineFeed", "{\"op\":\"ping\"}\n", kPong, 0},
    {"UnknownOpQuotedAsSent", R"({"op":"Pong"})", refusal("unknown op 'Pong'"), 1},
    {"MissingOp", R"({"path":"x"})", refusal(kDecodeError + "key 'op' is required"), 2},
    {"WrongFieldType", R"({"op":"ping","dry_run":1})",
     refusal(kDecodeError + "key 'dry_run': expected a boolean"), 2},
    {"Array", R"([{"op":"ping"}])", refusal(kDecodeError + "the request must be a JSON object"), 2},
    {"Number", "42", refusal(kDecodeError + "the request must be a JSON object"), 2},
    {"Truncated", R"({"op":)", "", 2},
    {"TwoDocuments", R"({"op":"ping"} {"op":"ping"})", "", 2},
    {"InvalidUtf8", "{\"op\":\"\xff\"}", "", 2},
    {"InvalidUtf8OutsideStrings", "{\"op\":\"ping\"}\xc3", "", 2},
};

void PrintTo(Transport transport, std::ostream* os) {
  *os << (transport == Transport::kStdin ? "stdin" : "--json");
}
void PrintTo(const RequestCase& c, std::ostream* os) { *os << testing::PrintToString(c.request); }

class RequestOverTransport : public testing::TestWithParam<std::tuple<Transport, RequestCase>> {};

TEST_P(RequestOverTransport, AnswersExactly) {
  const auto& [transport, c] = GetParam();
  Exchange run = send(transport, c.request);
  if (c.answer.empty()) {
    expectDecodeError(run);
  } else {
    expectAnswer(run, c.answer, c.status);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RequestOverTransport,
    testing::Combine(testing::Values(Transport::kStdin, Transport::kJsonArgument),
                     testing::ValuesIn(kRequestCases)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param) == Transport::kStdin ? "Stdin_" : "Json_") +
             std::get<1>(info.param).name;
    });

TEST(CliModes, PingArgumentWinsOverEverything) {
  expectAnswer(runRunner({"--ping"}), kPong, 0);
  expectAnswer(runRunner({"--json", R"({"op":"Pong"})", "--ping"}), kPong, 0);
  expectAnswer(runRunner({"--xpc-service", "--ping"}), kPong, 0);
  expectAnswer(runRunner({"--ping"}, "", {"XPC_SERVICE_NAME=dev.vorn.AgentRunner"}), kPong, 0);
}

TEST(CliModes, WithoutARequestArgumentStdinIsRead) {
  expectAnswer(runRunner({}, ""), kNoRequest, 2);
  expectAnswer(runRunner({"--json"}, R"({"op":"ping"})"), kPong, 0);
  expectAnswer(runRunner({"--xpc"}, R"({"op":"ping"})"), kPong, 0);
  expectAnswer(runRunner({"--xpc"}, ""), kNoRequest, 2);
}

TEST(CliModes, EmptyJsonArgumentIsADecodeErrorNotAMissingRequest) {
  expectDecodeError(runRunner({"--json", ""}, R"({"op":"ping"})"));
}

// Every way of asking for service mode is taken; without a bus to serve on,
// the process says why in one line and ends with status 1, writing nothing
// on standard output and reading no request.
TEST(CliModes, ServiceInvocationWithoutABusSaysSoAndEndsWithStatusOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> invocations = {
      {{"--xpc-service"}, ""},
      {{"--json", R"({"op":"ping"})", "--xpc-service"}, ""},
      {{}, "XPC_SERVICE_NAME=dev.vorn.AgentRunner"},
      {{}, "XPC_SERVICE_NAME= dev.vorn.AgentRunner\n"},
      {{}, "XPC_SERVICE_NAME=application.dev.vorn.AgentRunner.4711"},
      {{}, "XPC_SERVICE_NAME=com.example.vorn-agent-runner"},
  };
  const std::string noBus = "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/vorn-bus";
  for (const auto& [arguments, environment] : invocations) {
    std::vector<std::string> env{noBus};
    if (!environment.empty()) env.push_back(environment);
    Exchange run = runRunner(arguments, R"({"op":"ping"})", env);
    EXPECT_EQ(run.status, 1) << environment;
    EXPECT_EQ(run.out, "") << environment;
    EXPECT_TRUE(run.err.starts_with("cannot reach the session bus: ")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

TEST(CliModes, OtherServiceNamesKeepTheNormalMode) {
  for (std::string name : {"0", "  ", "", "com.example.Terminal", "vorn-agent-runner-old"}) {
    expectAnswer(runRunner({}, R"({"op":"ping"})", {"XPC_SERVICE_NAME=" + name}), kPong, 0);
  }
}

TEST(CliStdin, RawControlBytesAreADecodeError) {
  expectAnswer(runRunner({}, "{\"op\":\"ping\"}\0"s),
               refusal(kDecodeError + "control character 0 outside an escape (at byte 13)"), 2);
  expectDecodeError(runRunner({}, "{\"op\":\"pi\0ng\"}"s));
  expectDecodeError(runRunner({}, "{\"op\":\"pi\x1cng\"}"s));
}

TEST(CliStdin, DeepNestingIsRefusedWithoutCrashing) {
  expectDecodeError(runRunner({}, std::string(1000000, '[')));
  expectDecodeError(runRunner({}, std::string(1000000, '[') + std::string(1000000, ']')));
}

// A fresh, canonical folder as the workspace, removed at the end.
class CliWorkspace : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorn-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = std::filesystem::canonical(pattern).string();
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  // The path as the answer writes it: every slash escaped.
  std::string escaped(const std::string& path) const {
    std::string out;
    for (char c : path) out += c == '/' ? "\\/" : std::string(1, c);
    return out;
  }
  std::string slurp(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  std::string root_;
};

TEST_F(CliWorkspace, WriteThenShellRoundTrip) {
  json write = {{"op", "write_file"},
                {"workspace_root", root_},
                {"path", "notes/todo.txt"},
                {"content", "h\u00e9llo\n"}};
  const std::string file = escaped(root_ + "/notes/todo.txt");
  expectAnswer(runRunner({"--json", write.dump()}),
               R"({"affected_paths":[")" + file +
                   R"("],"helper":"vorn-agent-runner","ok":true,"path":")" + file +
                   R"(","pid":PID,"written_bytes":7})",
               0);

  json shell = {{"op", "shell"},
                {"workspace_root", root_},
                {"command", "cat notes/todo.txt; echo oops >&2; exit 3"}};
  expectAnswer(runRunner({}, shell.dump()),
               R"({"error":"exit_3","exit_status":3,"helper":"vorn-agent-runner",)"
               R"("message":"exit_3","ok":false,"pid":PID,"stderr":"oops\n",)"
               "\"stdout\":\"h\u00e9llo\\n\"}",
               1);
}

TEST_F(CliWorkspace, TenMegabyteContentOverStdin) {
  std::string content;
  while (content.size() < 10'000'000) content += "line " + std::to_string(content.size()) + "\n";
  json write = {
      {"op", "write_file"}, {"workspace_root", root_}, {"path", "big.txt"}, {"content", content}};
  Exchange run = runRunner({}, write.dump());
  json answer = checkedAnswer(run);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(answer.value("written_bytes", 0u), content.size());
  EXPECT_TRUE(slurp(root_ + "/big.txt") == content);
}

TEST_F(CliWorkspace, GitAnswersCarryGitsTextExactly) {
  ASSERT_EQ(std::system(("git init -q -b main '" + root_ + "'").c_str()), 0);
  std::ofstream(root_ + "/a.txt") << "a\n";
  json status = {{"op", "git_status"}, {"workspace_root", root_}};
  expectAnswer(runRunner({"--json", status.dump()}, "", {"GIT_DIR=/nonexistent"}),
               R"({"exit_status":0,"helper":"vorn-agent-runner","message":"status","ok":true,)"
               R"("pid":PID,"stderr":"","stdout":"## No commits yet on main\n?? a.txt\n"})",
               0);
  json outside = {{"op", "git_worktree_add"},
                  {"workspace_root", root_},
                  {"worktree_path", "elsewhere"},
                  {"branch", "b"}};
  expectAnswer(runRunner({}, outside.dump()), refusal("worktree_not_in_isolation_area"), 1);
}

}  // namespace
