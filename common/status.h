// The outcome of an operation that produces nothing but may fail.
#pragma once

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vorn {

/// Success, or a failure with the system's words for it.
class [[nodiscard]] Status {
 public:
  static Status success() { return Status(); }
  static Status failure(std::string description) { return Status(std::move(description)); }
  /// "<context>: <strerror(err)>", or just the error text when `context` is empty.
  static Status fromErrno(std::string_view context, int err = errno) {
    std::string text(context);
    if (!text.empty()) text += ": ";
    return failure(text + std::strerror(err));
  }

  bool ok() const { return !error_; }
  const std::string& description() const { return *error_; }

 private:
  Status() = default;
  explicit Status(std::string description) : error_(std::move(description)) {}
  std::optional<std::string> error_;
};

}  // namespace vorn
