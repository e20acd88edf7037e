// Whatever the validators accept must be safe to hand git as one argument:
// no leading dash, no "..", no blank, valid UTF-8, already trimmed.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent-runner/git/ref_names.h"
#include "common/text.h"

namespace {

void checkAccepted(const std::string& name, std::string_view input) {
  if (name.empty() || name.front() == '-' || name.find("..") != std::string::npos) std::abort();
  if (name.find(' ') != std::string::npos || name.find('\0') != std::string::npos) std::abort();
  if (!vorn::text::isValidUtf8(name) || vorn::text::trim(name) != name) std::abort();
  if (input.find(name) == std::string_view::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (auto branch = VornAgentRunnerMain::validateBranchName(input)) {
    checkAccepted(*branch, input);
    if (branch->front() == '.' || branch->find("//") != std::string::npos) std::abort();
  }
  if (auto remote = VornAgentRunnerMain::validateRemoteName(input)) {
    checkAccepted(*remote, input);
    if (remote->find('/') != std::string::npos) std::abort();
  }
  return 0;
}
