// `vorn-computer-use --mcp`: the helper as a Model Context Protocol server
// on its standard streams.
#pragma once

#include "computer-use/platform/platform.h"

namespace ComputerUseMcp {

/// Serves the protocol on `platform` until standard input ends: 0.
int serveMcp(vorn::platform::Platform& platform);

}  // namespace ComputerUseMcp
