#include "computer-use/platform/wayland/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "computer-use/platform/wayland/unix_socket.h"
#include "computer-use/platform/wayland/wayland_display.h"

namespace vorn::platform::wayland::sway {
namespace {

constexpr std::string_view kMagic = "i3-ipc";
constexpr std::size_t kHeaderSize = 14;
constexpr std::uint32_t kMaxReply = 64u << 20;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count() > 60000 ? 60000 : left.count());
}

bool ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, remainingMs(deadline));
    if (n > 0) return (p.revents & events) != 0;
    if (n == 0 || errno != EINTR) return false;
  }
}

bool sendAll(int fd, std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!ready(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool receiveAll(int fd, char* into, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    ssize_t n = ::recv(fd, into, size, MSG_DONTWAIT);
    if (n > 0) {
      into += n;
      size -= static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!ready(fd, POLLIN, deadline)) return false;
    } else {
      return false;  // closed, or failed
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> socketPath() {
  const char* path = std::getenv("SWAYSOCK");
  if (path != nullptr && *path != '\0') return std::string(path);
  // sway names its socket after its user and process, in the folder of its
  // Wayland socket: the peer of that socket tells both.
  auto wayland = wayland::socketPath();
  if (!wayland) return std::nullopt;
  UniqueFd fd = connectUnixSocket(*wayland);
  auto peer = fd.valid() ? peerOf(fd.get()) : std::nullopt;
  if (!peer) return std::nullopt;
  std::string candidate = wayland->substr(0, wayland->rfind('/') + 1) + "sway-ipc." +
                          std::to_string(peer->uid) + "." + std::to_string(peer->pid) + ".sock";
  struct stat st {};
  if (::stat(candidate.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return std::nullopt;
  return candidate;
}

std::optional<Ipc> Ipc::connect(const std::string& path) {
  UniqueFd fd = connectUnixSocket(path);
  if (!fd.valid()) return std::nullopt;
  return Ipc(std::move(fd));
}

std::string header(Message type, std::uint32_t length) {
  std::string bytes(kMagic);
  auto value = static_cast<std::uint32_t>(type);
  bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
  bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  return bytes;
}

std::optional<Header> parseHeader(std::string_view bytes) {
  if (bytes.size() != kHeaderSize || !bytes.starts_with(kMagic)) return std::nullopt;
  Header h{};
  std::memcpy(&h.length, bytes.data() + kMagic.size(), sizeof h.length);
  std::memcpy(&h.type, bytes.data() + kMagic.size() + sizeof h.length, sizeof h.type);
  return h;
}

std::optional<std::string> Ipc::request(Message type, std::string_view payload,
                                        Clock::time_point deadline) {
  if (payload.size() > kMaxReply) return std::nullopt;
  std::string message = header(type, static_cast<std::uint32_t>(payload.size()));
  message.append(payload);
  if (!sendAll(fd_.get(), message, deadline)) return std::nullopt;
  char head[kHeaderSize];
  if (!receiveAll(fd_.get(), head, sizeof head, deadline)) return std::nullopt;
  auto h = parseHeader({head, sizeof head});
  if (!h || h->type != static_cast<std::uint32_t>(type) || h->length > kMaxReply) {
    return std::nullopt;
  }
  std::string reply(h->length, '\0');
  if (!receiveAll(fd_.get(), reply.data(), reply.size(), deadline)) return std::nullopt;
  return reply;
}

}  // namespace vorn::platform::wayland::sway
