// The protocol over a process's standard streams: one message per line in
// and out, diagnostics on standard error, until input ends.
#pragma once

#include <unistd.h>
#include <cstddef>
#include <vector>

#include "common/mcp/session.h"
#include "common/mcp/tool.h"

namespace vorn::mcp {

struct StdioOptions {
  int inputFd = STDIN_FILENO;
  int outputFd = STDOUT_FILENO;
  int diagnosticsFd = STDERR_FILENO;
  /// Threads running calls at once; further calls wait for one.
  std::size_t maxWorkers = 16;
  /// A longer line is refused without being kept.
  std::size_t maxLineBytes = std::size_t{64} << 20;
  SessionOptions session;
};

/// Serves `tools` until the input ends, then cancels the calls in flight and
/// returns once every handler has returned: 0, or 1 (with a line on the
/// diagnostics stream) when a tool definition breaks a rule of
/// `checkTools`. On the process's own standard streams it first takes them
/// for the protocol (`takeStandardStreams`): children of tools then read
/// /dev/null and write their standard output to standard error. The caller
/// ignores SIGPIPE: a client that stops reading must not end the process.
int serveStdio(const ServerInfo& server, std::vector<Tool> tools, const StdioOptions& options = {});

}  // namespace vorn::mcp
