#include "agent-runner/protocol/typed_requests.h"

#include <utility>

#include "agent-runner/protocol/request_fields.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

using vorn::RunnerRequest;
using vorn::schema::Field;

std::string orDefault(std::optional<std::string>& value, const Field& field) {
  return value ? std::move(*value) : std::string(field.fallback.string);
}

bool orDefault(const std::optional<bool>& value, const Field& field) {
  return value.value_or(field.fallback.boolean);
}

double orDefault(const std::optional<double>& value, const Field& field) {
  return value.value_or(field.fallback.number);
}

// The first of two fields that is present, trimmed; "" when neither is.
std::string firstPresentTrimmed(const std::optional<std::string>& first,
                                const std::optional<std::string>& second) {
  const auto& chosen = first ? first : second;
  return chosen ? std::string(vorn::text::trim(*chosen)) : std::string();
}

std::string usableTrimmed(const std::optional<std::string>& value) {
  return value ? std::string(vorn::text::trim(*value)) : std::string();
}

RepositoryRequest repositoryOf(const RunnerRequest& request, const Prepared& prepared,
                               const Field& timeout) {
  return {prepared.repository, orDefault(request.timeout, timeout)};
}

}  // namespace

PingRequest pingRequest(RunnerRequest&, const Prepared&) { return {}; }

WriteFileRequest writeFileRequest(RunnerRequest& request, const Prepared&) {
  return {std::move(request.workspace_root),
          std::move(request.extra_roots).value_or(std::vector<std::string>{}),
          std::move(*request.path), std::move(*request.content)};
}

PathRequest pathRequest(RunnerRequest& request, const Prepared&) {
  return {std::move(request.workspace_root), std::move(*request.path)};
}

ShellRequest shellRequest(RunnerRequest& request, const Prepared&) {
  return {std::move(request.workspace_root), std::move(*request.command),
          orDefault(request.timeout, fields::kShellTimeoutField),
          orDefault(request.allow_network, fields::kAllowNetwork)};
}

ApplyDiffRequest applyDiffRequest(RunnerRequest& request, const Prepared& prepared) {
  return {repositoryOf(request, prepared, fields::kGitTimeout), std::move(*request.diff),
          orDefault(request.dry_run, fields::kDryRun)};
}

PathsRequest pathsRequest(RunnerRequest& request, const Prepared& prepared) {
  std::vector<std::string> paths;
  if (request.paths) {
    paths = std::move(*request.paths);
  } else {
    paths.push_back(std::move(*request.path));
  }
  return {repositoryOf(request, prepared, fields::kGitTimeout), std::move(paths)};
}

CommitRequest commitRequest(RunnerRequest& request, const Prepared& prepared) {
  return {repositoryOf(request, prepared, fields::kGitTimeout), std::move(*request.message)};
}

PushRequest pushRequest(RunnerRequest& request, const Prepared& prepared) {
  return {repositoryOf(request, prepared, fields::kLongGitTimeout),
          orDefault(request.remote, fields::kRemote),
          firstPresentTrimmed(request.branch, request.name),
          orDefault(request.set_upstream, fields::kSetUpstream),
          orDefault(request.allow_network, fields::kAllowNetwork)};
}

BranchRequest branchRequest(RunnerRequest& request, const Prepared& prepared) {
  return {repositoryOf(request, prepared, fields::kGitTimeout),
          firstPresentTrimmed(request.name, request.branch)};
}

RepositoryRequest repositoryRequest(RunnerRequest& request, const Prepared& prepared) {
  return repositoryOf(request, prepared, fields::kGitTimeout);
}

RestoreRequest restoreRequest(RunnerRequest& request, const Prepared& prepared) {
  bool staged = orDefault(request.staged, fields::kRestoreStaged);
  bool worktree = orDefault(request.worktree, fields::kRestoreWorktree);
  return {pathsRequest(request, prepared), staged, worktree};
}

LogRequest logRequest(RunnerRequest& request, const Prepared& prepared) {
  return {repositoryOf(request, prepared, fields::kGitTimeout),
          request.count.value_or(fields::kCount.fallback.integer)};
}

DiffRequest diffRequest(RunnerRequest& request, const Prepared& prepared) {
  return {repositoryOf(request, prepared, fields::kGitTimeout),
          orDefault(request.scope, fields::kScope),
          orDefault(request.base_branch, fields::kBaseBranch), std::move(request.path)};
}

WorktreeAddRequest worktreeAddRequest(RunnerRequest& request, const Prepared& prepared) {
  return {repositoryOf(request, prepared, fields::kLongGitTimeout),
          firstPresentTrimmed(request.worktree_path, request.path),
          firstPresentTrimmed(request.branch, request.name)};
}

WorktreeRemoveRequest worktreeRemoveRequest(RunnerRequest& request, const Prepared& prepared) {
  std::vector<std::string> paths;
  if (request.paths && !request.paths->empty()) {
    paths = std::move(*request.paths);
  } else if (auto one = usableTrimmed(request.worktree_path); !one.empty()) {
    paths.push_back(std::move(one));
  } else {
    paths.push_back(usableTrimmed(request.path));
  }
  return {repositoryOf(request, prepared, fields::kLongGitTimeout), std::move(paths)};
}

DeliverRequest deliverRequest(RunnerRequest& request, const Prepared& prepared) {
  return {repositoryOf(request, prepared, fields::kMergeTimeout),
          firstPresentTrimmed(request.worktree_path, request.path),
          firstPresentTrimmed(request.branch, request.name),
          request.message.value_or(""),
          orDefault(request.no_ff, fields::kNoFastForward),
          orDefault(request.prune, fields::kPrune)};
}

}  // namespace VornAgentRunnerMain
