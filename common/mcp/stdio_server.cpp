#include "common/mcp/stdio_server.h"

#include <optional>
#include <string>
#include <thread>

#include "common/line_reader.h"
#include "common/mcp/line_writer.h"
#include "common/mcp/standard_streams.h"
#include "common/mcp/tool_checks.h"
#include "common/process_io.h"
#include "common/worker_pool.h"

namespace vorn::mcp {
namespace {

Diagnose diagnosticsTo(int fd, std::string prefix) {
  return [fd, prefix = std::move(prefix)](std::string_view text) {
    writeAll(fd, prefix + ": " + std::string(text) + "\n");
  };
}

void readUntilEnd(Session& session, int input, const StdioOptions& options) {
  LineReader reader(input, options.maxLineBytes);
  while (auto line = reader.next()) {
    if (line->oversized) {
      session.handleOversizedLine(options.maxLineBytes);
    } else {
      session.handleLine(line->text);
    }
  }
}

}  // namespace

int serveStdio(const ServerInfo& server, std::vector<Tool> tools, const StdioOptions& options) {
  Diagnose diagnose = diagnosticsTo(options.diagnosticsFd, server.name);
  if (auto status = checkTools(tools); !status.ok()) {
    diagnose(status.description());
    return 1;
  }
  int input = options.inputFd, output = options.outputFd;
  std::optional<ProtocolStreams> own;
  if (input == STDIN_FILENO && output == STDOUT_FILENO) own = takeStandardStreams();
  if (own) {
    input = own->input.get();
    output = own->output.get();
  }
  LineWriter writer(output);
  std::optional<WorkerPool> workers;
  Session session(
      server, std::move(tools), writer, [&workers](auto job) { workers->submit(std::move(job)); },
      diagnose, options.session);
  workers.emplace(options.maxWorkers);
  {
    std::jthread progressClock(
        [&session](std::stop_token stop) { session.calls().runProgressClock(stop); });
    readUntilEnd(session, input, options);
    session.endOfInput();
    workers.reset();  // every handler has returned
  }
  return 0;
}

}  // namespace vorn::mcp
