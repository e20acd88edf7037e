// Sockets a test listens on, to tell whether a confined program reached
// them: what arrived is counted afterwards, without blocking.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "common/unique_fd.h"

namespace vorn::testing {

class Listener {
 public:
  /// A TCP or UDP socket on 127.0.0.1 at a free port.
  static Listener tcp();
  static Listener udp();
  /// A unix stream socket at `path`, or in the abstract namespace as `name`.
  static Listener unixPath(const std::string& path);
  static Listener unixAbstract(const std::string& name);

  int port() const { return port_; }
  /// Connections (or datagrams) that arrived since the last call.
  int arrivals();

 private:
  Listener(UniqueFd fd, bool datagrams, int port)
      : fd_(std::move(fd)), datagrams_(datagrams), port_(port) {}
  UniqueFd fd_;
  bool datagrams_;
  int port_;
};

/// An HTTP server on 127.0.0.1 that answers every request with `body`, on a
/// thread of its own until it goes.
class HttpResponder {
 public:
  explicit HttpResponder(std::string body);
  ~HttpResponder();
  HttpResponder(const HttpResponder&) = delete;
  HttpResponder& operator=(const HttpResponder&) = delete;
  int port() const { return port_; }

 private:
  UniqueFd fd_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vorn::testing
