// SPDX-License-Identifier: GPL-3.0-or-later
// A loopback peer for connection tests: listens on 127.0.0.1, accepts one
// client on a thread and runs a script on the accepted socket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "common/test_support.h"
#include "crypto/crypto.h"
#include "sync/conn.h"

class LoopbackPeer {
 public:
  explicit LoopbackPeer(std::function<void(int fd)> script) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_fd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, script] {
      int fd = ::accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) return;
      timeval tv{10, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      script(fd);
      ::close(fd);
    });
  }
  ~LoopbackPeer() {
    thread_.join();
    ::close(listen_fd_);
  }
  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// Server side of a handshake through conn_accept with one known account.
inline int peer_accept(Connection* c, int fd, uint32_t id, const std::string& user, const uint8_t hash[32],
                       bool* anonymous) {
  uint32_t got_id = 0;
  std::string got_user;
  auto lookup = [&](uint32_t i, const std::string& u, uint8_t out[32]) {
    if (i != id || u != user) return -1;
    for (int k = 0; k < 32; ++k) out[k] = hash[k];
    return 0;
  };
  int dup = ::dup(fd);  // the connection closes its own descriptor
  return conn_accept(c, dup, lookup, anonymous, &got_id, &got_user);
}

