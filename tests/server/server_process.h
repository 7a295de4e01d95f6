// SPDX-License-Identifier: GPL-3.0-or-later
// Programs a test runs as processes of their own, on free ports of
// 127.0.0.1: the built ordika-server and a haproxy in front of several of
// them. Each is killed when its object goes, or by the kernel when the
// test program dies.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "pg_cluster.h"
#include "sync/requests.h"

// A port the kernel had free a moment ago (another process may take it
// before it is bound: callers retry).
inline int free_port() {
  int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(probe);
  return ntohs(a.sin_port);
}

inline bool port_answers(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { kill_now(); }

  // Starts argv on a free port (argv_for builds it for a port) and waits
  // until `up` says it serves (a lost race for the port is retried). False
  // when it never came up.
  bool start(const std::function<std::vector<std::string>(int port)>& argv_for, const std::function<bool(int)>& up,
             const std::string& log = "/dev/null") {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = free_port();
      pid_ = spawn_child(argv_for(port_), log, SIGKILL);
      if (pid_ < 0) return false;
      for (int i = 0; i < 500; ++i) {
        if (!alive()) break;
        if (up(port_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      kill_now();
    }
    return false;
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

  bool alive() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      status_ = status;
      return false;
    }
    return true;
  }
  // SIGKILL, as a crash of the machine's process would be.
  void kill_now() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
    pid_ = -1;
  }
  // Sends sig and waits at most `seconds`: true when it ended in time (its
  // wait status in *status); killed otherwise.
  bool end(int sig, double seconds, int* status) {
    if (pid_ <= 0) return false;
    ::kill(pid_, sig);
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
      if (!alive()) {
        *status = status_;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill_now();
    *status = status_;
    return false;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = 0;
};

inline std::string server_binary() { return std::string(ORDIKA_BINARY_DIR) + "/server/ordika-server"; }

// `ordika-server serve` on data_dir (and the database when given), up once
// `probe` can list its repositories.
inline bool start_server_process(ChildProcess* p, const std::string& data_dir, const std::string& database,
                                 ServerLogin probe, const std::vector<std::string>& extra = {}) {
  return p->start(
      [&](int port) {
        std::vector<std::string> argv = {server_binary(), "serve", "--listen", "127.0.0.1:" + std::to_string(port),
                                         "--data", data_dir};
        if (!database.empty()) {
          argv.push_back("--database");
          argv.push_back(database);
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
      },
      [&](int port) {
        probe.host = "127.0.0.1:" + std::to_string(port);
        std::vector<std::string> none;
        return server_list_repos(probe, &none) == 0;
      });
}

// haproxy balancing TCP over the servers' ports, each checked every 200 ms
// and taken out after two failed checks; a connection refused by a server
// is tried again on another. It reaches the servers from 127.0.0.9 and
// tells them each client's address in a PROXY line.
constexpr const char* kBalancerAddress = "127.0.0.9";
inline bool start_haproxy(ChildProcess* p, const std::string& dir, const std::vector<int>& servers) {
  return p->start(
      [&](int port) {
        std::string cfg = dir + "/haproxy.cfg";
        std::ofstream f(cfg);
        f << "global\n  maxconn 2000\n"
             "defaults\n  mode tcp\n  timeout connect 2s\n  timeout client 60s\n  timeout server 60s\n"
             "  retries 3\n  option redispatch\n"
             "frontend ordika\n  bind 127.0.0.1:"
          << port << "\n  default_backend servers\nbackend servers\n  balance roundrobin\n  source "
          << kBalancerAddress << "\n";
        for (size_t i = 0; i < servers.size(); ++i)
          f << "  server s" << i << " 127.0.0.1:" << servers[i] << " send-proxy check inter 200ms fall 2 rise 1\n";
        f.close();
        return std::vector<std::string>{"/usr/sbin/haproxy", "-f", cfg, "-db"};
      },
      port_answers, dir + "/haproxy.log");
}
