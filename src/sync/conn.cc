// SPDX-License-Identifier: GPL-3.0-or-later
// Connection, handshake, frames and file objects.
#include "sync/conn.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>

#include "storage/repo.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/log.h"

namespace {

uint8_t g_bootstrap[32];
std::once_flag g_bootstrap_once;

std::atomic<int> g_timeout{0};
thread_local bool t_timed_out = false;

// Connects within the timeout (none: a plain blocking connect).
int connect_within(int fd, const struct sockaddr_in& addr, int seconds) {
  if (seconds <= 0) return ::connect(fd, reinterpret_cast<const struct sockaddr*>(&addr), sizeof addr);
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(fd, reinterpret_cast<const struct sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno == EINPROGRESS) {
    struct pollfd p = {fd, POLLOUT, 0};
    int n = ::poll(&p, 1, seconds * 1000);
    int err = 0;
    socklen_t len = sizeof err;
    if (n == 0) {
      t_timed_out = true;
      rc = -1;
    } else if (n > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
      rc = 0;
    } else {
      rc = -1;
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  if (rc == 0) {
    struct timeval tv = {seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  return rc;
}

// Reads exactly n bytes; returns n, the count read before the peer closed,
// or -1 on a receive error.
long read_full(int fd, uint8_t* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::recv(fd, buf + got, n - got, 0);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) t_timed_out = true;
    if (r < 0) return -1;  // EINTR included: a cancel interrupts the wait
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<long>(got);
}

bool send_full(int fd, const uint8_t* buf, size_t n) {
  ssize_t r = ::send(fd, buf, n, MSG_NOSIGNAL);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) t_timed_out = true;
  return r == static_cast<ssize_t>(n);
}

std::string base_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

bool plain_name_ok(const char* p, size_t n) {
  if (n == 0 || p[0] == '.') return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char ch = static_cast<unsigned char>(p[i]);
    if (ch < 0x20 || ch == 0x7f || ch == '/' || ch == '\\') return false;
  }
  return true;
}

void end_transfer(Connection* c) {
  if (c->file) {
    std::fclose(c->file);
    c->file = nullptr;
  }
  c->memory_target = nullptr;
  c->paged = false;
  c->block_fill = 0;
  OPENSSL_cleanse(c->page_key, sizeof c->page_key);
  OPENSSL_cleanse(c->block, sizeof c->block);
}

// Takes the bytes of the current frame into the transfer until it is
// complete (1) or the frame is used up (0); -1 on a write failure.
int conn_recv_block(Connection* c) {
  while (c->recv_pos < c->recv_size && c->remaining > 0) {
    const uint8_t* p = c->recv_frame + CONN_HEADER + c->recv_pos;
    size_t avail = static_cast<size_t>(c->recv_size - c->recv_pos);
    if (c->remaining > CONN_DIGEST) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(avail, c->remaining - CONN_DIGEST));
      sha1_update(&c->digest, p, n);
      if (c->memory_target) {
        c->memory_target->append(reinterpret_cast<const char*>(p), n);
      } else if (c->paged) {
        size_t done = 0;
        while (done < n) {
          size_t take = std::min<size_t>(n - done, CONN_BLOCK - static_cast<size_t>(c->block_fill));
          std::memcpy(c->block + c->block_fill, p + done, take);
          c->block_fill += static_cast<int>(take);
          done += take;
          if (c->block_fill == CONN_BLOCK) {
            CipherContext ctx;
            if (page_cipher(&ctx, c->page_key, CIPHER_ENCRYPT) != 0 ||
                cbc_encrypt_inplace(&ctx, c->block, CONN_BLOCK) != CONN_BLOCK)
              c->write_failed = true;
            else if (std::fwrite(c->block, 1, CONN_BLOCK, c->file) != CONN_BLOCK)
              c->write_failed = true;
            c->block_fill = 0;
          }
        }
      } else if (c->file && std::fwrite(p, 1, n, c->file) != n) {
        c->write_failed = true;
      }
      c->recv_pos += static_cast<int>(n);
      c->remaining -= n;
    } else {
      size_t n = static_cast<size_t>(std::min<uint64_t>(avail, c->remaining));
      std::memcpy(c->digest_in + (CONN_DIGEST - c->remaining), p, n);
      c->recv_pos += static_cast<int>(n);
      c->remaining -= n;
    }
  }
  return c->remaining == 0 ? 1 : 0;
}

