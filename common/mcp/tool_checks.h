// The rules a tool definition must meet so that every major client takes it:
// clients map schemas onto narrower dialects (single `type`, no references,
// no composition at the top) and drop or refuse what does not fit.
#pragma once

#include <span>

#include "common/mcp/tool.h"
#include "common/status.h"

namespace vorn::mcp {

/// Success, or the first rule `tool` breaks, naming the tool and the place:
/// - the name is 1 to 64 of [a-z_]; the description is not empty;
/// - the input schema is an object schema (`"type": "object"`) without
///   `oneOf`/`anyOf`/`allOf`/`not` at its top; an output schema, when there is
///   one, is an object schema too;
/// - nowhere `$ref`, `$defs`, `definitions`, `$schema`, `$id`, `$anchor`,
///   `$dynamicRef`; no schema written as `true`/`false`; no `type` list;
///   every schema says what it accepts (`type`, `enum`, `const` or a
///   composition); `required` names only listed properties.
Status checkTool(const Tool& tool);

/// `checkTool` for each, and no name twice.
Status checkTools(std::span<const Tool> tools);

}  // namespace vorn::mcp
