// The protocol revisions this server speaks. Revisions up to 2025-11-25 open
// with an `initialize` handshake that fixes one revision for the connection;
// 2026-07-28 and later name their revision in every request's `_meta`.
#pragma once

#include <array>
#include <string_view>

namespace vorn::mcp {

/// Every revision served, newest first.
inline constexpr std::array<std::string_view, 5> kSupportedVersions = {
    "2026-07-28", "2025-11-25", "2025-06-18", "2025-03-26", "2024-11-05"};

/// The newest revision an `initialize` handshake can agree on.
inline constexpr std::string_view kNewestHandshakeVersion = "2025-11-25";

/// Whether `version` is one of `kSupportedVersions`.
bool isSupportedVersion(std::string_view version);

/// Whether `version` is of the stateless kind (per-request `_meta`).
bool isStatelessVersion(std::string_view version);

/// The revision to answer an `initialize` that asks for `requested`: the same
/// one when it is a supported handshake revision, else the newest of those.
std::string_view negotiateHandshakeVersion(std::string_view requested);

/// Whether results of `version` carry `structuredContent` (from 2025-06-18).
bool hasStructuredContent(std::string_view version);

/// Whether tools of `version` carry annotations (from 2025-03-26).
bool hasToolAnnotations(std::string_view version);

}  // namespace vorn::mcp
