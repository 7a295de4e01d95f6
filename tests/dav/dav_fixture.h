// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar and contacts servers for the tests, on loopback in temporary
// directories: Debian's Radicale (with basic authentication, over http or
// https with a self-signed certificate made for the run) and Xandikos, a
// second client of their own (python3-caldav, driven by peer.py) to change
// things on the server side, and a scripted HTTP server for the answers no
// real server gives on demand (faults, stalls, redirects elsewhere).
//
// A suite starts its server once (SetUpTestSuite); every suite has its own
// directories and ports, so suites run in parallel.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "sync/dav_discover.h"
#include "sync/dav_http.h"
#include "sync/dav_items.h"

extern char** environ;

namespace dav_test {

inline const char* python() { return "/usr/bin/python3"; }

// True when the Python module can be imported by the system's Python.
inline bool have_module(const std::string& module) {
  std::string cmd = std::string(python()) + " -c 'import " + module + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// A port nobody listens on right now.
inline int free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline bool port_open(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// Runs a command to its end; its exit status, or -1.
inline int run(const std::vector<std::string>& args, std::string* out = nullptr) {
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(pipefd[1]);
  std::string got;
  char buf[4096];
  ssize_t n;
  while (rc == 0 && (n = ::read(pipefd[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  ::close(pipefd[0]);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (out) *out = got;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A server process, stopped with SIGTERM when the object goes.
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { stop(); }

  // Starts args with stdout and stderr into log_path, then waits until it
  // listens on port. False when it ended or never listened.
  bool start(const std::vector<std::string>& args, const std::string& log_path, int port) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
      pid_ = -1;
      return false;
    }
    for (int i = 0; i < 300; i++) {
      if (port_open(port)) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    return false;
  }
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// A self-signed certificate for a name that is not the test's address, so
// that only its fingerprint can make it trusted.
struct Certificate {
  std::string cert, key, fingerprint;  // fingerprint "AB:CD:…" as openssl prints it
};

inline bool make_certificate(const test_support::TempDir& dir, Certificate* out) {
  out->cert = dir.file("cert.pem");
  out->key = dir.file("key.pem");
  if (run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
           "-nodes", "-keyout", out->key, "-out", out->cert, "-days", "2", "-subj", "/CN=ordika-test.invalid",
           "-addext", "subjectAltName=DNS:ordika-test.invalid"}) != 0)
    return false;
  std::string text;
  if (run({"/usr/bin/openssl", "x509", "-in", out->cert, "-noout", "-fingerprint", "-sha256"}, &text) != 0)
    return false;
  size_t eq = text.find('=');
  if (eq == std::string::npos) return false;
  out->fingerprint = text.substr(eq + 1);
  while (!out->fingerprint.empty() && (out->fingerprint.back() == '\n' || out->fingerprint.back() == '\r'))
    out->fingerprint.pop_back();
  return true;
}

// Radicale with user "alice" (password "secret-alice") and "bob"; each sees
// only his own collections.
class Radicale {
 public:
  static constexpr const char* kUser = "alice";
  static constexpr const char* kPassword = "secret-alice";

  // With tls, serves https with a fresh self-signed certificate.
  bool start(bool tls = false) {
    if (tls && !make_certificate(dir_, &cert_)) return false;
    test_support::write_file(dir_.file("users"), "alice:secret-alice\nbob:secret-bob\n");
    for (int attempt = 0; attempt < 3; attempt++) {
      port_ = free_port();
      std::string conf =
          "[server]\nhosts = 127.0.0.1:" + std::to_string(port_) + "\n" +
          (tls ? "ssl = True\ncertificate = " + cert_.cert + "\nkey = " + cert_.key + "\n" : std::string()) +
          "[auth]\ntype = htpasswd\nhtpasswd_filename = " + dir_.file("users") +
          "\nhtpasswd_encryption = plain\ndelay = 0\n"
          "[storage]\nfilesystem_folder = " + dir_.file("collections") + "\n" +
          "[rights]\ntype = owner_only\n[web]\ntype = none\n[logging]\nlevel = warning\n";
      test_support::write_file(dir_.file("config"), conf);
      if (proc_.start({python(), "-m", "radicale", "-C", dir_.file("config")}, dir_.file("radicale.log"), port_))
        break;
      port_ = 0;
    }
    host_ = "127.0.0.1:" + std::to_string(port_);
    url_ = std::string(tls ? "https://" : "http://") + host_ + "/";
    return port_ != 0;
  }
  int port() const { return port_; }
  const std::string& host() const { return host_; }  // "127.0.0.1:PORT"
  const std::string& url() const { return url_; }    // "http(s)://127.0.0.1:PORT/"
  const Certificate& certificate() const { return cert_; }
  const test_support::TempDir& dir() const { return dir_; }

 private:
  test_support::TempDir dir_{"ordika-radicale"};
  Process proc_;
  Certificate cert_;
  int port_ = 0;
  std::string host_, url_;
};

// Xandikos without authentication; principal /alice/ with its default
// calendar (/alice/calendars/calendar/) and address book
// (/alice/contacts/addressbook/).
class Xandikos {
 public:
  bool start() {
    for (int attempt = 0; attempt < 3; attempt++) {
      port_ = free_port();
      if (proc_.start({python(), "-m", "xandikos.web", "-d", dir_.file("data"), "--defaults", "-l", "127.0.0.1", "-p",
                       std::to_string(port_), "--current-user-principal", "/alice/"},
                      dir_.file("xandikos.log"), port_))
        break;
      port_ = 0;
    }
    url_ = "http://127.0.0.1:" + std::to_string(port_) + "/";
    return port_ != 0;
  }
  const std::string& url() const { return url_; }
  // The collections' folders (each a git repository) are below data/.
  const test_support::TempDir& dir() const { return dir_; }

 private:
  test_support::TempDir dir_{"ordika-xandikos"};
  Process proc_;
  int port_ = 0;
  std::string url_;
};

// The independent client: peer.py with python3-caldav. Each op is a list of
// words (see peer.py); all ops of one call run in one process. Returns its
// output lines (one per op), or an empty vector when it failed.
inline std::vector<std::string> peer(const std::string& url, const std::string& user, const std::string& password,
                                     const std::vector<std::vector<std::string>>& ops) {
  std::vector<std::string> args = {python(), std::string(ORDIKA_SOURCE_DIR) + "/tests/dav/peer.py", url, user,
                                   password};
  for (const auto& op : ops) {
    args.push_back("--");
    for (const std::string& w : op) args.push_back(w);
  }
  std::string out;
  if (run(args, &out) != 0) return {};
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(out.substr(start, nl - start));
  return lines;
}

// A small calendar object with one event.
inline std::string event_text(const std::string& uid, const std::string& summary) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Ordika//Tests//EN\r\nBEGIN:VEVENT\r\nUID:" + uid +
         "\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:20260105T100000Z\r\nDTEND:20260105T110000Z\r\nSUMMARY:" + summary +
         "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

inline std::string card_text(const std::string& uid, const std::string& name) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + name + "\r\nN:" + name +
         ";;;;\r\nEND:VCARD\r\n";
}

// Makes a calendar or address book with extended MKCOL (Radicale) through
// the client under test's HTTP layer. components: "VEVENT", "VTODO",
// "VEVENT,VTODO"; color may be empty. 0 or an error.
inline int make_collection(DavClient* c, const std::string& url, bool calendar, const std::string& name,
                           const std::string& components = "VEVENT", const std::string& color = "") {
  std::string props = "<d:displayname>" + name + "</d:displayname>";
  if (calendar) {
    props += "<d:resourcetype><d:collection/><c:calendar/></d:resourcetype>";
    props += "<c:supported-calendar-component-set>";
    size_t start = 0;
    while (start <= components.size()) {
      size_t comma = components.find(',', start);
      if (comma == std::string::npos) comma = components.size();
      props += "<c:comp name=\"" + components.substr(start, comma - start) + "\"/>";
      start = comma + 1;
    }
    props += "</c:supported-calendar-component-set>";
    if (!color.empty()) props += "<i:calendar-color>" + color + "</i:calendar-color>";
  } else {
    props += "<d:resourcetype><d:collection/><a:addressbook/></d:resourcetype>";
  }
  DavRequest req;
  req.method = "MKCOL";
  req.url = url;
  req.content_type = "application/xml; charset=utf-8";
  req.body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:mkcol xmlns:d=\"DAV:\" "
      "xmlns:c=\"urn:ietf:params:xml:ns:caldav\" xmlns:a=\"urn:ietf:params:xml:ns:carddav\" "
      "xmlns:i=\"http://apple.com/ns/ical/\"><d:set><d:prop>" +
      props + "</d:prop></d:set></d:mkcol>";
  DavReply reply;
  int rc = dav_send(c, req, &reply);
  return rc ? rc : dav_status_error(reply.status);
}

// A scripted HTTP/1.1 server on 127.0.0.1: each request goes to the
// handler, which returns the raw answer ("HTTP/1.1 …"), or "" to hold the
// connection open without a byte until the server stops (a stall). The
// connection closes after each answer.
struct StubRequest {
  std::string method, path, headers, body;
  std::string header(const std::string& name) const {
    std::string lower_headers;
    for (char ch : headers) lower_headers += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string key = "\r\n";
    for (char ch : name) key += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    key += ":";
    size_t at = lower_headers.find(key);
    if (at == std::string::npos) return "";
    size_t start = at + key.size();
    size_t end = headers.find("\r\n", start);
    std::string v = headers.substr(start, end - start);
    while (!v.empty() && v.front() == ' ') v.erase(0, 1);
    return v;
  }
};

class StubServer {
 public:
  using Handler = std::function<std::string(const StubRequest&)>;

  explicit StubServer(Handler handler, const char* address = "127.0.0.1") : handler_(std::move(handler)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, address, &a.sin_addr);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 16);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    url_ = std::string("http://") + address + ":" + std::to_string(port_) + "/";
    thread_ = std::thread([this] { loop(); });
  }
  ~StubServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  StubServer(const StubServer&) = delete;
  StubServer& operator=(const StubServer&) = delete;

  int port() const { return port_; }
  const std::string& url() const { return url_; }
  std::vector<StubRequest> requests() {
    std::lock_guard<std::mutex> g(mu_);
    return requests_;
  }

  // "HTTP/1.1 <status>" with the extra header lines and the body.
  static std::string answer(int status, const std::string& body = "", const std::string& headers = "") {
    return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
  }

 private:
  void loop() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      serve(c);
      ::close(c);
    }
  }
  // Reads one request (headers and a Content-Length body) and answers it.
  void serve(int c) {
    std::string in;
    char buf[65536];
    size_t head_end = std::string::npos;
    size_t want = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      pollfd p{c, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      ssize_t n = ::read(c, buf, sizeof buf);
      if (n <= 0) return;
      in.append(buf, static_cast<size_t>(n));
      if (in[0] == '\x16') {
        // A TLS handshake to this plain server: answered as a plain server does.
        const char bad[] = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
        (void)!::send(c, bad, sizeof bad - 1, MSG_NOSIGNAL);
        return;
      }
      if (head_end == std::string::npos && (head_end = in.find("\r\n\r\n")) != std::string::npos) {
        StubRequest probe;
        probe.headers = in.substr(0, head_end + 2);
        std::string cl = probe.header("Content-Length");
        want = head_end + 4 + (cl.empty() ? 0 : std::stoul(cl));
      }
      if (head_end != std::string::npos && in.size() >= want) break;
    }
    if (head_end == std::string::npos) return;
    StubRequest r;
    size_t sp1 = in.find(' '), sp2 = in.find(' ', sp1 + 1);
    r.method = in.substr(0, sp1);
    r.path = in.substr(sp1 + 1, sp2 - sp1 - 1);
    r.headers = in.substr(in.find("\r\n"), head_end + 2 - in.find("\r\n"));
    r.body = in.substr(head_end + 4);
    {
      std::lock_guard<std::mutex> g(mu_);
      requests_.push_back(r);
    }
    std::string out = handler_(r);
    if (out.empty()) {
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;
    }
    size_t off = 0;
    while (off < out.size()) {
      ssize_t n = ::send(c, out.data() + off, out.size() - off, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
  }

  Handler handler_;
  int fd_ = -1;
  int port_ = 0;
  std::string url_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<StubRequest> requests_;
};

// A client for the account, with short limits so that faults end quickly.
inline std::unique_ptr<DavClient> open_client(const std::string& url, const std::string& user = "",
                                              const std::string& password = "",
                                              const std::string& fingerprint = "") {
  auto c = std::make_unique<DavClient>();
  DavAccount a;
  a.url = url;
  a.user = user;
  a.password = password;
  a.trusted_fingerprint = fingerprint;
  if (dav_open(c.get(), a) != 0) return nullptr;
  c->connect_timeout = 5;
  c->stall_timeout = 5;
  return c;
}

}  // namespace dav_test
