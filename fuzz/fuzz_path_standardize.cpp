// Standardisation must be idempotent, keep absolute paths absolute, and never
// leave "." or ".." after a root; authorisation over an in-memory view must
// only ever answer a path inside the root.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/path_standardize.h"

namespace {

// A world where every path under /w exists and nothing is a link.
class FakeView final : public vorn::FileSystemView {
 public:
  vorn::PathKind kind(const std::string& path) const override {
    bool there = path == "/" || path == "/w" || path.starts_with("/w/");
    return there ? vorn::PathKind::kPresent : vorn::PathKind::kMissing;
  }
  std::optional<std::string> realPath(const std::string& path) const override {
    return exists(path) ? std::optional<std::string>(path) : std::nullopt;
  }
  std::optional<std::string> homeDirectory(std::string_view user) const override {
    if (user.empty()) return "/home/me";
    return std::nullopt;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string once = vorn::standardizePath(input);
  if (vorn::standardizePath(once) != once) std::abort();
  if (!input.empty() && input[0] == '/' && (once.empty() || once[0] != '/')) std::abort();
  if (once.starts_with("/..") && (once.size() == 3 || once[3] == '/')) std::abort();
  if (once.find("/./") != std::string::npos || once.ends_with("/.")) std::abort();

  FakeView fs;
  auto authorized = VornAgentRunnerMain::authorize(input, "/w", {}, fs);
  if (authorized && *authorized != "/w" && !authorized->starts_with("/w/")) std::abort();
  (void)vorn::expandTilde(input, fs);
  return 0;
}
