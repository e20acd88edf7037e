// The diff reader must take any text: the collected paths are sorted and
// unique, each is the rest of a "+++ " line, and unquoting never reads past
// the input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent-runner/git/diff_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto paths = VornAgentRunnerMain::collectAffectedPaths(input);
  if (!std::is_sorted(paths.begin(), paths.end())) std::abort();
  if (std::adjacent_find(paths.begin(), paths.end()) != paths.end()) std::abort();
  for (const auto& path : paths) {
    if (path.find('\n') != std::string::npos) std::abort();
    if (input.find(path) == std::string_view::npos) std::abort();
    (void)VornAgentRunnerMain::unquoteDiffPath(path);
  }
  (void)VornAgentRunnerMain::unquoteDiffPath(input);
  (void)VornAgentRunnerMain::skippedPatchNames(input);
  return 0;
}
