// Attack tests run where a regression can harm nothing but the test's own
// folder: in a child process that has dropped to the unprivileged user
// "nobody" (when the tests run as root), and that owns only that folder; or,
// for what must hold for root callers too, in a child process that stays
// root but sees every file system read-only except that folder.
#pragma once

#include <functional>
#include <string>

namespace vorn::testing {

/// Hands `folder` (recursively) to nobody, then runs `body` in a child
/// process as nobody, with HOME and git's global configuration inside
/// `folder`. GoogleTest failures inside `body` are printed by the child and
/// fail the calling test. Returns whether the child passed.
bool asUnprivileged(const std::string& folder, const std::function<void()>& body);

/// Runs `body` in a child process as root, in a mount namespace of its own
/// where every mount is read-only but `folder` (and what it holds), with
/// HOME and git's global configuration inside `folder`. Failures as for
/// asUnprivileged. Only for tests that run as root.
bool asRootInPrivateMounts(const std::string& folder, const std::function<void()>& body);

/// Who runs an attack.
enum class Caller { kUnprivileged, kRootInPrivateMounts };

/// asUnprivileged or asRootInPrivateMounts, as `caller` says.
bool asCaller(Caller caller, const std::string& folder, const std::function<void()>& body);

}  // namespace vorn::testing
