// An operation that did not do what it was asked, in the words its answer
// gives: refused before acting, or failed on the way.
#pragma once

#include <string>
#include <variant>

namespace vorn {

/// Why ("path_outside_workspace", "invalid_branch", "write_failed: <why>").
struct Refusal {
  std::string text;
};

/// A value, or the refusal that took its place.
template <class T>
using OrRefusal = std::variant<T, Refusal>;

/// A refusal with a kind and its words apart, as the computer-use helper
/// answers them ("invalid_arguments", "pid is required").
struct Failure {
  std::string error;
  std::string message;
};

/// A value, or the failure that took its place.
template <class T>
using OrFailure = std::variant<T, Failure>;

}  // namespace vorn
