// The system calls a sandboxed child may not make, as a seccomp program
// built with libseccomp in the runner and installed by the child just before
// exec (confinement/isolation.h). Everything else is allowed: the filter
// closes the ways around the other layers, it is not the sandbox's only wall.
#pragma once

#include <linux/filter.h>

#include <variant>
#include <vector>

#include "common/status.h"

namespace vorn::sandbox {

/// A finished seccomp program.
struct SeccompProgram {
  std::vector<sock_filter> instructions;
  /// The form the kernel takes; valid while this object lives unchanged.
  sock_fprog view() const {
    return {static_cast<unsigned short>(instructions.size()),
            const_cast<sock_filter*>(instructions.data())};
  }
};

/// The filter for a child with or without network:
/// - sockets: with `allowNetwork`, IPv4, IPv6 and netlink ones; without it,
///   none at all. Named and abstract unix sockets never (the user's bus,
///   display and agents listen on those); socketpair gives connected unix
///   stream and seqpacket pairs, which reach no one else.
/// - io_uring (its operations would go around these rules), new namespaces,
///   setns, mounting and chroot, TIOCSTI and TIOCLINUX (typing into a
///   terminal), the kernel keyrings, bpf and userfaultfd: refused.
/// Calls of another architecture (32-bit ones on a 64-bit machine) kill.
std::variant<SeccompProgram, Status> buildSeccompFilter(bool allowNetwork);

/// The same, built once per process for each choice; never changes after.
std::variant<const SeccompProgram*, Status> seccompFilter(bool allowNetwork);

}  // namespace vorn::sandbox
