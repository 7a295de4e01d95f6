// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary server replies fed to the client's frame reader, line reader
// and file-object receiver through a socketpair. The input is the plain
// stream the fake server sends: repeated [4-byte announced length][payload]
// (the announced length is used as given, so 0, 1393 or huge values reach
// conn_recv), each frame encrypted here on the CBC chain as a real server
// would. The first byte picks what the client does with the stream.
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "sync/conn.h"

namespace {

const uint8_t kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9};

char g_scratch[64];

const std::string& scratch() {
  static std::string dir = [] {
    std::snprintf(g_scratch, sizeof g_scratch, "/tmp/fuzz-frames-XXXXXX");
    if (!::mkdtemp(g_scratch)) std::abort();
    std::atexit([] { ::rmdir(g_scratch); });
    return std::string(g_scratch);
  }();
  return dir;
}

// Only "list", "sync_1" and the transfer file may ever appear; everything
// found is removed for the next run.
void check_and_clear(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) std::abort();
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(d))
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
  ::closedir(d);
  for (const std::string& n : names) {
    if (n != "list" && n != "sync_1" && n != "file.tmp") {
      std::fprintf(stderr, "unexpected file written: %s\n", n.c_str());
      std::abort();
    }
    std::remove((dir + "/" + n).c_str());
  }
}

// Encrypts the input's frames onto the chain of the fake server.
std::string build_stream(const uint8_t* data, size_t size) {
  CipherContext send;
  page_cipher(&send, kKey, CIPHER_ENCRYPT);
  std::string out;
  size_t pos = 0;
  while (pos + 4 <= size && out.size() < 100000) {
    uint32_t announced = (uint32_t(data[pos]) << 24) | (uint32_t(data[pos + 1]) << 16) |
                         (uint32_t(data[pos + 2]) << 8) | uint32_t(data[pos + 3]);
    pos += 4;
    size_t want = (static_cast<size_t>(announced) + 15) & ~size_t(15);
    if (want > CONN_PAYLOAD) want = CONN_PAYLOAD;  // the reader gives up on such a header anyway
    size_t take = std::min(want, size - pos);
    uint8_t frame[CONN_FRAME] = {};
    frame[0] = data[pos - 4];
    frame[1] = data[pos - 3];
    frame[2] = data[pos - 2];
    frame[3] = data[pos - 1];
    std::memcpy(frame + CONN_HEADER, data + pos, take);
    pos += take;
    size_t total = CONN_HEADER + ((take + 15) & ~size_t(15));
    cbc_encrypt_inplace(&send, frame, total);
    out.append(reinterpret_cast<char*>(frame), total);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 60000) return 0;
  int mode = data[0] % 6;
  std::string stream = build_stream(data + 1, size - 1);
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  int buf = 1 << 20;
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
  setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
  size_t sent = 0;
  while (sent < stream.size()) {
    ssize_t n = ::send(sv[1], stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::close(sv[1]);  // the peer is done: every read ends

  const std::string& dir = scratch();
  {
    Connection c;
    c.socket = sv[0];
    page_cipher(&c.recv_cipher, kKey, CIPHER_DECRYPT);
    c.max_body = 1u << 20;
    std::string name, memory, line;
    switch (mode) {
      case 0:  // a reply received into memory (release notes)
        recv_obj(&c, &name, nullptr, 1, &memory);
        break;
      case 1:  // a plain file object: only the expected name is written
        c.dir = dir;
        c.accept_name = [](const char* n) { return std::strcmp(n, "list") == 0; };
        recv_obj(&c, &name, nullptr, 0);
        break;
      case 2:  // "get list": state identifier, then "list" page-encrypted
        c.dir = dir;
        c.accept_name = [](const char* n) { return std::strcmp(n, "list") == 0; };
        if (conn_recv(&c) == 0 && c.recv_size == CONN_DIGEST) {
          conn_skip_frame(&c);
          recv_obj_paged(&c, kKey, &name);
        }
        break;
      case 3:  // "get sync": any frame but a 1-byte status, then "sync_1"
        c.dir = dir;
        c.accept_name = [](const char* n) { return std::strcmp(n, "sync_1") == 0; };
        if (conn_recv(&c) == 0 && c.recv_size != 1) recv_obj_paged(&c, kKey, &name);
        break;
      case 4:  // "ls": identifier lines until the stream ends
        for (int i = 0; i < 1000 && conn_read_line(&c, &line, 1000) == 0; ++i) {
        }
        break;
      default: {  // raw frames and byte reads
        uint8_t b[64];
        for (int i = 0; i < 1000; ++i) {
          size_t n = 1 + (i * 7) % sizeof b;
          if (conn_read(&c, b, n) != 0) break;
        }
        break;
      }
    }
    if (mode == 1 && !name.empty() && name != "list") std::abort();
    if ((mode == 2 || mode == 3) && !name.empty() && name != "list" && name != "sync_1") std::abort();
  }
  check_and_clear(dir);
  return 0;
}
