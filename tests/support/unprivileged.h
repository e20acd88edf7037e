// Attack tests run where a regression can harm nothing but the test's own
// folder: in a child process that has dropped to the unprivileged user
// "nobody" (when the tests run as root), and that owns only that folder.
#pragma once

#include <functional>
#include <string>

namespace vorn::testing {

/// Hands `folder` (recursively) to nobody, then runs `body` in a child
/// process as nobody, with HOME and git's global configuration inside
/// `folder`. GoogleTest failures inside `body` are printed by the child and
/// fail the calling test. Returns whether the child passed.
bool asUnprivileged(const std::string& folder, const std::function<void()>& body);

}  // namespace vorn::testing
