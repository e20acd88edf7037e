#include <csignal>
#include <string_view>
#include <vector>

#include "computer-use/platform/system_platform.h"
#include "computer-use/protocol/entry.h"

int main(int argc, char** argv) {
  // A caller that stops reading must not kill the helper mid-answer.
  std::signal(SIGPIPE, SIG_IGN);
  // The whole command line: the helper's mode arguments are looked for among
  // all of it, the program path included.
  std::vector<std::string_view> arguments(argv, argv + argc);
  return ComputerUseHelperMain::main(arguments, vorn::platform::systemPlatform());
}
