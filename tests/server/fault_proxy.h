// SPDX-License-Identifier: GPL-3.0-or-later
// A TCP relay on 127.0.0.1 between a client and the server that can cut a
// conversation after a given number of bytes in one direction of one of its
// connections, and that records where the peers' writes ended (about one
// frame each) so that cuts can be placed at and inside every frame. A hook
// can run before a connection reaches the server: another client's work,
// placed exactly between two requests of the one under test. Its
// connections to the server can come from another loopback address, as
// clients elsewhere would.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

enum { TO_CLIENT = 0, TO_SERVER = 1 };

struct Cut {
  int conn = -1;      // connection number within a run, from 0; -1 none
  int dir = TO_CLIENT;
  size_t after = 0;   // bytes passed on before the cut
};

// Where each write of one connection ended, per direction.
struct ConnProfile {
  std::vector<size_t> ends[2];
};

class FaultProxy {
 public:
  // source: the address the server sees (127.0.0.2, ...); 127.0.0.1 when
  // null. prefix: bytes sent to the server first on every connection (a
  // balancer's PROXY line).
  explicit FaultProxy(int upstream_port, const char* source = nullptr, std::string prefix = "")
      : upstream_(upstream_port), prefix_(std::move(prefix)) {
    if (source) inet_pton(AF_INET, source, &source_);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 16);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    accept_thread_ = std::thread([this] { accept_loop(); });
  }
  ~FaultProxy() {
    stop_ = true;
    accept_thread_.join();
    std::vector<std::thread> ts;
    {
      std::lock_guard<std::mutex> g(mu_);
      ts.swap(threads_);
    }
    for (auto& t : ts) t.join();
    ::close(fd_);
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

  // Starts a new run: connections are numbered from 0 again, and `cut`
  // applies to this run.
  void arm(const Cut& cut) {
    wait_idle();
    std::lock_guard<std::mutex> g(mu_);
    cut_ = cut;
    hooks_.clear();
    next_conn_ = 0;
    profile_.clear();
    cut_done_ = false;
  }
  // Runs fn before connection `conn` of this run is passed on (once).
  void before(int conn, std::function<void()> fn) {
    std::lock_guard<std::mutex> g(mu_);
    hooks_.emplace_back(conn, std::move(fn));
  }
  // Connections of the last run, once they have all ended.
  std::vector<ConnProfile> profile() {
    wait_idle();
    std::lock_guard<std::mutex> g(mu_);
    return profile_;
  }
  bool cut_done() {
    wait_idle();
    return cut_done_;
  }

 private:
  void wait_idle() {
    for (int i = 0; i < 2000 && active_.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  void accept_loop() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      run_hook();
      int up = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (source_.s_addr) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr = source_;
        ::bind(up, reinterpret_cast<sockaddr*>(&from), sizeof from);
      }
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(upstream_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(up, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(up);
        ::close(c);
        continue;
      }
      if (!prefix_.empty()) ::send(up, prefix_.data(), prefix_.size(), MSG_NOSIGNAL);
      int one = 1;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      setsockopt(up, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::lock_guard<std::mutex> g(mu_);
      int n = next_conn_++;
      profile_.emplace_back();
      Cut cut = cut_.conn == n ? cut_ : Cut{};
      active_++;
      threads_.emplace_back([this, c, up, n, cut] { relay(c, up, n, cut); });
    }
  }

  void relay(int client, int server, int n, Cut cut) {
    ConnProfile prof;
    size_t passed[2] = {0, 0};
    int from[2] = {server, client};  // TO_CLIENT reads the server
    int to[2] = {client, server};
    bool open[2] = {true, true};
    bool cut_hit = false;
    char buf[4096];
    while ((open[0] || open[1]) && !cut_hit && !stop_) {
      pollfd p[2] = {{from[0], static_cast<short>(open[0] ? POLLIN : 0), 0},
                     {from[1], static_cast<short>(open[1] ? POLLIN : 0), 0}};
      int r = ::poll(p, 2, 10000);
      if (r <= 0) break;  // a conversation idle for 10 s is over
      for (int d = 0; d < 2 && !cut_hit; ++d) {
        if (!open[d] || !(p[d].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t got = ::recv(from[d], buf, sizeof buf, 0);
        if (got <= 0) {
          open[d] = false;
          ::shutdown(to[d], SHUT_WR);
          continue;
        }
        size_t take = static_cast<size_t>(got);
        if (cut.conn == n && cut.dir == d && passed[d] + take >= cut.after) {
          take = cut.after - passed[d];
          cut_hit = true;
        }
        if (take > 0 && ::send(to[d], buf, take, MSG_NOSIGNAL) != static_cast<ssize_t>(take)) open[d] = false;
        passed[d] += take;
        prof.ends[d].push_back(passed[d]);
      }
    }
    // A cut drops both sides at once, as a broken line would.
    ::close(client);
    ::close(server);
    std::lock_guard<std::mutex> g(mu_);
    if (static_cast<size_t>(n) < profile_.size()) profile_[n] = prof;
    if (cut_hit) cut_done_ = true;
    active_--;
  }

  // The hook of the connection about to be numbered, outside the lock.
  void run_hook() {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> g(mu_);
      for (auto& h : hooks_)
        if (h.first == next_conn_ && h.second) fn = std::move(h.second);
    }
    if (fn) fn();
  }

  int upstream_;
  std::string prefix_;
  in_addr source_{};
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> active_{0};
  std::thread accept_thread_;
  std::mutex mu_;
  std::vector<std::thread> threads_;
  std::vector<ConnProfile> profile_;
  Cut cut_;
  std::vector<std::pair<int, std::function<void()>>> hooks_;
  int next_conn_ = 0;
  bool cut_done_ = false;
};

// Cut points for every connection and direction of a clean run: at the
// start, after every write, and inside every write (after its first byte,
// in its middle and before its last byte); at most `limit` per direction,
// spread over the conversation.
inline std::vector<Cut> cuts_for(const std::vector<ConnProfile>& prof, size_t limit) {
  std::vector<Cut> out;
  for (size_t k = 0; k < prof.size(); ++k)
    for (int d = 0; d < 2; ++d) {
      std::set<size_t> at = {0};
      size_t prev = 0;
      for (size_t end : prof[k].ends[d]) {
        if (end > prev) {
          at.insert(prev + 1);
          at.insert(prev + (end - prev) / 2);
          at.insert(end - 1);
        }
        at.insert(end);
        prev = end;
      }
      if (!prof[k].ends[d].empty()) at.erase(prof[k].ends[d].back());  // a cut after everything is no cut
      std::vector<size_t> v(at.begin(), at.end());
      std::vector<size_t> pick;
      if (v.size() <= limit) {
        pick = v;
      } else {
        for (size_t i = 0; i < limit; ++i) pick.push_back(v[i * (v.size() - 1) / (limit - 1)]);
        pick.erase(std::unique(pick.begin(), pick.end()), pick.end());
      }
      for (size_t a : pick) out.push_back(Cut{static_cast<int>(k), d, a});
    }
  return out;
}