int rename_tmp(Connection* c, const std::string& tmp) {
  const std::string& name = c->name;
  if (name.size() >= 41 && name[39] == '/') {
    std::string sub = path_join(c->dir, name.substr(0, 39));
    struct stat st;
    if (::stat(sub.c_str(), &st) != 0 && ::mkdir(sub.c_str(), 0700) != 0) {
      log_message(LOG_ERROR, "rename_tmp: mk_dir(%s)", sub.c_str());
      return -1;
    }
  }
  std::string target = path_join(c->dir, name);
  if (std::rename(tmp.c_str(), target.c_str()) != 0) {
    log_message(LOG_ERROR, "rename_tmp: rename(file.tmp, %s)", name.c_str());
    return -1;
  }
  // The new name must survive a power loss as well as the content did; a
  // receive that cannot promise it fails, and the caller fetches again.
  size_t slash = target.rfind('/');
  if (dir_sync(slash == std::string::npos ? "." : target.substr(0, slash)) != 0) {
    log_message(LOG_ERROR, "rename_tmp: cannot sync the folder (%d)", errno);
    return -1;
  }
  log_message(LOG_DEBUG, "rename_tmp: %s", name.c_str());
  return 0;
}

int send_file_impl(Connection* c, const char* path, const uint8_t* key, const char* wire_name) {
  log_message(LOG_DEBUG, "conn_send_file(%s)", path);
  struct stat st;
  if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
    log_message(LOG_ERROR, "conn_send_file(%s): file not found", path);
    return -1;
  }
  std::string name = wire_name ? wire_name : base_name(path);
  if (name.empty() || name.size() + 1 > CONN_NAME_MAX) {
    log_message(LOG_ERROR, "conn_send_file(%s): bad name", path);
    return -1;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > 0xffffffffu || (key && size % CONN_BLOCK != 0)) {
    log_message(LOG_ERROR, "conn_send_file(%s): size %llu", path, static_cast<unsigned long long>(size));
    return -1;
  }
  OwnedFile file;
  if (size > 0) {
    file.reset(std::fopen(path, "rb"));
    if (!file) {
      log_message(LOG_ERROR, "conn_send_file(%s): open", path);
      return -1;
    }
  }
  FILE* f = file.get();

  uint8_t entry[8];
  uint32_t n = static_cast<uint32_t>(name.size() + 1);
  put_be32(entry, n);
  put_be32(entry + 4, static_cast<uint32_t>(size));
  if (c->fill + 8 + static_cast<int>(n) > CONN_PAYLOAD && conn_send(c) != 0) return -1;
  std::memcpy(c->send_frame + CONN_HEADER + c->fill, entry, 8);
  std::memcpy(c->send_frame + CONN_HEADER + c->fill + 8, name.c_str(), n);
  c->fill += 8 + static_cast<int>(n);
  if (size == 0) return conn_send(c);

  Sha1Context sha;
  sha1_init(&sha);
  uint8_t block[CONN_BLOCK];
  size_t block_len = 0, block_pos = 0;
  uint64_t left = size;
  CipherContext ctx;
  int rc = 0;
  while (left > 0 && rc == 0) {
    if (block_pos == block_len) {
      block_len = std::fread(block, 1, sizeof block, f);
      block_pos = 0;
      if (block_len == 0 || (key && block_len != CONN_BLOCK)) {
        log_message(LOG_ERROR, "conn_send_file(%s): read", path);
        rc = -1;
        break;
      }
      if (key && (page_cipher(&ctx, key, CIPHER_DECRYPT) != 0 ||
                  cbc_decrypt_inplace(&ctx, block, CONN_BLOCK) != CONN_BLOCK)) {
        rc = -1;
        break;
      }
    }
    size_t space = static_cast<size_t>(CONN_PAYLOAD - c->fill);
    size_t take = std::min<size_t>({space, block_len - block_pos, static_cast<size_t>(left)});
    std::memcpy(c->send_frame + CONN_HEADER + c->fill, block + block_pos, take);
    sha1_update(&sha, block + block_pos, take);
    c->fill += static_cast<int>(take);
    block_pos += take;
    left -= take;
    if (c->fill == CONN_PAYLOAD || left == 0) rc = conn_send(c);
  }
  OPENSSL_cleanse(block, sizeof block);
  if (rc != 0) return -1;
  uint8_t d[CONN_DIGEST];
  sha1_final(&sha, d);
  if (conn_put(c, d, sizeof d) != 0 || conn_send(c) != 0) return -1;
  return 0;
}

}  // namespace

