// The operations that change files directly: write_file, mkdir, delete_file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/refusal.h"

namespace VornAgentRunnerMain {

/// A file or folder the request names, with the roots it must lie in.
struct PathRequest {
  std::optional<std::string> workspaceRoot;  // unresolved
  std::string path;                          // not blank
};

struct WriteFileRequest {
  std::optional<std::string> workspaceRoot;  // unresolved
  std::vector<std::string> extraRoots;       // further roots the path may lie in
  std::string path;                          // not blank
  std::string content;
};

/// What a file operation did, to the path as the caller named it
/// (standardised, absolute).
struct FileChange {
  enum class Kind { kWritten, kMade, kDeleted };
  Kind kind;
  std::string path;
  std::int64_t writtenBytes = 0;  // kWritten
};

/// Replaces the file at `path` with `content` (creating missing folders),
/// atomically; a symbolic link at `path` is written through to its target,
/// which must be authorised too. Honours `extraRoots`. Refusals:
/// "path_outside_workspace", "write_failed: <why>".
vorn::OrRefusal<FileChange> writeFile(const WriteFileRequest& request);

/// Creates the folder at `path` with its missing parents. Refusals:
/// "path_outside_workspace", "mkdir_failed: <why>".
vorn::OrRefusal<FileChange> mkdir(const PathRequest& request);

/// Removes the file, link or folder tree at `path`; missing is deleted too.
/// Refusals: "path_outside_workspace", "delete_failed: <why>".
vorn::OrRefusal<FileChange> deleteFile(const PathRequest& request);

}  // namespace VornAgentRunnerMain
