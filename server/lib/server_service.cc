// SPDX-License-Identifier: GPL-3.0-or-later
// Account server: the connection service (listening, one thread per
// connection, deadlines) and its lifecycle.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <algorithm>
#include <vector>

#include "server_internal.h"
#include "support/log.h"

using namespace srv;

namespace {

// Drops the deadline entry of a socket before it is closed (and its number
// can be reused).
void forget_session(Server* srv, int fd) {
  std::lock_guard<std::mutex> g(srv->mu);
  srv->sessions.erase(fd);
}

// After a failed login the socket stays open for the failure delay (slowing
// guesses) but gives its slot back at once: the accept loop closes it.
void close_later(Server* srv, Connection* c, int fd) {
  forget_session(srv, fd);
  int sock = c->socket;
  c->socket = -1;
  conn_close(c);
  if (sock < 0) return;
  std::lock_guard<std::mutex> g(srv->mu);
  if (srv->cfg.fail_delay_ms <= 0 || srv->stopping) {
    ::close(sock);
    return;
  }
  ::shutdown(sock, SHUT_RD);
  srv->delayed_close.emplace_back(
      std::chrono::steady_clock::now() + std::chrono::milliseconds(srv->cfg.fail_delay_ms), sock);
}

void logged_in(Server* srv, int fd) {
  std::lock_guard<std::mutex> g(srv->mu);
  auto it = srv->sessions.find(fd);
  if (it == srv->sessions.end() || it->second.deadline == 0) return;
  it->second.logged_in = true;
  it->second.deadline = std::time(nullptr) + srv->cfg.max_session;
}

// The limit of connections of one address that have not logged in.
int unauth_limit(const ServerConfig& cfg) {
  return cfg.max_unauth_per_host > 0 ? cfg.max_unauth_per_host : std::max(1, cfg.max_clients / 2);
}

// Connections of `address` not logged in yet, leaving out socket `except`.
// Called with srv->mu held.
int waiting_from(Server* srv, const std::string& address, int except) {
  int n = 0;
  for (auto& [sock, slot] : srv->sessions)
    if (sock != except && !slot.logged_in && slot.address == address) ++n;
  return n;
}

bool is_proxy(const ServerConfig& cfg, const std::string& address) {
  return std::find(cfg.proxies.begin(), cfg.proxies.end(), address) != cfg.proxies.end();
}

// The PROXY protocol line (version 1) a balancer sends ahead of its
// client's bytes: "PROXY TCP4 SRC DST SPORT DPORT\r\n" (or TCP6), or
// "PROXY UNKNOWN ...\r\n" for a connection of its own. 0 with the client's
// address and port (kept for UNKNOWN), -1 when there is no such line.
int read_proxy_line(int fd, std::string* address, std::string* port) {
  std::string line;
  char ch;
  while (line.size() < 107) {  // the longest line the protocol allows
    if (::recv(fd, &ch, 1, 0) != 1) return -1;
    line.push_back(ch);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) break;
  }
  if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) return -1;
  line.resize(line.size() - 2);
  std::vector<std::string> f;
  for (size_t at = 0; at <= line.size();) {
    size_t sp = line.find(' ', at);
    if (sp == std::string::npos) sp = line.size();
    f.push_back(line.substr(at, sp - at));
    at = sp + 1;
  }
  if (f.size() >= 2 && f[0] == "PROXY" && f[1] == "UNKNOWN") return 0;
  if (f.size() != 6 || f[0] != "PROXY" || (f[1] != "TCP4" && f[1] != "TCP6")) return -1;
  unsigned char buf[16];
  if (inet_pton(f[1] == "TCP4" ? AF_INET : AF_INET6, f[2].c_str(), buf) != 1) return -1;
  if (f[4].empty() || f[4].size() > 5 || f[4].find_first_not_of("0123456789") != std::string::npos) return -1;
  *address = f[2];
  *port = f[4];
  return 0;
}

