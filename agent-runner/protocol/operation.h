// What one entry of the runner's operation table holds: the operation's
// shape (name, description, request and answer fields), the checks the
// dispatch runs before it (required fields and prerequisites, in order), and
// the function that parses its typed request, runs it and answers.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "agent-runner/protocol/runner_request.h"
#include "agent-runner/protocol/runner_response.h"
#include "common/schema/field.h"

namespace VornAgentRunnerMain {

/// What the dispatch establishes before an operation runs.
enum class Prerequisite {
  kNone,
  /// `workspace_root` is set and inside a git repository (repositoryPreamble).
  kRepository,
};

/// How a required field is read from the wire record.
enum class Rule {
  kNotBlank,   ///< the first of the fields that is present is a text that is not blank
  kPresent,    ///< one of the fields is present (a list: not empty), the first such counts
  kAnyUsable,  ///< one of the fields is a text that is not blank or a list that is not empty
};

/// One step before an operation runs: a prerequisite, or a required field
/// (with the names that may stand in for it, in order) and the refusal
/// answered without it.
struct Check {
  Prerequisite prerequisite = Prerequisite::kNone;
  std::array<std::string_view, 3> fields = {};
  Rule rule = Rule::kNotBlank;
  std::string_view refusal = {};
};

inline constexpr Check kNeedsRepository{.prerequisite = Prerequisite::kRepository};

/// What the checks found, for the typed request.
struct Prepared {
  std::string repository;  // the resolved workspace root (kRepository)
};

/// Takes the typed request out of `request`, runs the operation and
/// answers. Called once the checks have passed.
using Serve = vorn::RunnerResponse (*)(vorn::RunnerRequest& request, const Prepared& prepared);

struct Operation {
  vorn::schema::OperationShape shape;
  std::span<const Check> checks;
  Serve serve;
  /// Runs the shell or git: held to the sandbox when it is on.
  bool startsPrograms = false;
};

inline constexpr bool kStartsPrograms = true;

}  // namespace VornAgentRunnerMain
