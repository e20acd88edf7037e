// The helper's operations as protocol tools: one per entry of the operation
// table, under the same name, each call answered with the helper's own
// answer, shaped for a model where it is large: a screenshot brings its
// image, an observation a line per element.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/mcp/tool.h"
#include "computer-use/platform/platform.h"

namespace ComputerUseMcp {

/// The longest edge of a screenshot's image block unless a call asks
/// otherwise (`max_image_edge`; 0: the image as captured).
inline constexpr std::uint32_t kDefaultMaxImageEdge = 1568;

/// Reads an environment variable (`getenv` in the program; tests give
/// their own).
using Environment = std::function<std::optional<std::string>(const char* name)>;

/// Every operation as a tool on `platform`, which must outlive the tools.
/// A call of an operation that needs the display without DISPLAY (or
/// WAYLAND_DISPLAY), or one that needs the accessibility bus without
/// DBUS_SESSION_BUS_ADDRESS, is an error result naming what is missing, as
/// is an accessibility bus that cannot be reached.
std::vector<vorn::mcp::Tool> helperTools(vorn::platform::Platform& platform,
                                         Environment environment);

/// The text block of an observation: one line per element, in reference
/// order: its reference, role, title and value (each cut short) and
/// "disabled" when it takes no input.
std::string observationLines(const nlohmann::json& answer);

/// The PNG for a screenshot's image block: the file at `path`, or, when its
/// longest edge exceeds `maxEdge` (0: no bound), a copy scaled down to fit
/// keeping its proportions. Nothing when the file cannot be read.
std::optional<std::string> imageBlockPng(const std::string& path, std::uint32_t maxEdge);

}  // namespace ComputerUseMcp