void serve_connection(Server* srv, int fd, std::string peer, std::string address) {
  Session ss;
  ss.srv = srv;
  ss.peer = peer;
  ss.address = address;
  // A connection closed before its first byte is a balancer's health
  // check, not a login: no log line and no failure delay.
  char first;
  if (::recv(fd, &first, 1, MSG_PEEK) == 0) {
    forget_session(srv, fd);
    ::close(fd);
    return;
  }
  // Behind a balancer the client's address comes first: the limits per
  // address apply to it, not to the balancer.
  if (is_proxy(srv->cfg, address)) {
    std::string port = peer.substr(peer.rfind(':') + 1);
    if (read_proxy_line(fd, &ss.address, &port) != 0) {
      log_message(LOG_WARNING, "serve %s: no PROXY line from the balancer", peer.c_str());
      forget_session(srv, fd);
      ::close(fd);
      return;
    }
    ss.peer = ss.address + ":" + port;
    std::lock_guard<std::mutex> g(srv->mu);
    auto it = srv->sessions.find(fd);
    if (it != srv->sessions.end()) it->second.address = ss.address;
    if (waiting_from(srv, ss.address, fd) >= unauth_limit(srv->cfg)) {
      log_message(LOG_WARNING, "server: too many logins from %s, refused", ss.address.c_str());
      srv->sessions.erase(fd);
      ::close(fd);
      return;
    }
  }
  work_begin(&ss);
  bool anonymous = false;
  auto lookup = [&](uint32_t id, const std::string& user, uint8_t hash[32]) {
    StoreLease db(srv->store.get(), &ss.work);
    return db && db->login_hash(id, user, hash) == 0 ? 0 : -1;
  };
  if (conn_accept(&ss.conn, fd, lookup, &anonymous, &ss.account, &ss.user) != 0) {
    log_message(LOG_NOTICE, "serve %s: handshake failed", peer.c_str());
    close_later(srv, &ss.conn, fd);
    return;
  }
  std::string command;
  if (conn_read_line(&ss.conn, &command, 32) != 0) {
    log_message(LOG_NOTICE, "serve %s: no request (wrong password?) %s", peer.c_str(), log_safe(ss.user).c_str());
    close_later(srv, &ss.conn, fd);
    return;
  }
  // The anonymous password change stays under the login deadline.
  if (!anonymous) logged_in(srv, fd);
  int rc = handle_request(&ss, command, anonymous);
  if (rc != 0) log_message(LOG_NOTICE, "serve %s: %s failed", peer.c_str(), log_safe(command).c_str());
  // Let the client read the last reply before the close.
  ::shutdown(ss.conn.socket, SHUT_WR);
  forget_session(srv, fd);
  conn_close(&ss.conn);
}

// Cuts every conversation: its thread's next read or write fails. Called
// with srv->mu held.
void cut_all(Server* s) {
  for (auto& [sock, slot] : s->sessions)
    if (slot.deadline) {
      ::shutdown(sock, SHUT_RDWR);
      slot.deadline = 0;
    }
  for (auto& [when, sock] : s->delayed_close) ::close(sock);
  s->delayed_close.clear();
  if (s->store) store_cancel_all(s->store.get());
}

}  // namespace

