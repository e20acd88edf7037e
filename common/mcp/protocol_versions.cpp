#include "common/mcp/protocol_versions.h"

#include <algorithm>

namespace vorn::mcp {
namespace {

// Revisions are dates written YYYY-MM-DD, so text order is time order.
constexpr std::string_view kFirstStatelessVersion = "2026-07-28";

}  // namespace

bool isSupportedVersion(std::string_view version) {
  return std::ranges::find(kSupportedVersions, version) != kSupportedVersions.end();
}

bool isStatelessVersion(std::string_view version) { return version >= kFirstStatelessVersion; }

std::string_view negotiateHandshakeVersion(std::string_view requested) {
  auto found = std::ranges::find(kSupportedVersions, requested);
  if (found != kSupportedVersions.end() && !isStatelessVersion(*found)) return *found;
  return kNewestHandshakeVersion;
}

bool hasStructuredContent(std::string_view version) { return version >= "2025-06-18"; }

bool hasToolAnnotations(std::string_view version) { return version >= "2025-03-26"; }

}  // namespace vorn::mcp
