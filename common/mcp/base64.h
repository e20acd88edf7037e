// Base64 (RFC 4648, with padding), for image blocks.
#pragma once

#include <string>
#include <string_view>

namespace vorn::mcp {

/// `bytes` in base64 with the standard alphabet and "=" padding.
std::string base64Encode(std::string_view bytes);

}  // namespace vorn::mcp
