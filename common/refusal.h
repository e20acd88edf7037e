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

}  // namespace vorn
