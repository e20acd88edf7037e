#include "agent-runner/workspace/file_operations.h"

#include <cstring>
#include <variant>

#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/file_mutations.h"
#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr const char* kOutside = "path_outside_workspace";

struct Target {
  std::string path;       // as authorised: what the answer names
  std::string workspace;  // resolved workspace root
};

// The common first steps: a path is required, and it must be authorised.
std::variant<Target, vorn::RunnerResponse> authorizedTarget(
    const vorn::RunnerRequest& request, const std::vector<std::string>& extraRoots) {
  if (!request.path || vorn::text::trim(*request.path).empty()) {
    return vorn::failure("path is required");
  }
  std::string root = resolveRoot(request.workspace_root);
  auto path = authorize(vorn::text::trim(*request.path), root, extraRoots);
  if (!path) return vorn::failure(kOutside);
  return Target{std::move(*path), std::move(root)};
}

vorn::RunnerResponse writeResolved(const Target& target, const std::string& content,
                                   const std::vector<std::string>& extraRoots) {
  auto destination = vorn::followLinks(target.path);
  if (!destination)
    return vorn::failure("write_failed: " + target.path + ": " + std::strerror(ELOOP));
  if (*destination != target.path) {
    // Writing through a link lands on its target, which must be allowed too.
    destination = authorize(*destination, target.workspace, extraRoots);
    if (!destination) return vorn::failure(kOutside);
  }
  if (auto s = vorn::makeDirectories(vorn::parentPath(*destination)); !s.ok()) {
    return vorn::failure("write_failed: " + s.description());
  }
  if (auto s = vorn::writeFileAtomically(*destination, content); !s.ok()) {
    return vorn::failure("write_failed: " + s.description());
  }
  return vorn::success({.path = target.path,
                        .writtenBytes = static_cast<std::int64_t>(content.size()),
                        .affectedPaths = std::vector<std::string>{target.path}});
}

}  // namespace

vorn::RunnerResponse writeFile(const vorn::RunnerRequest& request) {
  if (!request.path || vorn::text::trim(*request.path).empty()) {
    return vorn::failure("path is required");
  }
  if (!request.content) return vorn::failure("content is required");
  const auto extraRoots = request.extra_roots.value_or(std::vector<std::string>{});
  auto target = authorizedTarget(request, extraRoots);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&target)) return *refusal;
  return writeResolved(std::get<Target>(target), *request.content, extraRoots);
}

vorn::RunnerResponse mkdir(const vorn::RunnerRequest& request) {
  auto target = authorizedTarget(request, {});
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&target)) return *refusal;
  const auto& path = std::get<Target>(target).path;
  if (auto s = vorn::makeDirectories(path); !s.ok()) {
    return vorn::failure("mkdir_failed: " + s.description());
  }
  return vorn::success({.path = path, .affectedPaths = std::vector<std::string>{path}});
}

vorn::RunnerResponse deleteFile(const vorn::RunnerRequest& request) {
  auto target = authorizedTarget(request, {});
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&target)) return *refusal;
  const auto& path = std::get<Target>(target).path;
  if (auto s = vorn::removeItem(path); !s.ok()) {
    return vorn::failure("delete_failed: " + s.description());
  }
  return vorn::success(
      {.path = path, .affectedPaths = std::vector<std::string>{path}, .message = "deleted"});
}

}  // namespace VornAgentRunnerMain
