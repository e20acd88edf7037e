// The scratch file lives in the workspace root so git reads it from the
// same file system; it is named so that a leftover is recognisable and
// removed by a guard on every path that created it. It is made and removed
// through the root's descriptor, like every file the runner itself writes.
#include "agent-runner/git/diff_apply.h"

#include <fcntl.h>
#include <unistd.h>

#include "agent-runner/git/diff_paths.h"
#include "agent-runner/git/git_invocation.h"
#include "agent-runner/git/git_rules.h"
#include "agent-runner/workspace/authorize.h"
#include "agent-runner/workspace/file_mutations.h"
#include "agent-runner/workspace/root_set.h"
#include "common/text.h"
#include "common/uuid.h"

namespace VornAgentRunnerMain {
namespace {

class ScratchFile {
 public:
  ScratchFile(const std::string& root, int rootFd)
      : root_(root),
        folder_(rootFd >= 0 ? ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0) : -1),
        name_(".vorn-agent-runner-" + vorn::newUuid() + ".diff") {}
  ~ScratchFile() {
    if (folder_.valid()) ::unlinkat(folder_.get(), name_.c_str(), 0);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  vorn::Status write(std::string_view text) {
    if (!folder_.valid()) return vorn::Status::fromErrno(path(), EBADF);
    return vorn::writeFileAtomicallyAt(folder_.get(), root_, name_, text,
                                       vorn::Durability::kTransient);
  }
  std::string path() const { return root_ + "/" + name_; }

 private:
  std::string root_;
  vorn::UniqueFd folder_;
  std::string name_;
};

// Every name, in each form git may read it (diff_paths.h).
bool everyPathAuthorized(const std::vector<std::string>& names, const std::string& root) {
  PathAuthorizer authorizer(root, {});
  for (const auto& name : names) {
    if (!authorizer.authorize(name)) return false;
  }
  return true;
}

std::vector<std::string> applyArguments(bool dryRun, const std::string& file) {
  std::vector<std::string> args{"apply"};
  if (dryRun) args.emplace_back("--check");
  args.push_back(file);
  return args;
}

// Run from below the repository's top, git apply leaves out the patches for
// paths elsewhere and still succeeds. Its verbose check names them.
std::vector<std::string> pathsGitWouldSkip(const std::string& root, const std::string& file,
                                           double timeout) {
  if (isWorkingTreeTop(root)) return {};
  // The untranslated wording is the one parsed.
  auto probe = runGit({"apply", "--check", "-v", file}, root, timeout, {"LC_ALL=C"});
  return skippedPatchNames(probe.stderr_text.value_or(""));
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string text;
  for (const auto& item : items) {
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

vorn::RunnerResponse answerFor(const vorn::RunnerResponse& run, bool dryRun,
                               std::vector<std::string> affected) {
  if (!run.ok) {
    std::string text =
        firstNonEmptyOutput({&run.stderr_text, &run.stdout_text, &run.error}, "git apply failed");
    return gitFailure(run, std::move(text), std::move(affected));
  }
  std::string message = dryRun ? "Diff is valid" : "Diff applied";
  std::string detail = firstNonEmptyOutput({&run.stderr_text, &run.stdout_text}, "");
  if (!detail.empty()) message += ": " + detail;
  return gitSuccess(run, std::move(message), std::move(affected));
}

}  // namespace

vorn::RunnerResponse applyDiff(const vorn::RunnerRequest& request) {
  if (!request.diff || vorn::text::trim(*request.diff).empty()) {
    return vorn::failure("diff is required");
  }
  // One copy, with room for the final line feed git needs: adding it must not
  // copy a diff of many megabytes a second time.
  std::string text;
  text.reserve(request.diff->size() + 1);
  text = *request.diff;
  if (!text.ends_with('\n')) text += '\n';
  auto preamble = repositoryPreamble(request);
  if (auto* refusal = std::get_if<vorn::RunnerResponse>(&preamble)) return *refusal;
  const auto& root = std::get<std::string>(preamble);

  auto [named, affected] = readDiffNames(text);
  if (!everyPathAuthorized(named, root)) {
    return vorn::failure("path_outside_workspace", {.affectedPaths = affected});
  }
  vorn::RootSet roots(root, {});
  ScratchFile scratch(root, roots.fd(0));
  if (auto s = scratch.write(text); !s.ok()) {
    return vorn::failure("diff_temp_write_failed: " + s.description());
  }
  double timeout = standardGitTimeout(request);
  if (auto skipped = pathsGitWouldSkip(root, scratch.path(), timeout); !skipped.empty()) {
    return vorn::failure("skipped_outside_workspace_root: " + joined(skipped, ", "),
                         {.affectedPaths = std::move(affected)});
  }
  bool dryRun = request.dry_run.value_or(false);
  auto run = runGit(applyArguments(dryRun, scratch.path()), root, timeout);
  return answerFor(run, dryRun, std::move(affected));
}

}  // namespace VornAgentRunnerMain