Connection::~Connection() {
  end_transfer(this);
  if (socket >= 0) ::close(socket);
  OPENSSL_cleanse(send_frame, sizeof send_frame);
  OPENSSL_cleanse(recv_frame, sizeof recv_frame);
}

const uint8_t* conn_bootstrap_key() {
  std::call_once(g_bootstrap_once, [] { derive_key_salted(CONN_BOOTSTRAP_TEXT, nullptr, 0, 10, g_bootstrap); });
  return g_bootstrap;
}

int conn_split_host(const char* text, int def, std::string* host, int* port) {
  if (!text || !*text) return -1;
  std::string s = text;
  *port = def;
  size_t colon = s.rfind(':');
  if (colon != std::string::npos) {
    std::string p = s.substr(colon + 1);
    s.resize(colon);
    if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return -1;
    int v = std::atoi(p.c_str());
    if (v <= 0 || v > 65535) return -1;
    *port = v;
  }
  if (s.empty()) return -1;
  *host = s;
  return 0;
}

int conn_send(Connection* c) {
  if (c->fill == 0) return 0;
  if (c->socket < 0) return -1;
  int len = c->fill;
  int padded = (len + 15) & ~15;
  put_be32(c->send_frame, static_cast<uint32_t>(len));
  std::memset(c->send_frame + 4, 0, 12);
  std::memset(c->send_frame + CONN_HEADER + len, 0, static_cast<size_t>(padded - len));
  int total = CONN_HEADER + padded;
  if (cbc_encrypt_inplace(&c->send_cipher, c->send_frame, static_cast<size_t>(total)) != total) return -1;
  bool ok = send_full(c->socket, c->send_frame, static_cast<size_t>(total));
  OPENSSL_cleanse(c->send_frame, static_cast<size_t>(total));
  if (!ok) {
    log_message(LOG_ERROR, "conn_send: %d %d", len, total);
    return -1;
  }
  c->fill = 0;
  return 0;
}

int conn_put(Connection* c, const void* bytes, size_t len) {
  if (len > CONN_PAYLOAD) return -1;
  if (c->fill + len > CONN_PAYLOAD && conn_send(c) != 0) return -1;
  std::memcpy(c->send_frame + CONN_HEADER + c->fill, bytes, len);
  c->fill += static_cast<int>(len);
  if (c->fill == CONN_PAYLOAD) return conn_send(c);
  return 0;
}

int conn_put_text(Connection* c, const char* text) {
  size_t n = std::strlen(text);
  if (c->fill + n > CONN_PAYLOAD) return -1;
  std::memcpy(c->send_frame + CONN_HEADER + c->fill, text, n);
  c->fill += static_cast<int>(n);
  return 0;
}

