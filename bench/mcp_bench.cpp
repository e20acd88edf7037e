// Drives a protocol server over its standard streams and times it: calls of
// a tool (a worker thread runs each) beside the protocol's own `ping`
// (answered on the reading thread), both pipelined (many in flight) and one
// at a time. Usage: vorn_mcp_bench SERVER [CALLS]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

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

Server start(const char* path) {
  int toServer[2], fromServer[2];
  if (::pipe(toServer) != 0 || ::pipe(fromServer) != 0) std::exit(1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toServer[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromServer[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, toServer[1]);
  posix_spawn_file_actions_addclose(&actions, fromServer[0]);
  char* argv[] = {const_cast<char*>(path), nullptr};
  Server server;
  if (posix_spawn(&server.pid, path, &actions, nullptr, argv, environ) != 0) std::exit(1);
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
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SERVER [CALLS]\n", argv[0]);
    return 2;
  }
  int calls = argc > 2 ? std::atoi(argv[2]) : 100000;
  Server server = start(argv[1]);
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
  ::close(server.in);
  int status = 0;
  ::waitpid(server.pid, &status, 0);
  return 0;
}
