// Local sockets by path, and who is at their other end.
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>

#include "common/unique_fd.h"

namespace vorn::platform::wayland {

/// A stream socket connected to the Unix socket at `path`; not valid when
/// nothing listens there or the path is too long for a socket address.
UniqueFd connectUnixSocket(const std::string& path);

/// The process and user at the other end of the connected socket `fd`.
std::optional<ucred> peerOf(int fd);

}  // namespace vorn::platform::wayland