int conn_recv(Connection* c) {
  if (c->socket < 0) return -1;
  c->recv_size = 0;
  c->recv_pos = 0;
  long n = read_full(c->socket, c->recv_frame, CONN_HEADER);
  if (n != CONN_HEADER) {
    log_message(LOG_ERROR, "conn_recv, n: %ld", n);
    return -1;
  }
  cbc_decrypt_inplace(&c->recv_cipher, c->recv_frame, CONN_HEADER);
  uint32_t len = get_be32(c->recv_frame);
  uint64_t padded = (static_cast<uint64_t>(len) + 15) & ~uint64_t(15);
  if (padded == 0 || padded > CONN_PAYLOAD) {
    log_message(LOG_ERROR, "conn_recv, c: %d", static_cast<int>(len));
    return -1;
  }
  if (c->strict) {
    for (int i = 4; i < CONN_HEADER; ++i)
      if (c->recv_frame[i] != 0) {
        log_message(LOG_ERROR, "conn_recv: bad header");
        return -1;
      }
  }
  n = read_full(c->socket, c->recv_frame + CONN_HEADER, padded);
  if (n != static_cast<long>(padded)) {
    log_message(LOG_ERROR, "conn_recv: %ld %d", n, static_cast<int>(padded));
    return -1;
  }
  cbc_decrypt_inplace(&c->recv_cipher, c->recv_frame + CONN_HEADER, padded);
  if (c->strict) {
    for (uint64_t i = len; i < padded; ++i)
      if (c->recv_frame[CONN_HEADER + i] != 0) {
        log_message(LOG_ERROR, "conn_recv: bad padding");
        return -1;
      }
  }
  c->recv_size = static_cast<int>(len);
  return 0;
}

int conn_read(Connection* c, void* out, size_t len) {
  uint8_t* o = static_cast<uint8_t*>(out);
  while (len > 0) {
    if (c->recv_pos >= c->recv_size && conn_recv(c) != 0) return -1;
    size_t take = std::min<size_t>(len, static_cast<size_t>(c->recv_size - c->recv_pos));
    std::memcpy(o, c->recv_frame + CONN_HEADER + c->recv_pos, take);
    c->recv_pos += static_cast<int>(take);
    o += take;
    len -= take;
  }
  return 0;
}

int conn_read_line(Connection* c, std::string* line, size_t max) {
  line->clear();
  for (;;) {
    char ch;
    if (conn_read(c, &ch, 1) != 0) return -1;
    if (ch == '\n') return 0;
    if (line->size() >= max) return -1;
    line->push_back(ch);
  }
}

void conn_skip_frame(Connection* c) { c->recv_pos = c->recv_size; }

void conn_close(Connection* c) {
  end_transfer(c);
  if (c->socket >= 0) {
    log_message(LOG_INFO, "conn_close: %d", c->socket);
    ::close(c->socket);
    c->socket = -1;
  }
  c->fill = 0;
  c->recv_size = c->recv_pos = 0;
}

void conn_set_timeout(int seconds) { g_timeout = seconds > 0 ? seconds : 0; }

int conn_get_timeout() { return g_timeout.load(); }

bool conn_timed_out() { return t_timed_out; }

