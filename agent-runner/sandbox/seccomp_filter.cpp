// libseccomp writes the program into a descriptor (the 2.5 series has no
// export to memory), so it is written into a memory file and read back.
#include "agent-runner/sandbox/seccomp_filter.h"

#include <fcntl.h>
#include <linux/sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "common/unique_fd.h"

namespace vorn::sandbox {
namespace {

struct ContextRelease {
  void operator()(void* context) const { seccomp_release(context); }
};
using Context = std::unique_ptr<void, ContextRelease>;

constexpr std::uint64_t kNamespaceFlags = CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS |
                                          CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID |
                                          CLONE_NEWNET | CLONE_NEWTIME;
constexpr std::uint64_t kIoctlCommandMask = 0xffffffffU;  // the command is an int

// Refused outright: each would regain rights, or go around the rules below.
constexpr const char* kRefused[] = {
    "setns",     "mount",   "umount2",     "pivot_root", "chroot",      "move_mount",
    "open_tree", "fsopen",  "fsconfig",    "fsmount",    "fspick",      "mount_setattr",
    "keyctl",    "add_key", "request_key", "bpf",        "userfaultfd",
};
// Refused as not implemented, so that programs take their older way.
constexpr const char* kAbsent[] = {"io_uring_setup", "io_uring_enter", "io_uring_register",
                                   "clone3"};

class FilterBuilder {
 public:
  FilterBuilder() : context_(seccomp_init(SCMP_ACT_ALLOW)) {}

  bool valid() const { return context_ != nullptr; }

  // Every rule added is kept even when another fails: the first error wins.
  void refuse(const char* name, std::uint32_t action, std::initializer_list<scmp_arg_cmp> args) {
    int number = seccomp_syscall_resolve_name(name);
    if (number == __NR_SCMP_ERROR) return;  // not a call of this architecture
    int rc = seccomp_rule_add_array(context_.get(), action, number,
                                    static_cast<unsigned>(args.size()), args.begin());
    if (rc != 0 && error_ == 0) error_ = -rc;
  }

  std::variant<SeccompProgram, Status> finish() {
    if (error_ != 0) return Status::fromErrno("seccomp rule", error_);
    UniqueFd file(::memfd_create("vorn-seccomp", MFD_CLOEXEC));
    if (!file.valid()) return Status::fromErrno("memfd_create");
    if (int rc = seccomp_export_bpf(context_.get(), file.get()); rc != 0) {
      return Status::fromErrno("seccomp_export_bpf", -rc);
    }
    struct stat st;
    if (::fstat(file.get(), &st) != 0) return Status::fromErrno("seccomp program");
    SeccompProgram program;
    program.instructions.resize(static_cast<std::size_t>(st.st_size) / sizeof(sock_filter));
    std::size_t bytes = program.instructions.size() * sizeof(sock_filter);
    if (::pread(file.get(), program.instructions.data(), bytes, 0) != static_cast<ssize_t>(bytes)) {
      return Status::fromErrno("seccomp program");
    }
    return program;
  }

 private:
  Context context_;
  int error_ = 0;
};

void refuseSockets(FilterBuilder& filter, bool allowNetwork) {
  const std::uint32_t refused = SCMP_ACT_ERRNO(EACCES);
  if (!allowNetwork) {
    filter.refuse("socket", refused, {});
  } else {
    // Every family but AF_INET (2), AF_INET6 (10) and AF_NETLINK (16).
    filter.refuse("socket", refused, {SCMP_A0(SCMP_CMP_LT, AF_INET)});
    for (int family = AF_INET + 1; family < AF_NETLINK; ++family) {
      if (family != AF_INET6)
        filter.refuse("socket", refused, {SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(family))});
    }
    filter.refuse("socket", refused, {SCMP_A0(SCMP_CMP_GT, AF_NETLINK)});
  }
  // A datagram pair could still send to any named socket: only connected
  // stream and seqpacket pairs.
  filter.refuse("socketpair", refused, {SCMP_A0(SCMP_CMP_NE, AF_UNIX)});
  filter.refuse("socketpair", refused, {SCMP_A1(SCMP_CMP_MASKED_EQ, 0xf, SOCK_DGRAM)});
}

void refuseNamespaces(FilterBuilder& filter) {
  for (std::uint64_t flag = 1; flag != 0; flag <<= 1) {
    if ((kNamespaceFlags & flag) == 0) continue;
    filter.refuse("unshare", SCMP_ACT_ERRNO(EPERM), {SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)});
    filter.refuse("clone", SCMP_ACT_ERRNO(EPERM), {SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)});
  }
}

}  // namespace

std::variant<SeccompProgram, Status> buildSeccompFilter(bool allowNetwork) {
  FilterBuilder filter;
  if (!filter.valid()) return Status::failure("seccomp_init failed");
  refuseSockets(filter, allowNetwork);
  refuseNamespaces(filter);
  for (const char* name : kRefused) filter.refuse(name, SCMP_ACT_ERRNO(EPERM), {});
  for (const char* name : kAbsent) filter.refuse(name, SCMP_ACT_ERRNO(ENOSYS), {});
  for (scmp_datum_t command : {TIOCSTI, TIOCLINUX}) {
    filter.refuse("ioctl", SCMP_ACT_ERRNO(EPERM),
                  {SCMP_A1(SCMP_CMP_MASKED_EQ, kIoctlCommandMask, command)});
  }
  return filter.finish();
}

namespace {

std::variant<const SeccompProgram*, Status> held(
    const std::variant<SeccompProgram, Status>& built) {
  if (const auto* failed = std::get_if<Status>(&built)) return *failed;
  return &std::get<SeccompProgram>(built);
}

}  // namespace

// Each is built on first use only: a one-shot runner needs one of them.
std::variant<const SeccompProgram*, Status> seccompFilter(bool allowNetwork) {
  if (allowNetwork) {
    static const auto withNetwork = buildSeccompFilter(true);
    return held(withNetwork);
  }
  static const auto withoutNetwork = buildSeccompFilter(false);
  return held(withoutNetwork);
}

}  // namespace vorn::sandbox
