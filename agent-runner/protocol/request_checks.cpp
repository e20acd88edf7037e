#include "agent-runner/protocol/request_checks.h"

#include <algorithm>
#include <type_traits>
#include <variant>

#include "agent-runner/git/git_rules.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

using vorn::RunnerRequest;

// A wire field as the checks see it.
struct WireField {
  std::string_view name;
  bool (*present)(const RunnerRequest&);
  bool (*usable)(const RunnerRequest&);  // a text not blank, a list not empty, else present
  bool list;
};

template <auto Member>
bool isPresent(const RunnerRequest& request) {
  return (request.*Member).has_value();
}

template <auto Member>
bool isUsable(const RunnerRequest& request) {
  const auto& value = request.*Member;
  using Value = typename std::remove_cvref_t<decltype(value)>::value_type;
  if (!value) return false;
  if constexpr (std::is_same_v<Value, std::string>) return !vorn::text::trim(*value).empty();
  if constexpr (std::is_same_v<Value, std::vector<std::string>>) return !value->empty();
  return true;
}

template <auto Member>
constexpr WireField wire(std::string_view name) {
  using Value = typename std::remove_cvref_t<decltype(RunnerRequest{}.*Member)>::value_type;
  return {name, isPresent<Member>, isUsable<Member>,
          std::is_same_v<Value, std::vector<std::string>>};
}

#define VORN_WIRE(name) wire<&RunnerRequest::name>(#name)
constexpr WireField kWireFields[] = {
    VORN_WIRE(workspace_root), VORN_WIRE(extra_roots),   VORN_WIRE(path),
    VORN_WIRE(paths),          VORN_WIRE(content),       VORN_WIRE(diff),
    VORN_WIRE(dry_run),        VORN_WIRE(message),       VORN_WIRE(command),
    VORN_WIRE(timeout),        VORN_WIRE(allow_network), VORN_WIRE(name),
    VORN_WIRE(branch),         VORN_WIRE(remote),        VORN_WIRE(set_upstream),
    VORN_WIRE(worktree),       VORN_WIRE(staged),        VORN_WIRE(scope),
    VORN_WIRE(base_branch),    VORN_WIRE(count),         VORN_WIRE(worktree_path),
    VORN_WIRE(prune),          VORN_WIRE(no_ff),
};
#undef VORN_WIRE

const WireField* wireField(std::string_view name) {
  for (const auto& field : kWireFields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

bool met(const Check& check, const RunnerRequest& request) {
  for (auto name : check.fields) {
    const WireField* field = name.empty() ? nullptr : wireField(name);
    if (field == nullptr) continue;
    if (check.rule == Rule::kAnyUsable) {
      if (field->usable(request)) return true;
    } else if (field->present(request)) {
      bool textAnyway = check.rule == Rule::kPresent && !field->list;
      return textAnyway || field->usable(request);
    }
  }
  return false;
}

}  // namespace

bool isWireField(std::string_view name) { return wireField(name) != nullptr; }

std::optional<std::string> firstRefusal(std::span<const Check> checks, const RunnerRequest& request,
                                        Prepared& prepared) {
  for (const auto& check : checks) {
    if (check.prerequisite == Prerequisite::kRepository) {
      auto root = repositoryPreamble(request.workspace_root);
      if (auto* refusal = std::get_if<vorn::Refusal>(&root)) return std::move(refusal->text);
      prepared.repository = std::move(std::get<std::string>(root));
    } else if (!met(check, request)) {
      return std::string(check.refusal);
    }
  }
  return std::nullopt;
}

}  // namespace VornAgentRunnerMain