int conn_connect(Connection* c, const char* host, int port, uint32_t account_id, const char* user,
                 const uint8_t* user_hash) {
  set_last_error(0);
  t_timed_out = false;
  conn_close(c);
  std::string name;
  if (!host || !*host || conn_split_host(host, port, &name, &port) != 0) {
    log_message(LOG_ERROR, "conn_connect(, %d)", port);
    set_last_error(CONN_ERR_NO_HOST);
    return -1;
  }
  if (user && !user_hash) {
    log_message(LOG_ERROR, "conn_connect: no userhash");
    set_last_error(CONN_ERR_NO_USERHASH);
    return -1;
  }
  if (user && std::strlen(user) > CONN_USER_MAX) {
    log_message(LOG_ERROR, "conn_connect: strlen(username) > 255");
    set_last_error(CONN_ERR_USER_TOO_LONG);
    return -1;
  }
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  struct addrinfo* res = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0 || !res) {
    log_message(LOG_ERROR, "conn_connect: name2addr(%s)", name.c_str());
    set_last_error(CONN_ERR_RESOLVE);
    return -1;
  }
  struct sockaddr_in addr;
  std::memcpy(&addr, res->ai_addr, sizeof addr);
  freeaddrinfo(res);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    log_message(LOG_ERROR, "conn_connect: socket");
    set_last_error(CONN_ERR_SOCKET);
    return -1;
  }
  if (connect_within(fd, addr, g_timeout.load()) != 0) {
    log_message(LOG_ERROR, "conn_connect: connect%s", t_timed_out ? " (timed out)" : "");
    ::close(fd);
    set_last_error(CONN_ERR_CONNECT);
    return -1;
  }
  c->socket = fd;
  log_message(LOG_INFO, "conn_connect: %d", fd);
  // Every send is a whole frame (at most 1408 bytes, within one segment);
  // holding it back for the peer's acknowledgement only adds latency.
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  page_cipher(&c->send_cipher, conn_bootstrap_key(), CIPHER_ENCRYPT);
  uint8_t r[32];
  random_bytes(r, sizeof r);
  uint8_t first[64] = {};
  std::memcpy(first, r, 32);
  if (conn_put(c, first, sizeof first) != 0 || conn_send(c) != 0) {
    OPENSSL_cleanse(r, sizeof r);
    conn_close(c);
    set_last_error(CONN_ERR_FIRST_FRAME);
    return -1;
  }
  OPENSSL_cleanse(first, sizeof first);
  uint8_t salt[4];
  long got = read_full(fd, salt, sizeof salt);
  if (got != 4) {
    OPENSSL_cleanse(r, sizeof r);
    log_message(LOG_ERROR, "conn_connect, salt: %ld", got);
    conn_close(c);
    set_last_error(CONN_ERR_SALT);
    return -1;
  }
  uint8_t mix[36];
  std::memcpy(mix, r, 32);
  std::memcpy(mix + 7, salt, 4);
  std::memcpy(mix + 32, salt, 4);
  uint8_t kc[32];
  sha256(kc, mix, sizeof mix);
  OPENSSL_cleanse(mix, sizeof mix);
  OPENSSL_cleanse(r, sizeof r);
  page_cipher(&c->send_cipher, kc, CIPHER_ENCRYPT);
  if (!user) {
    page_cipher(&c->recv_cipher, kc, CIPHER_DECRYPT);
    OPENSSL_cleanse(kc, sizeof kc);
    return 0;
  }
  OPENSSL_cleanse(kc, sizeof kc);
  uint8_t id[4] = {static_cast<uint8_t>(account_id), static_cast<uint8_t>(account_id >> 8),
                   static_cast<uint8_t>(account_id >> 16), static_cast<uint8_t>(account_id >> 24)};
  if (conn_put(c, id, 4) != 0 || conn_put(c, user, std::strlen(user) + 1) != 0 || conn_send(c) != 0) {
    conn_close(c);
    set_last_error(CONN_ERR_LOGIN_FRAME);
    return -1;
  }
  Sha256Context sc;
  sha256_init(&sc);
  sha256_update(&sc, user_hash, 32);
  uint8_t ku[32];
  derive_key_continue(&sc, salt, sizeof salt, 2, ku);
  OPENSSL_cleanse(&sc, sizeof sc);
  page_cipher(&c->send_cipher, ku, CIPHER_ENCRYPT);
  page_cipher(&c->recv_cipher, ku, CIPHER_DECRYPT);
  OPENSSL_cleanse(ku, sizeof ku);
  return 0;
}

int conn_send_file(Connection* c, const char* path, const char* name) {
  return send_file_impl(c, path, nullptr, name);
}

int conn_send_file_paged(Connection* c, const char* path, const uint8_t key[32], const char* name) {
  return send_file_impl(c, path, key, name);
}

int conn_send_memory(Connection* c, const char* name, const void* data, size_t len) {
  size_t n = std::strlen(name) + 1;
  if (n < 2 || n > CONN_NAME_MAX || len > 0xffffffffu) return -1;
  uint8_t entry[8];
  put_be32(entry, static_cast<uint32_t>(n));
  put_be32(entry + 4, static_cast<uint32_t>(len));
  if (c->fill + 8 + static_cast<int>(n) > CONN_PAYLOAD && conn_send(c) != 0) return -1;
  if (conn_put(c, entry, 8) != 0 || conn_put(c, name, n) != 0) return -1;
  if (len == 0) return conn_send(c);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t left = len;
  while (left > 0) {
    size_t take = std::min<size_t>(left, static_cast<size_t>(CONN_PAYLOAD - c->fill));
    if (conn_put(c, p, take) != 0) return -1;
    p += take;
    left -= take;
  }
  if (conn_send(c) != 0) return -1;
  uint8_t d[CONN_DIGEST];
  sha1(d, data, len);
  if (conn_put(c, d, sizeof d) != 0 || conn_send(c) != 0) return -1;
  return 0;
}

