// The client's roots: reading a `roots/list` answer and turning file: URIs
// into paths.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/mcp/tool.h"

namespace vorn::mcp {

/// The absolute path a `file:` URI names ("file:///a%20b", or with the host
/// "localhost"), percent-decoded; nothing for another scheme or host, a
/// relative path, a bad escape, or an encoded NUL byte.
std::optional<std::string> filePathFromUri(std::string_view uri);

/// The roots of a `roots/list` result (`{"roots": [{"uri": ..., "name": ...}]}`);
/// nothing when it is not of that shape.
std::optional<std::vector<Root>> readRoots(const nlohmann::json& result);

}  // namespace vorn::mcp
