// A desktop with nothing on it that accepts and drops all input: for fuzzing
// the protocol layer without touching a real display.
#pragma once

#include "computer-use/platform/platform.h"

namespace vorn::platform {

/// No windows, no applications; input is trusted, and every event is made and
/// then dropped; every process is an accessible application without windows;
/// no window is shareable. Stateless and safe from any thread.
Platform& nullPlatform();

}  // namespace vorn::platform