bool conn_name_allowed(const char* name) {
  size_t n = std::strlen(name);
  if (n >= 41 && name[39] == '/') return plain_name_ok(name, 39) && plain_name_ok(name + 40, n - 40);
  return plain_name_ok(name, n);
}

int recv_obj(Connection* c, std::string* name_out, const ConnProgress& progress, int mode, std::string* memory) {
  uint8_t entry[8];
  if (conn_read(c, entry, sizeof entry) != 0) {
    log_message(LOG_ERROR, "recv_obj: %s", "header");
    end_transfer(c);
    return -1;
  }
  uint32_t n = get_be32(entry);
  uint32_t b = get_be32(entry + 4);
  if (n >= 65) {
    log_message(LOG_ERROR, "receive: corrupted header 1");
    end_transfer(c);
    return -1;
  }
  if (b == 0) {
    if (mode == 1 && memory) memory->clear();
    end_transfer(c);
    return 0;
  }
  char name[CONN_NAME_MAX + 1] = {};
  if (conn_read(c, name, n) != 0) {
    log_message(LOG_ERROR, "recv_obj: %s", "path");
    end_transfer(c);
    return -1;
  }
  if (n == 0 || std::strlen(name) != n - 1) {
    log_message(LOG_ERROR, "receive: corrupted header 2");
    end_transfer(c);
    return -1;
  }
  if (c->max_body && b > c->max_body) {
    log_message(LOG_ERROR, "recv_obj: %s: body of %u bytes refused", name, b);
    end_transfer(c);
    return -1;
  }
  if (c->paged && b % CONN_BLOCK != 0) {
    // Checked again at the end; refusing now saves receiving the body.
    log_message(LOG_ERROR, "conn_recv_block: incomplete encryption");
    end_transfer(c);
    return -1;
  }
  c->name = name;
  std::string tmp = path_join(c->dir, "file.tmp");
  if (mode == 1) {
    if (!memory) {
      end_transfer(c);
      return -1;
    }
    memory->clear();
    memory->reserve(std::min<uint32_t>(b, 1u << 20));  // grows with what really arrives
    c->memory_target = memory;
  } else {
    if (!conn_name_allowed(name) || (c->accept_name && !c->accept_name(name))) {
      log_message(LOG_ERROR, "recv_obj: name refused: %s", name);
      end_transfer(c);
      return -1;
    }
    c->file = std::fopen(tmp.c_str(), "wb");
    if (!c->file) {
      log_message(LOG_ERROR, "receive: can't create file.tmp");
      end_transfer(c);
      return -1;
    }
  }
  c->total = static_cast<uint64_t>(b) + CONN_DIGEST;
  c->remaining = c->total;
  c->write_failed = false;
  sha1_init(&c->digest);
  int last = -1;
  int rc = 0;
  for (;;) {
    int done = conn_recv_block(c);
    if (progress) {
      int pct = static_cast<int>(100 - c->remaining * 100 / c->total);
      if (pct != last) {
        last = pct;
        progress(pct);
      }
    }
    if (done) break;
    if (conn_recv(c) != 0) {
      rc = -1;
      break;
    }
  }
  if (rc == 0) {
    uint8_t d[CONN_DIGEST];
    sha1_final(&c->digest, d);
    if (std::memcmp(d, c->digest_in, CONN_DIGEST) != 0) {
      log_message(LOG_ERROR, "conn_recv_block: different hash");
      rc = -1;
    } else if (c->paged && c->block_fill != 0) {
      log_message(LOG_ERROR, "conn_recv_block: incomplete encryption");
      rc = -1;
    } else if (c->write_failed) {
      log_message(LOG_ERROR, "conn_recv_block: fputc");
      rc = -1;
    }
  }
  bool to_file = c->file != nullptr;
  // A received file (a cloned repository) is on the disk before it takes
  // its name.
  if (c->file && rc == 0 && (std::fflush(c->file) != 0 || ::fsync(fileno(c->file)) != 0)) {
    log_message(LOG_ERROR, "conn_recv_block: fsync");
    rc = -1;
  }
  if (c->file && std::fclose(c->file) != 0 && rc == 0) {
    log_message(LOG_ERROR, "conn_recv_block: fputc");
    rc = -1;
  }
  c->file = nullptr;
  if (rc == 0 && to_file) rc = rename_tmp(c, tmp);
  if (rc != 0 && to_file) std::remove(tmp.c_str());
  if (rc != 0 && memory) memory->clear();
  end_transfer(c);
  if (rc == 0 && name_out) *name_out = c->name;
  return rc;
}