Server* server_create(const ServerConfig& cfg) {
  auto s = std::make_unique<Server>();
  s->cfg = cfg;
  ::mkdir(cfg.data_dir.c_str(), 0700);
  std::string tmp = join(cfg.data_dir, "tmp");
  ::mkdir(tmp.c_str(), 0700);
  if (cfg.log_to_file) log_set_file(join(cfg.data_dir, "server.log").c_str());
  // Transfers left over by an earlier run (never applied) are dropped.
  if (DIR* d = ::opendir(tmp.c_str())) {
    while (struct dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      TempDir stale{join(tmp, e->d_name)};
    }
    ::closedir(d);
  }
  std::string error;
  s->store = store_open(cfg, &error);
  if (!s->store) {
    log_message(LOG_ERROR, "server_create: %s", error.c_str());
    std::fprintf(stderr, "ordika-server: %s\n", error.c_str());
    return nullptr;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(cfg.port));
  if (inet_pton(AF_INET, cfg.listen_host.c_str(), &addr.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
    std::fprintf(stderr, "ordika-server: cannot listen on %s:%d: %s\n", cfg.listen_host.c_str(), cfg.port,
                 std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  if (::pipe2(s->wake, O_CLOEXEC) != 0) {
    ::close(fd);
    return nullptr;
  }
  s->listen_fd = fd;
  log_message(LOG_NOTICE, "server: listening on %s:%d", cfg.listen_host.c_str(), server_port(s.get()));
  return s.release();
}

int server_port(const Server* s) {
  struct sockaddr_in addr;
  socklen_t len = sizeof addr;
  if (::getsockname(s->listen_fd, reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) return -1;
  return ntohs(addr.sin_port);
}

int server_run(Server* s) {
  while (!s->stopping) {
    int wait_ms = 1000;
    {
      // Conversations past their deadline (login or session) are cut: their
      // thread's next read or write fails and it closes the socket. Failed
      // logins whose delay has passed are closed.
      std::lock_guard<std::mutex> g(s->mu);
      time_t now = std::time(nullptr);
      for (auto& [sock, slot] : s->sessions)
        if (slot.deadline && now >= slot.deadline) {
          log_message(LOG_NOTICE, "server: %s %d over time", slot.logged_in ? "session" : "login", sock);
          ::shutdown(sock, SHUT_RDWR);
          slot.deadline = 0;
        }
      auto tick = std::chrono::steady_clock::now();
      auto& late = s->delayed_close;
      for (size_t i = 0; i < late.size();) {
        if (late[i].first <= tick) {
          ::close(late[i].second);
          late[i] = late.back();
          late.pop_back();
          continue;
        }
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(late[i].first - tick).count() + 1;
        if (ms < wait_ms) wait_ms = static_cast<int>(ms);
        ++i;
      }
    }
    struct pollfd p[2] = {{s->listen_fd, POLLIN, 0}, {s->wake[0], POLLIN, 0}};
    int n = ::poll(p, 2, wait_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (p[1].revents) break;
    if (!(p[0].revents & POLLIN)) continue;
    struct sockaddr_in peer;
    socklen_t len = sizeof peer;
    int fd = ::accept4(s->listen_fd, reinterpret_cast<struct sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) continue;
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    std::string who = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
    {
      std::lock_guard<std::mutex> g(s->mu);
      if (s->active >= s->cfg.max_clients) {
        log_message(LOG_WARNING, "server: busy, refused %s", who.c_str());
        ::close(fd);
        continue;
      }
      // One host cannot hold every slot with connections that never log in
      // (a balancer's clients are counted by their own addresses).
      if (!is_proxy(s->cfg, ip) && waiting_from(s, ip, -1) >= unauth_limit(s->cfg)) {
        log_message(LOG_WARNING, "server: too many logins from %s, refused", ip);
        ::close(fd);
        continue;
      }
      s->active++;
      SessionSlot& slot = s->sessions[fd];
      slot.deadline = std::time(nullptr) + std::max(1, s->cfg.login_timeout);
      slot.address = ip;
      slot.logged_in = false;
    }
    struct timeval tv = {s->cfg.io_timeout, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    std::string address = ip;
    std::thread([s, fd, who, address] {
      serve_connection(s, fd, who, address);
      std::lock_guard<std::mutex> g(s->mu);
      s->active--;
      s->cv.notify_all();
    }).detach();
  }
  std::lock_guard<std::mutex> g(s->mu);
  cut_all(s);
  return 0;
}

int server_active(Server* s) {
  std::lock_guard<std::mutex> g(s->mu);
  return s->active;
}

void server_stop(Server* s) {
  s->stopping = true;
  char b = 1;
  if (::write(s->wake[1], &b, 1) < 0) {
  }
}

void server_destroy(Server* s) {
  if (!s) return;
  s->stopping = true;
  {
    // Conversations still running are cut; database work stops at its next
    // progress check and rolls back.
    std::unique_lock<std::mutex> g(s->mu);
    cut_all(s);
    s->cv.wait(g, [s] { return s->active == 0; });
    cut_all(s);
  }
  if (s->listen_fd >= 0) ::close(s->listen_fd);
  for (int fd : s->wake)
    if (fd >= 0) ::close(fd);
  delete s;
}
