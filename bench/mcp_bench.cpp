// Drives a protocol server over its standard streams and times it: calls of
// a tool (a worker thread runs each) beside the protocol's own `ping`
// (answered on the reading thread), both pipelined (many in flight) and one
// at a time. With --shell N (for the runner) it then times a shell `true`
// answered through the session beside the one-shot runner process answering
// the same request, alternating, N of each.
// Usage: vorn_mcp_bench [--shell N] SERVER [CALLS] [-- SERVER_ARGUMENTS...]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/line_reader.h"
#include "common/process_io.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Server {
  pid_t pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
};

Server start(const std::vector<char*>& argv) {
  int toServer[2], fromServer[2];
  if (::pipe(toServer) != 0 || ::pipe(fromServer) != 0) std::exit(1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toServer[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromServer[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, toServer[1]);
  posix_spawn_file_actions_addclose(&actions, fromServer[0]);
  Server server;
  if (posix_spawn(&server.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(toServer[0]);
  ::close(fromServer[1]);
  server.in = toServer[1];
  server.out = fromServer[0];
  return server;
}

std::string request(int id, bool tool) {
  std::string head = R"({"jsonrpc":"2.0","id":)" + std::to_string(id);
  if (!tool) return head + R"(,"method":"ping"})" + "\n";
  return head + R"(,"method":"tools/call","params":{"name":"ping","arguments":{}}})" + "\n";
}

constexpr char kShellArguments[] = R"({"command":"true"})";
constexpr char kShellRequest[] = R"({"op":"shell","command":"true"})";

// Seconds for `calls` shell calls through the session, one at a time.
double shellThroughSession(Server& server, vorn::LineReader& reader, int calls) {
  auto begun = Clock::now();
  for (int i = 0; i < calls; ++i) {
    vorn::writeAll(server.in,
                   R"({"jsonrpc":"2.0","id":)" + std::to_string(i) +
                       R"(,"method":"tools/call","params":{"name":"shell","arguments":)" +
                       kShellArguments + "}}\n");
    if (!reader.next()) std::exit(1);
  }
  return std::chrono::duration<double>(Clock::now() - begun).count();
}

// Seconds for `calls` one-shot runs of `program` answering the same request.
double shellOneShot(const char* program, int calls) {
  auto begun = Clock::now();
  for (int i = 0; i < calls; ++i) {
    int out[2];
    if (::pipe(out) != 0) std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(program), const_cast<char*>("--json"),
                    const_cast<char*>(kShellRequest), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) std::exit(1);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (vorn::readAll(out[0], 1 << 20).bytes.find(R"("ok":true)") == std::string::npos) {
      std::exit(1);
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  return std::chrono::duration<double>(Clock::now() - begun).count();
}

void compareShell(Server& server, vorn::LineReader& reader, const char* program, int calls) {
  constexpr int kRounds = 5;
  double session = 0, oneShot = 0;
  for (int round = 0; round < kRounds; ++round) {
    session += shellThroughSession(server, reader, calls / kRounds);
    oneShot += shellOneShot(program, calls / kRounds);
  }
  int n = calls / kRounds * kRounds;
  std::printf("%-34s %12.0f %12.2f\n", "shell true through the session", n / session,
              session / n * 1e6);
  std::printf("%-34s %12.0f %12.2f\n", "shell true, one-shot process", n / oneShot,
              oneShot / n * 1e6);
  std::printf("%-34s %12.2f\n", "  ratio session : one-shot", session / oneShot);
}

// Seconds for `calls` requests, all written by one thread while this one
// reads, or one at a time.
double run(Server& server, vorn::LineReader& reader, int calls, bool tool, bool pipelined) {
  auto begun = Clock::now();
  if (pipelined) {
    std::thread writer([&] {
      std::string batch;
      for (int i = 0; i < calls; ++i) {
        batch += request(i, tool);
        if (batch.size() > 60000 || i + 1 == calls) {
          vorn::writeAll(server.in, batch);
          batch.clear();
        }
      }
    });
    for (int i = 0; i < calls; ++i) {
      if (!reader.next()) std::exit(1);
    }
    writer.join();
  } else {
    for (int i = 0; i < calls; ++i) {
      vorn::writeAll(server.in, request(i, tool));
      if (!reader.next()) std::exit(1);
    }
  }
  return std::chrono::duration<double>(Clock::now() - begun).count();
}

}  // namespace

int main(int argc, char** argv) {
  int shellCalls = 0;
  int first = 1;
  if (argc > 2 && std::string(argv[1]) == "--shell") {
    shellCalls = std::atoi(argv[2]);
    first = 3;
  }
  if (argc <= first) {
    std::fprintf(stderr, "usage: %s [--shell N] SERVER [CALLS] [-- SERVER_ARGUMENTS...]\n",
                 argv[0]);
    return 2;
  }
  int calls = argc > first + 1 && std::string(argv[first + 1]) != "--" ? std::atoi(argv[first + 1])
                                                                       : 100000;
  std::vector<char*> serverArgv{argv[first]};
  for (int i = first + 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--") {
      serverArgv.insert(serverArgv.end(), argv + i + 1, argv + argc);
      break;
    }
  }
  serverArgv.push_back(nullptr);
  Server server = start(serverArgv);
  vorn::LineReader reader(server.out, 1 << 20);
  vorn::writeAll(
      server.in,
      R"({"jsonrpc":"2.0","id":"init","method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{}}})"
      "\n");
  reader.next();
  run(server, reader, calls / 10, true, true);  // warm up the workers and the allocator
  std::printf("%-34s %12s %12s\n", "", "calls/s", "us/call");
  for (bool pipelined : {true, false}) {
    double seconds[2];
    for (bool tool : {true, false}) {
      int n = pipelined ? calls : calls / 5;
      seconds[tool] = run(server, reader, n, tool, pipelined) / n;
      std::printf("%-34s %12.0f %12.2f\n",
                  (std::string(tool ? "tools/call ping" : "protocol ping") +
                   (pipelined ? ", pipelined" : ", one at a time"))
                      .c_str(),
                  1 / seconds[tool], seconds[tool] * 1e6);
    }
    std::printf("%-34s %12.2f\n", "  ratio tools/call : protocol ping", seconds[1] / seconds[0]);
  }
  if (shellCalls > 0) compareShell(server, reader, argv[first], shellCalls);
  ::close(server.in);
  int status = 0;
  ::waitpid(server.pid, &status, 0);
  return 0;
}