int recv_obj_paged(Connection* c, const uint8_t key[32], std::string* name_out, const ConnProgress& progress) {
  c->paged = true;
  std::memcpy(c->page_key, key, 32);
  c->block_fill = 0;
  return recv_obj(c, name_out, progress, 0);
}

int conn_accept(Connection* c, int fd, const ConnLookup& lookup, bool* anonymous, uint32_t* account_id,
                std::string* user) {
  conn_close(c);
  c->socket = fd;
  c->strict = true;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  page_cipher(&c->recv_cipher, conn_bootstrap_key(), CIPHER_DECRYPT);
  if (conn_recv(c) != 0 || c->recv_size != 64) {
    log_message(LOG_NOTICE, "conn_accept: first frame");
    return -1;
  }
  const uint8_t* p = c->recv_frame + CONN_HEADER;
  for (int i = 32; i < 64; ++i)
    if (p[i] != 0) {
      log_message(LOG_NOTICE, "conn_accept: first frame");
      return -1;
    }
  uint8_t salt[4];
  random_bytes(salt, sizeof salt);
  uint8_t mix[36];
  std::memcpy(mix, p, 32);
  std::memcpy(mix + 7, salt, 4);
  std::memcpy(mix + 32, salt, 4);
  conn_skip_frame(c);
  if (!send_full(fd, salt, sizeof salt)) return -1;
  uint8_t kc[32];
  sha256(kc, mix, sizeof mix);
  OPENSSL_cleanse(mix, sizeof mix);
  page_cipher(&c->recv_cipher, kc, CIPHER_DECRYPT);
  page_cipher(&c->send_cipher, kc, CIPHER_ENCRYPT);
  OPENSSL_cleanse(kc, sizeof kc);
  if (conn_recv(c) != 0) return -1;
  static const char kAnon[] = "password\n";
  const char* payload = reinterpret_cast<const char*>(c->recv_frame + CONN_HEADER);
  if (c->recv_size >= 9 && std::memcmp(payload, kAnon, 9) == 0) {
    *anonymous = true;
    return 0;
  }
  *anonymous = false;
  if (c->recv_size < 6 || payload[c->recv_size - 1] != 0) return -1;
  const uint8_t* q = c->recv_frame + CONN_HEADER;
  uint32_t id = uint32_t(q[0]) | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16) | (uint32_t(q[3]) << 24);
  std::string name(payload + 4);
  if (name.size() + 5 != static_cast<size_t>(c->recv_size) || name.size() > CONN_USER_MAX) return -1;
  conn_skip_frame(c);
  uint8_t hash[32];
  if (lookup(id, name, hash) != 0) {
    log_message(LOG_NOTICE, "conn_accept: unknown account %u", id);
    return -1;
  }
  Sha256Context sc;
  sha256_init(&sc);
  sha256_update(&sc, hash, 32);
  uint8_t ku[32];
  derive_key_continue(&sc, salt, sizeof salt, 2, ku);
  OPENSSL_cleanse(&sc, sizeof sc);
  OPENSSL_cleanse(hash, sizeof hash);
  page_cipher(&c->send_cipher, ku, CIPHER_ENCRYPT);
  page_cipher(&c->recv_cipher, ku, CIPHER_DECRYPT);
  OPENSSL_cleanse(ku, sizeof ku);
  *account_id = id;
  *user = name;
  return 0;
}
