// Whether the runner's children run in the sandbox: a setting of the whole
// process, made once by a front end (the `--sandbox` flag) before it
// handles any request, and read by everything that starts a child.
#pragma once

namespace vorn::sandbox {

/// Turns the sandbox on for every child this process starts from now on.
/// There is no turning it off again.
void enable();

/// Whether enable() has been called.
bool enabled();

}  // namespace vorn::sandbox
