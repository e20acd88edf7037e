#include "tests/support/listeners.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

namespace vorn::testing {
namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

UniqueFd boundIp(int type, int& port) {
  UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      (type == SOCK_STREAM && ::listen(fd.get(), 16) != 0)) {
    ADD_FAILURE() << "cannot listen on loopback: " << std::strerror(errno);
  }
  port = ntohs(address.sin_port);
  return fd;
}

UniqueFd listeningUnix(const std::string& name, bool abstract) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a NUL
  std::memcpy(address.sun_path + offset, name.data(),
              std::min(name.size(), sizeof address.sun_path - offset - 1));
  auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + name.size());
  if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd.get(), 16) != 0) {
    ADD_FAILURE() << "cannot listen on " << name << ": " << std::strerror(errno);
  }
  return fd;
}

}  // namespace

Listener Listener::tcp() {
  int port = 0;
  UniqueFd fd = boundIp(SOCK_STREAM, port);
  return Listener(std::move(fd), false, port);
}

Listener Listener::udp() {
  int port = 0;
  UniqueFd fd = boundIp(SOCK_DGRAM, port);
  return Listener(std::move(fd), true, port);
}

Listener Listener::unixPath(const std::string& path) {
  return Listener(listeningUnix(path, false), false, 0);
}

Listener Listener::unixAbstract(const std::string& name) {
  return Listener(listeningUnix(name, true), false, 0);
}

int Listener::arrivals() {
  int count = 0;
  char buffer[512];
  for (;;) {
    if (datagrams_) {
      if (::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT) < 0) return count;
    } else {
      UniqueFd accepted(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!accepted.valid()) return count;
    }
    ++count;
  }
}

HttpResponder::HttpResponder(std::string body) {
  fd_ = boundIp(SOCK_STREAM, port_);
  std::string response = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\nConnection: close\r\n\r\n" + body;
  thread_ = std::thread([this, response] {
    while (!stop_) {
      pollfd ready{fd_.get(), POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      UniqueFd client(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!client.valid()) continue;
      char request[4096];
      (void)::recv(client.get(), request, sizeof request, 0);
      (void)::send(client.get(), response.data(), response.size(), MSG_NOSIGNAL);
    }
  });
}

HttpResponder::~HttpResponder() {
  stop_ = true;
  thread_.join();
}

}  // namespace vorn::testing
