// The environment of a sandboxed child: the caller's, without the addresses
// through which a program would find the user's session.
#pragma once

#include <string>
#include <vector>

namespace vorn::sandbox {

/// `environment` ("NAME=value" entries) without the session's addresses
/// (bus, display, agents, the runtime folder, the service manager's
/// sockets) and with TMPDIR, and zsh's TMPPREFIX for here-documents, in
/// `tempFolder`. The sockets stay out of reach without this (seccomp.h);
/// it spares programs trying.
std::vector<std::string> sandboxEnvironment(const std::vector<std::string>& environment,
                                            const std::string& tempFolder);

/// The runner's own environment, as a list.
std::vector<std::string> processEnvironment();

}  // namespace vorn::sandbox
