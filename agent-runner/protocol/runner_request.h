// The one request record of the agent runner, as decoded from its JSON form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

/// Every field but `op` is optional; an absent key and JSON null both leave it
/// empty. Field names follow the JSON keys.
struct RunnerRequest {
  std::string op;
  std::optional<std::string> workspace_root;
  std::optional<std::vector<std::string>> extra_roots;
  std::optional<std::string> path;
  std::optional<std::vector<std::string>> paths;
  std::optional<std::string> content;
  std::optional<std::string> diff;
  std::optional<bool> dry_run;
  std::optional<std::string> message;
  std::optional<std::string> command;
  std::optional<double> timeout;
  std::optional<bool> allow_network;
  std::optional<std::string> name;
  std::optional<std::string> branch;
  std::optional<std::string> remote;
  std::optional<bool> set_upstream;
  std::optional<bool> worktree;
  std::optional<bool> staged;
  std::optional<std::string> scope;
  std::optional<std::string> base_branch;
  std::optional<std::int64_t> count;
  std::optional<std::string> worktree_path;
  std::optional<bool> prune;
  std::optional<bool> no_ff;
};

}  // namespace vorn
