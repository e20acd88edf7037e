// What one entry of the helper's operation table holds: the operation's
// shape (name, description, request and answer fields), what it needs of
// the desktop before it runs, and the function that reads its typed
// request, runs it and answers.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "common/refusal.h"
#include "common/schema/field.h"
#include "computer-use/platform/platform.h"
#include "computer-use/protocol/dispatch.h"

namespace ComputerUseHelperMain {

/// What the dispatch establishes after the request is read and before the
/// operation runs.
enum class Prerequisite {
  kNone,
  /// Needs the accessibility bus: a session the helper is trusted on
  /// ("permission_required" otherwise).
  kAccessibility,
};

/// The one-line words a tool list gives a prerequisite.
std::string_view describe(Prerequisite prerequisite);

/// What an operation runs with: the desktop, and what its prerequisite
/// established.
class Context {
 public:
  explicit Context(vorn::platform::Platform& platform) : platform(platform) {}

  /// Establishes `prerequisite`; the failure to answer when it cannot be.
  std::optional<vorn::Failure> establish(Prerequisite prerequisite);

  /// The trusted accessibility session (after kAccessibility).
  vorn::platform::AXSession& session() { return *session_; }

  vorn::platform::Platform& platform;

 private:
  std::unique_ptr<vorn::platform::AXSession> session_;
};

/// Reads the typed request out of `request`, establishes `prerequisite`,
/// runs the operation and answers.
using Serve = Dictionary (*)(const Dictionary& request, Prerequisite prerequisite,
                             Context& context);

struct Operation {
  vorn::schema::OperationShape shape;
  Prerequisite prerequisite;
  Serve serve;
};

}  // namespace ComputerUseHelperMain
