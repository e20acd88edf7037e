// The files git reads for its system and user configuration, so that a run
// confined in reading may still read them: the configuration files
// themselves and what they name (included files, the global excludes and
// attributes files, a hooks folder).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace VornAgentRunnerMain {

/// The value of `name` in `environment` ("NAME=value" entries), if set.
std::optional<std::string> environmentValue(const std::vector<std::string>& environment,
                                            std::string_view name);

/// For a git run with `environment` ("NAME=value" entries): the system
/// configuration (/etc/gitconfig, or GIT_CONFIG_SYSTEM), the user's
/// (GIT_CONFIG_GLOBAL, else ~/.gitconfig and $XDG_CONFIG_HOME/git or
/// ~/.config/git), and the paths their `include.path`,
/// `includeIf.*.path`, `core.excludesFile`, `core.attributesFile` and
/// `core.hooksPath` entries name (includes followed three deep). Paths that
/// do not exist are listed all the same.
std::vector<std::string> gitConfigurationPaths(const std::vector<std::string>& environment);

}  // namespace VornAgentRunnerMain
