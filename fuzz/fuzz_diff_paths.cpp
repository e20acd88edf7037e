// The diff reader must take any text: both lists sorted and unique (a
// quoted name may hold a line feed), and every path the diff changes among
// the names that are authorised (so nothing it changes escapes
// authorisation); unquoting never reads past the input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent-runner/git/diff_paths.h"

namespace {

void checkSortedUnique(const std::vector<std::string>& items) {
  if (!std::is_sorted(items.begin(), items.end())) std::abort();
  if (std::adjacent_find(items.begin(), items.end()) != items.end()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto [named, affected] = VornAgentRunnerMain::readDiffNames(input);
  checkSortedUnique(named);
  checkSortedUnique(affected);
  for (const auto& path : affected) {
    if (!std::binary_search(named.begin(), named.end(), path)) std::abort();
    (void)VornAgentRunnerMain::unquoteDiffPath(path);
  }
  (void)VornAgentRunnerMain::unquoteDiffPath(input);
  (void)VornAgentRunnerMain::skippedPatchNames(input);
  return 0;
}
