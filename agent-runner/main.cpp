#include <csignal>
#include <string_view>
#include <vector>

#include "agent-runner/protocol/entry.h"

int main(int argc, char** argv) {
  // A caller that stops reading must not kill the runner mid-answer; children
  // get the default disposition back when they are spawned.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return VornAgentRunnerMain::main(arguments);
}
