// A reader of git's configuration syntax just deep enough to find the
// paths it names; anything it misreads only takes a read away.
#include "agent-runner/git/git_user_config.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "agent-runner/workspace/path_standardize.h"
#include "common/text.h"

namespace VornAgentRunnerMain {
namespace {

constexpr int kIncludeDepth = 3;
constexpr std::size_t kMaxConfigBytes = 256 * 1024;

std::string lower(std::string_view text) { return vorn::text::lowercase(text); }

struct Reader {
  std::string home;
  std::vector<std::string> paths;

  // A path as git reads it from the file `from`: "~/" from HOME, relative
  // ones next to `from` (includes) or left to git (the others).
  std::optional<std::string> placed(std::string value, const std::string& from, bool include) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.starts_with("~/") && !home.empty()) value = home + value.substr(1);
    if (value.starts_with('/')) return vorn::standardizePath(value);
    if (include && !value.empty())
      return vorn::standardizePath(vorn::parentPath(from) + "/" + value);
    return std::nullopt;
  }

  void read(const std::string& file, int depth) {
    paths.push_back(file);
    std::ifstream in(file);
    if (!in || depth > kIncludeDepth) return;
    std::string section, line;
    std::size_t bytes = 0;
    while (std::getline(in, line) && (bytes += line.size()) < kMaxConfigBytes) {
      std::string_view text = vorn::text::trim(line);
      if (text.starts_with('[')) {
        section = lower(text.substr(1, text.find_first_of(" \"]") - 1));
        continue;
      }
      std::size_t equals = text.find('=');
      if (equals == std::string_view::npos) continue;
      std::string key = lower(vorn::text::trim(text.substr(0, equals)));
      std::string value(vorn::text::trim(text.substr(equals + 1)));
      bool include = (section == "include" || section == "includeif") && key == "path";
      bool named = section == "core" &&
                   (key == "excludesfile" || key == "attributesfile" || key == "hookspath");
      if (!include && !named) continue;
      auto path = placed(value, file, include);
      if (!path) continue;
      if (include) {
        read(*path, depth + 1);
      } else {
        paths.push_back(*path);
      }
    }
  }
};

}  // namespace

std::optional<std::string> environmentValue(const std::vector<std::string>& environment,
                                            std::string_view name) {
  for (const auto& entry : environment) {
    if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=') {
      return entry.substr(name.size() + 1);
    }
  }
  return std::nullopt;
}

std::vector<std::string> gitConfigurationPaths(const std::vector<std::string>& environment) {
  Reader reader{environmentValue(environment, "HOME").value_or(""), {}};
  auto system = environmentValue(environment, "GIT_CONFIG_SYSTEM");
  reader.read(system && system->starts_with('/') ? *system : "/etc/gitconfig", 0);
  std::string config = environmentValue(environment, "XDG_CONFIG_HOME").value_or("");
  if (config.empty() && !reader.home.empty()) config = reader.home + "/.config";
  if (auto global = environmentValue(environment, "GIT_CONFIG_GLOBAL");
      global && global->starts_with('/')) {
    reader.read(*global, 0);
  } else {
    if (!reader.home.empty()) reader.read(reader.home + "/.gitconfig", 0);
    if (!config.empty()) reader.read(config + "/git/config", 0);
  }
  // The default excludes and attributes files live there too.
  if (!config.empty()) reader.paths.push_back(config + "/git");
  return reader.paths;
}

}  // namespace VornAgentRunnerMain
