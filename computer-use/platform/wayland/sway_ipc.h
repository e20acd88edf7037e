// sway's IPC: a Unix socket ($SWAYSOCK) that answers JSON messages. It tells
// what no Wayland protocol tells a client: every window's process id,
// rectangle, workspace and focus history, and it focuses windows on request.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/unique_fd.h"

namespace vorn::platform::wayland::sway {

using Clock = std::chrono::steady_clock;

/// The message types used (i3's IPC numbering, which sway keeps).
enum class Message : std::uint32_t {
  kRunCommand = 0,
  kGetTree = 4,
};

/// The socket $SWAYSOCK names; without it, the one sway made beside its
/// Wayland socket ($WAYLAND_DISPLAY) when the compositor there is sway.
/// Nothing when there is neither.
std::optional<std::string> socketPath();

/// One connection to sway. Requests are answered in order; no events are
/// subscribed, so every reply belongs to the request before it.
class Ipc {
 public:
  /// Connects to `path`; nothing when nothing listens there.
  static std::optional<Ipc> connect(const std::string& path);

  /// Sends one message and returns its reply's payload; nothing when sway did
  /// not answer in full by `deadline`, answered another type, or the reply is
  /// beyond 64 MiB.
  std::optional<std::string> request(Message type, std::string_view payload,
                                     Clock::time_point deadline);

 private:
  explicit Ipc(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

/// The 14 bytes that open every message: "i3-ipc", the payload's length and
/// the type, in the machine's byte order.
std::string header(Message type, std::uint32_t length);

/// The payload length and type a reply's 14 header bytes announce; nothing
/// when `bytes` is no header.
struct Header {
  std::uint32_t length;
  std::uint32_t type;
};
std::optional<Header> parseHeader(std::string_view bytes);

}  // namespace vorn::platform::wayland::sway
