// Each operation decides on the descriptors it acts on: the path is walked
// from a root's descriptor (descriptor_walk.h) and the change is made
// relative to the folder the walk reached, so nothing renamed or swapped
// for a link meanwhile can carry it outside the roots.
#include "agent-runner/workspace/file_operations.h"

#include <limits.h>

#include <cstring>
#include <variant>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/descriptor_walk.h"
#include "agent-runner/workspace/file_mutations.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr const char* kOutside = "path_outside_workspace";

// What the common first steps hand on: the path as the answer names it and
// where the walk reached.
struct Target {
  std::string path;
  vorn::Reached reached;
};

// The common first steps: a path is required; it must name something inside
// the roots, not a ".git" entry, and be one the system can name (PATH_MAX);
// then the walk decides, before anything changes.
std::variant<Target, vorn::RunnerResponse> walkedTarget(const vorn::RunnerRequest& request,
                                                        vorn::RootSet& roots, vorn::LastLink last,
                                                        const char* failurePrefix) {
  auto candidate = roots.candidate(*request.path);
  if (!candidate || vorn::namesGitAdminEntry(*candidate)) return vorn::failure(kOutside);
  if (candidate->size() >= PATH_MAX) {
    return vorn::failure(failurePrefix +
                         vorn::Status::fromErrno(*candidate, ENAMETOOLONG).description());
  }
  auto walk = vorn::walkBeneath(roots, *candidate, last);
  if (std::holds_alternative<vorn::Refused>(walk)) return vorn::failure(kOutside);
  if (auto* failed = std::get_if<vorn::Status>(&walk)) {
    return vorn::failure(failurePrefix + failed->description());
  }
  return Target{std::move(*candidate), std::move(std::get<vorn::Reached>(walk))};
}

bool pathGiven(const vorn::RunnerRequest& request) {
  return request.path && !vorn::text::trim(*request.path).empty();
}

vorn::RunnerResponse failedWith(const char* prefix, const vorn::Reached& at, int err) {
  return vorn::failure(prefix + vorn::Status::fromErrno(at.firstText(), err).description());
}

// Missing folders are made first (and stay, should the write then fail).
vorn::Status writeAt(const vorn::Reached& at, const std::string& content) {
  if (at.tail.size() == 1) {
    return vorn::writeFileAtomicallyAt(at.folder.get(), at.folderText, at.tail.back(), content);
  }
  std::span<const std::string> folders(at.tail.data(), at.tail.size() - 1);
  auto made = vorn::makeDirectoriesAt(at.folder.get(), at.folderText, folders, false);
  if (auto* failed = std::get_if<vorn::Status>(&made)) return *failed;
  std::string folderText = at.folderText;
  for (const auto& name : folders) folderText += (folderText.ends_with('/') ? "" : "/") + name;
  return vorn::writeFileAtomicallyAt(std::get<vorn::UniqueFd>(made).get(), folderText,
                                     at.tail.back(), content);
}

}  // namespace

vorn::RunnerResponse writeFile(const vorn::RunnerRequest& request) {
  if (!pathGiven(request)) return vorn::failure("path is required");
  if (!request.content) return vorn::failure("content is required");
  vorn::RootSet roots(resolveRoot(request.workspace_root),
                      request.extra_roots.value_or(std::vector<std::string>{}));
  auto target = walkedTarget(request, roots, vorn::LastLink::kFollow, "write_failed: ");
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&target)) return *refusal;
  auto& [path, at] = std::get<Target>(target);
  // A link whose missing target lies outside cannot be written through.
  if (at.danglingOutside) return vorn::failure(kOutside);
  if (at.tail.empty() || (at.there && S_ISDIR(at.st.st_mode))) {
    return failedWith("write_failed: ", at, EISDIR);
  }
  if (auto s = writeAt(at, *request.content); !s.ok()) {
    return vorn::failure("write_failed: " + s.description());
  }
  return vorn::success({.path = path,
                        .writtenBytes = static_cast<std::int64_t>(request.content->size()),
                        .affectedPaths = std::vector<std::string>{path}});
}

vorn::RunnerResponse mkdir(const vorn::RunnerRequest& request) {
  if (!pathGiven(request)) return vorn::failure("path is required");
  vorn::RootSet roots(resolveRoot(request.workspace_root), {});
  auto target = walkedTarget(request, roots, vorn::LastLink::kFollow, "mkdir_failed: ");
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&target)) return *refusal;
  auto& [path, at] = std::get<Target>(target);
  if (at.danglingOutside) return failedWith("mkdir_failed: ", at, EEXIST);
  if (at.there && !S_ISDIR(at.st.st_mode)) return failedWith("mkdir_failed: ", at, ENOTDIR);
  if (!at.there && !at.tail.empty()) {
    auto made = vorn::makeDirectoriesAt(at.folder.get(), at.folderText, at.tail, true);
    if (auto* failed = std::get_if<vorn::Status>(&made)) {
      return vorn::failure("mkdir_failed: " + failed->description());
    }
  }
  return vorn::success({.path = path, .affectedPaths = std::vector<std::string>{path}});
}

vorn::RunnerResponse deleteFile(const vorn::RunnerRequest& request) {
  if (!pathGiven(request)) return vorn::failure("path is required");
  vorn::RootSet roots(resolveRoot(request.workspace_root), {});
  auto target = walkedTarget(request, roots, vorn::LastLink::kKeep, "delete_failed: ");
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&target)) return *refusal;
  auto& [path, at] = std::get<Target>(target);
  vorn::Status removed = vorn::Status::success();
  if (at.tail.empty()) {
    // The workspace root itself: named by the caller, not reached through
    // anything inside it.
    removed = vorn::removeItem(path);
  } else if (at.there && at.tail.size() == 1) {
    removed = vorn::removeItemAt(at.folder.get(), at.folderText, at.tail.front());
  }
  if (!removed.ok()) return vorn::failure("delete_failed: " + removed.description());
  return vorn::success(
      {.path = path, .affectedPaths = std::vector<std::string>{path}, .message = "deleted"});
}

}  // namespace VornAgentRunnerMain
