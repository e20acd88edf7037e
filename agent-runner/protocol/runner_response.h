// The one answer record of the agent runner and the two ways to build it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

/// An answer. `helper` and `pid` are filled by the constructors below; an
/// empty optional is left out of the JSON form entirely.
struct RunnerResponse {
  bool ok = false;
  std::optional<std::string> error;
  std::optional<std::string> path;
  std::optional<std::int64_t> written_bytes;
  std::optional<std::vector<std::string>> affected_paths;
  std::optional<std::string> message;
  std::optional<std::string> stdout_text;
  std::optional<std::string> stderr_text;
  std::optional<std::int32_t> exit_status;
  std::string helper = "vorn-agent-runner";
  std::int32_t pid = 0;
};

/// The optional fields of a successful answer, named as designated
/// initialisers: `success({.path = p, .writtenBytes = n})`.
struct SuccessFields {
  std::optional<std::string> path;
  std::optional<std::int64_t> writtenBytes;
  std::optional<std::vector<std::string>> affectedPaths;
  std::optional<std::string> message;
  std::optional<std::string> stdoutText;
  std::optional<std::string> stderrText;
  std::optional<std::int32_t> exitStatus;
};

/// The optional fields a failure may carry besides its text.
struct FailureFields {
  std::optional<std::string> stdoutText;
  std::optional<std::string> stderrText;
  std::optional<std::int32_t> exitStatus;
  std::optional<std::vector<std::string>> affectedPaths;
};

/// `ok` true with the given fields; `pid` is this process's id.
RunnerResponse success(SuccessFields fields = {});

/// `ok` false, `error` and `message` both `text`, no `path` or
/// `written_bytes`; `pid` is this process's id.
RunnerResponse failure(std::string text, FailureFields fields = {});

}  // namespace vorn
