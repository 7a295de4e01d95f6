// SPDX-License-Identifier: GPL-3.0-or-later
// Connection: handshake bytes, login keys, frame limits, file objects and
// hostile input, over loopback TCP.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/test_support.h"
#include "common/file_calls.h"
#include "peer.h"
#include "storage/repo.h"
#include "support/thread.h"
#include "sync/conn.h"

namespace {

long read_exact(int fd, void* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::recv(fd, static_cast<uint8_t*>(buf) + got, n - got, 0);
    if (r <= 0) return static_cast<long>(got);
    got += static_cast<size_t>(r);
  }
  return static_cast<long>(got);
}

uint32_t be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

using test_support::read_file;

// Client side of an anonymous conversation whose first frame makes the peer
// see an anonymous client.
int connect_anonymous(Connection* c, const std::string& host) {
  if (conn_connect(c, host.c_str(), 443, 0, nullptr, nullptr) != 0) return -1;
  if (conn_put_text(c, "password\nx\n") != 0) return -1;
  return conn_send(c);
}

// Peer: accepts an anonymous client, skips its first frame and runs fn.
LoopbackPeer* anonymous_peer(std::function<void(Connection*, int fd)> fn) {
  return new LoopbackPeer([fn](int fd) {
    Connection c;
    bool anon = false;
    uint8_t none[32] = {};
    if (peer_accept(&c, fd, 0, "", none, &anon) != 0 || !anon) return;
    conn_skip_frame(&c);
    fn(&c, fd);
  });
}

// Sends a file object built by hand: entry, name bytes (n of them), body,
// digest (optionally spoiled).
void put_object(Connection* c, uint32_t n, const char* name, const std::string& body, bool spoil_digest) {
  uint8_t e[8] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n),
                  uint8_t(body.size() >> 24), uint8_t(body.size() >> 16), uint8_t(body.size() >> 8),
                  uint8_t(body.size())};
  conn_put(c, e, 8);
  conn_put(c, name, n);
  for (size_t off = 0; off < body.size(); off += 1000)
    conn_put(c, body.data() + off, std::min<size_t>(1000, body.size() - off));
  uint8_t d[20];
  sha1(d, body.data(), body.size());
  if (spoil_digest) d[19] ^= 1;
  conn_put(c, d, 20);
  conn_send(c);
}

}  // namespace

// The handshake and login bytes, checked by a peer written from the
// primitives alone (not through the connection code).
TEST(ConnHandshake, BytesOnTheWireFollowTheProtocol) {
  const uint8_t salt[4] = {0xde, 0xad, 0xbe, 0xef};
  uint8_t user_hash[32];
  sha256(user_hash, "secret", 6);
  std::atomic<bool> peer_ok{false};
  std::string reply_seen;
  {
    LoopbackPeer peer([&](int fd) {
      uint8_t boot[32];
      derive_key_salted("ordika-v1", nullptr, 0, 10, boot);
      uint8_t f[80];
      if (read_exact(fd, f, 80) != 80) return;
      CipherContext d;
      page_cipher(&d, boot, CIPHER_DECRYPT);
      cbc_decrypt_inplace(&d, f, 80);
      if (be32(f) != 64) return;
      for (int i = 4; i < 16; ++i)
        if (f[i]) return;
      for (int i = 48; i < 80; ++i)
        if (f[i]) return;
      ::send(fd, salt, 4, 0);
      uint8_t mix[36];
      std::memcpy(mix, f + 16, 32);
      std::memcpy(mix + 7, salt, 4);
      std::memcpy(mix + 32, salt, 4);
      uint8_t kc[32];
      sha256(kc, mix, 36);
      // login frame: id little-endian, "alice", NUL -> 10 bytes, one block
      uint8_t lf[32];
      if (read_exact(fd, lf, 32) != 32) return;
      CipherContext d2;
      page_cipher(&d2, kc, CIPHER_DECRYPT);
      cbc_decrypt_inplace(&d2, lf, 32);
      if (be32(lf) != 10 || lf[16] != 0x78 || lf[17] != 0x56 || lf[18] != 0x34 || lf[19] != 0x12) return;
      if (std::memcmp(lf + 20, "alice", 6) != 0) return;
      // Ku: H = SHA-256(user hash, salt), then two AES-256-ECB passes under H.
      uint8_t buf[36];
      std::memcpy(buf, user_hash, 32);
      std::memcpy(buf + 32, salt, 4);
      uint8_t h[32], ku[32];
      sha256(h, buf, 36);
      CipherContext e;
      aes_set_key(&e, h, 32, nullptr, CIPHER_ENCRYPT);
      std::memcpy(ku, h, 32);
      aes_encrypt(&e, ku, ku, 32, MODE_ECB);
      aes_encrypt(&e, ku, ku, 32, MODE_ECB);
      // request under Ku, then a reply under Ku; the chain runs on
      uint8_t rq[32];
      if (read_exact(fd, rq, 32) != 32) return;
      CipherContext d3;
      page_cipher(&d3, ku, CIPHER_DECRYPT);
      cbc_decrypt_inplace(&d3, rq, 32);
      if (be32(rq) != 6 || std::memcmp(rq + 16, "ls\n.\n", 6) != 0) return;
      uint8_t out[64] = {};
      out[3] = 3;
      std::memcpy(out + 16, "ab\n", 3);
      out[32 + 3] = 2;
      std::memcpy(out + 48, "c\n", 2);
      CipherContext enc;
      page_cipher(&enc, ku, CIPHER_ENCRYPT);
      cbc_encrypt_inplace(&enc, out, 64);
      ::send(fd, out, 64, 0);
      peer_ok = true;
    });
    Connection c;
    ASSERT_EQ(0, conn_connect(&c, peer.host().c_str(), 443, 0x12345678, "alice", user_hash));
    ASSERT_EQ(0, conn_put_text(&c, "ls\n.\n"));
    c.send_frame[CONN_HEADER + 5] = 0;  // the NUL after the text travels too
    c.fill = 6;
    ASSERT_EQ(0, conn_send(&c));
    ASSERT_EQ(0, conn_recv(&c));
    reply_seen.assign(reinterpret_cast<char*>(c.recv_frame + CONN_HEADER), c.recv_size);
    ASSERT_EQ(0, conn_recv(&c));
    reply_seen.append(reinterpret_cast<char*>(c.recv_frame + CONN_HEADER), c.recv_size);
    conn_close(&c);
  }
  EXPECT_TRUE(peer_ok);
  EXPECT_EQ("ab\nc\n", reply_seen);
}

TEST(ConnHandshake, LoginWithWrongPasswordIsRefusedByThePeer) {
  uint8_t right[32], wrong[32];
  sha256(right, "right", 5);
  sha256(wrong, "wrong", 5);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const uint8_t* used = attempt == 0 ? right : wrong;
    std::atomic<int> peer_result{-2};
    {
      LoopbackPeer peer([&](int fd) {
        Connection c;
        bool anon = true;
        if (peer_accept(&c, fd, 7, "bob", right, &anon) != 0 || anon) return;
        std::string line;
        peer_result = conn_read_line(&c, &line, 32) == 0 && line == "ls" ? 0 : -1;
        if (peer_result == 0) {
          uint8_t z = 0;
          conn_put(&c, &z, 1);
          conn_send(&c);
        }
      });
      Connection c;
      ASSERT_EQ(0, conn_connect(&c, peer.host().c_str(), 443, 7, "bob", used));
      conn_put_text(&c, "ls\n.\n");
      ASSERT_EQ(0, conn_send(&c));
      int rc = conn_recv(&c);
      EXPECT_EQ(attempt == 0 ? 0 : -1, rc);
    }
    EXPECT_EQ(attempt == 0 ? 0 : -1, peer_result.load());
  }
}

TEST(ConnHandshake, ArgumentErrorsComeBeforeAnyNetworkActivity) {
  Connection c;
  set_last_error(99);
  EXPECT_EQ(-1, conn_connect(&c, "", 443, 0, nullptr, nullptr));
  EXPECT_EQ(CONN_ERR_NO_HOST, last_error());
  EXPECT_EQ(-1, conn_connect(&c, "127.0.0.1", 1, 1, "user", nullptr));
  EXPECT_EQ(CONN_ERR_NO_USERHASH, last_error());
  uint8_t h[32] = {};
  std::string long_user(256, 'u');
  EXPECT_EQ(-1, conn_connect(&c, "127.0.0.1", 1, 1, long_user.c_str(), h));
  EXPECT_EQ(CONN_ERR_USER_TOO_LONG, last_error());
  EXPECT_EQ(-1, c.socket);
  // a port nobody listens on
  int port;
  {
    LoopbackPeer peer([](int) {});
    port = peer.port();
    Connection k;
    conn_connect(&k, peer.host().c_str(), 443, 0, nullptr, nullptr);
  }
  std::string host = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(-1, conn_connect(&c, host.c_str(), 443, 0, nullptr, nullptr));
  EXPECT_EQ(CONN_ERR_CONNECT, last_error());
}

TEST(ConnHandshake, PeerThatClosesBeforeTheSaltGivesCode8) {
  LoopbackPeer peer([](int fd) {
    uint8_t f[80];
    read_exact(fd, f, 80);
    ::send(fd, "ab", 2, 0);
  });
  Connection c;
  EXPECT_EQ(-1, conn_connect(&c, peer.host().c_str(), 443, 0, nullptr, nullptr));
  EXPECT_EQ(CONN_ERR_SALT, last_error());
  EXPECT_EQ(-1, c.socket);
}

TEST(ConnHandshake, HostWithPortSplits) {
  std::string h;
  int p = 0;
  EXPECT_EQ(0, conn_split_host("example.org", 443, &h, &p));
  EXPECT_EQ("example.org", h);
  EXPECT_EQ(443, p);
  EXPECT_EQ(0, conn_split_host("10.0.0.1:8443", 443, &h, &p));
  EXPECT_EQ("10.0.0.1", h);
  EXPECT_EQ(8443, p);
  EXPECT_EQ(-1, conn_split_host("host:", 443, &h, &p));
  EXPECT_EQ(-1, conn_split_host("host:70000", 443, &h, &p));
  EXPECT_EQ(-1, conn_split_host(":80", 443, &h, &p));
}

TEST(ConnFrames, PayloadLimitsAndImmediateSendOfAFullFrame) {
  std::vector<int> sizes;
  std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int) {
    for (int i = 0; i < 3; ++i) {
      if (conn_recv(c) != 0) break;
      sizes.push_back(c->recv_size);
    }
  }));
  Connection c;
  ASSERT_EQ(0, connect_anonymous(&c, peer->host()));
  std::string big(1393, 'x');
  EXPECT_EQ(-1, conn_put(&c, big.data(), 1393));
  EXPECT_EQ(0, conn_put(&c, big.data(), 1392));
  EXPECT_EQ(0, c.fill);  // sent as soon as it was full
  EXPECT_EQ(0, conn_put(&c, big.data(), 1000));
  EXPECT_EQ(0, conn_put(&c, big.data(), 500));  // flushes the 1000 first
  EXPECT_EQ(500, c.fill);
  EXPECT_EQ(0, conn_send(&c));
  conn_close(&c);
  peer.reset();
  EXPECT_EQ((std::vector<int>{1392, 1000, 500}), sizes);
}

TEST(ConnFrames, HeadersAnnouncingZeroOrTooManyBytesFail) {
  for (uint32_t announced : {0u, 1393u, 0xffffffffu}) {
    std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int fd) {
      uint8_t f[32] = {};
      f[0] = uint8_t(announced >> 24);
      f[1] = uint8_t(announced >> 16);
      f[2] = uint8_t(announced >> 8);
      f[3] = uint8_t(announced);
      cbc_encrypt_inplace(&c->send_cipher, f, 32);
      ::send(fd, f, 32, 0);
    }));
    Connection c;
    ASSERT_EQ(0, connect_anonymous(&c, peer->host()));
    EXPECT_EQ(-1, conn_recv(&c)) << announced;
    conn_close(&c);
  }
}

TEST(ConnFrames, ShortFrameAndDroppedPeerFail) {
  std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int fd) {
    uint8_t f[48] = {};
    f[3] = 20;  // announces 20 bytes (32 padded) but only 16 follow
    cbc_encrypt_inplace(&c->send_cipher, f, 48);
    ::send(fd, f, 32, 0);
  }));
  Connection c;
  ASSERT_EQ(0, connect_anonymous(&c, peer->host()));
  EXPECT_EQ(-1, conn_recv(&c));
  conn_close(&c);
}

TEST(ConnObjects, FilesRoundTripPlainAndPaged) {
  ScratchDir dir("conn-rt");
  std::string body;
  for (int i = 0; i < 5000; ++i) body.push_back(static_cast<char>(i * 7));
  std::ofstream(dir.file("src.bin"), std::ios::binary) << body;
  // a page-encrypted file of 3 blocks
  uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
  std::string plain(3072, '\0');
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>(i % 251);
  std::string enc = plain;
  for (int b = 0; b < 3; ++b) {
    CipherContext ctx;
    page_cipher(&ctx, key, CIPHER_ENCRYPT);
    cbc_encrypt_inplace(&ctx, reinterpret_cast<uint8_t*>(&enc[b * 1024]), 1024);
  }
  std::ofstream(dir.file("pages.db"), std::ios::binary) << enc;

  std::string got_mem, got_name;
  std::vector<int> progress;
  int r1 = -9, r2 = -9;
  std::string recv_dir = dir.path() + "/in";
  ::mkdir(recv_dir.c_str(), 0700);
  std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int) {
    r1 = recv_obj(c, &got_name, [&](int p) { progress.push_back(p); }, 1, &got_mem);
    c->dir = recv_dir;
    r2 = recv_obj_paged(c, key);
  }));
  Connection c;
  ASSERT_EQ(0, connect_anonymous(&c, peer->host()));
  ASSERT_EQ(0, conn_send_file(&c, dir.file("src.bin").c_str()));
  ASSERT_EQ(0, conn_send_file_paged(&c, dir.file("pages.db").c_str(), key, "copy.db"));
  peer.reset();
  EXPECT_EQ(0, r1);
  EXPECT_EQ("src.bin", got_name);
  EXPECT_EQ(body, got_mem);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(100, progress.back());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(std::adjacent_find(progress.begin(), progress.end()), progress.end());  // only changes
  EXPECT_EQ(0, r2);
  EXPECT_EQ(enc, read_file(recv_dir + "/copy.db"));  // stored encrypted again
  EXPECT_FALSE(exists(recv_dir + "/file.tmp"));
  // a missing file is refused before anything is sent
  EXPECT_EQ(-1, conn_send_file(&c, dir.file("none").c_str()));
}

TEST(ConnObjects, NameLengthAndEarlyNulAreChecked) {
  struct Case {
    uint32_t n;
    std::string name;
    int expect;
  };
  std::vector<Case> cases = {
      {64, std::string(63, 'a'), 0},                    // 63 bytes plus NUL: accepted
      {65, std::string(64, 'a'), -1},                   // N = 65: corrupted header 1
      {10, std::string("abc\0defgh", 9), -1},           // early NUL: corrupted header 2
  };
  for (const Case& k : cases) {
    int got = -9;
    std::string mem;
    std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int) {
      got = recv_obj(c, nullptr, nullptr, 1, &mem);
    }));
    Connection c;
    ASSERT_EQ(0, connect_anonymous(&c, peer->host()));
    std::string name = k.name;
    name.resize(k.n, '\0');
    put_object(&c, k.n, name.data(), "hello", false);
    conn_close(&c);
    peer.reset();
    EXPECT_EQ(k.expect, got) << k.n;
    if (k.expect == 0) {
      EXPECT_EQ("hello", mem);
    }
  }
}

TEST(ConnObjects, HostileNamesAreRefusedWithoutWriting) {
  ScratchDir dir("conn-names");
  std::string inner = dir.path() + "/repo";
  ::mkdir(inner.c_str(), 0700);
  const std::string dir39(39, 'd');
  struct Case {
    std::string name;
    bool ok;
  };
  std::vector<Case> cases = {
      {"../../.bashrc", false}, {"../escape", false},    {"/tmp/abs", false},   {"a/b", false},
      {".", false},             {"..", false},           {".hidden", false},    {"tab\tname", false},
      {dir39 + "/../x", false}, {"list", true},          {dir39 + "/obj", true}, {"sync_1", true},
  };
  for (const Case& k : cases) {
    int got = -9;
    std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int) {
      c->dir = inner;
      got = recv_obj(c, nullptr, nullptr, 0);
    }));
    Connection c;
    ASSERT_EQ(0, connect_anonymous(&c, peer->host()));
    put_object(&c, static_cast<uint32_t>(k.name.size() + 1), k.name.c_str(), "payload", false);
    conn_close(&c);
    peer.reset();
    EXPECT_EQ(k.ok ? 0 : -1, got) << k.name;
    EXPECT_FALSE(exists(inner + "/file.tmp")) << k.name;
    if (k.ok) {
      EXPECT_EQ("payload", read_file(inner + "/" + k.name));
    }
  }
  EXPECT_FALSE(exists(dir.path() + "/.bashrc"));
  EXPECT_FALSE(exists(dir.path() + "/escape"));
  EXPECT_FALSE(exists("/tmp/abs"));
}

TEST(ConnObjects, CorruptTransfersAreNotRenamed) {
  ScratchDir dir("conn-bad");
  uint8_t key[32] = {1, 2, 3};
  enum { BAD_DIGEST, PAGED_PARTIAL, DROPPED, EMPTY_BODY };
  for (int kind : {BAD_DIGEST, PAGED_PARTIAL, DROPPED, EMPTY_BODY}) {
    int got = -9;
    std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int) {
      c->dir = dir.path();
      got = kind == PAGED_PARTIAL ? recv_obj_paged(c, key) : recv_obj(c, nullptr, nullptr, 0);
    }));
    Connection c;
    ASSERT_EQ(0, connect_anonymous(&c, peer->host()));
    std::string body(kind == PAGED_PARTIAL ? 1500 : 3000, 'q');
    if (kind == BAD_DIGEST) {
      put_object(&c, 7, "target", body, true);
    } else if (kind == PAGED_PARTIAL) {
      put_object(&c, 7, "target", body, false);
    } else if (kind == DROPPED) {
      uint8_t e[8] = {0, 0, 0, 7, 0, 0, 0x0b, 0xb8};
      conn_put(&c, e, 8);
      conn_put(&c, "target", 7);
      conn_put(&c, body.data(), 1000);
      conn_send(&c);
    } else {
      put_object(&c, 7, "target", "", false);
    }
    conn_close(&c);
    peer.reset();
    EXPECT_EQ(kind == EMPTY_BODY ? 0 : -1, got) << kind;
    EXPECT_FALSE(exists(dir.file("target"))) << kind;
    EXPECT_FALSE(exists(dir.file("file.tmp"))) << kind;
  }
}

TEST(ConnObjects, BodyLimitRefusesOversizedObjects) {
  int got = -9;
  std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int) {
    std::string mem;
    c->max_body = 100;
    got = recv_obj(c, nullptr, nullptr, 1, &mem);
  }));
  Connection c;
  ASSERT_EQ(0, connect_anonymous(&c, peer->host()));
  put_object(&c, 2, "x", std::string(101, 'z'), false);
  conn_close(&c);
  peer.reset();
  EXPECT_EQ(-1, got);

  // The limit itself is allowed: a refusal of everything would pass above.
  std::string mem;
  peer.reset(anonymous_peer([&](Connection* c, int) {
    c->max_body = 100;
    got = recv_obj(c, nullptr, nullptr, 1, &mem);
  }));
  Connection d;
  ASSERT_EQ(0, connect_anonymous(&d, peer->host()));
  put_object(&d, 2, "x", std::string(100, 'z'), false);
  conn_close(&d);
  peer.reset();
  EXPECT_EQ(0, got);
  EXPECT_EQ(std::string(100, 'z'), mem);
}

namespace {

struct CancelState {
  std::atomic<bool> started{false};
  std::atomic<bool> done{false};
  std::atomic<int> rc{0};
  std::atomic<int> code{0};
  pthread_t tid{};
  std::string host;
};

void* connect_worker(void* p) {
  auto* st = static_cast<CancelState*>(p);
  st->tid = pthread_self();
  st->started = true;
  Connection c;
  st->rc = conn_connect(&c, st->host.c_str(), 443, 0, nullptr, nullptr);
  st->code = last_error();
  st->done = true;
  return nullptr;
}

}  // namespace

// A cancel sends SIGALRM to the worker; its blocking wait for the salt
// returns and the connection fails like any receive error.
TEST(ConnCancel, SigalrmInterruptsABlockingReceive) {
  std::atomic<bool> release{false};
  LoopbackPeer peer([&](int fd) {
    uint8_t f[80];
    read_exact(fd, f, 80);
    for (int i = 0; i < 500 && !release; ++i) usleep(10000);  // never sends the salt
  });
  CancelState st;
  st.host = peer.host();
  ASSERT_EQ(0, start_worker(connect_worker, &st));
  for (int i = 0; i < 500 && !st.started; ++i) usleep(1000);
  ASSERT_TRUE(st.started);
  for (int i = 0; i < 200 && !st.done; ++i) {
    usleep(20000);
    pthread_kill(st.tid, SIGALRM);
  }
  for (int i = 0; i < 100 && !st.done; ++i) usleep(10000);
  release = true;
  ASSERT_TRUE(st.done);
  EXPECT_EQ(-1, st.rc.load());
  EXPECT_EQ(CONN_ERR_SALT, st.code.load());
}

// A received file (a cloned repository's "data") reaches the disk under its
// temporary name, takes its name, and the directory entry is synced; a
// write or sync that fails leaves neither name behind and reports failure, and
// a folder that cannot be synced after the rename fails the receive.
TEST(ConnObjects, ReceivedFilesAreDurableBeforeAndAfterTheirRename) {
  ScratchDir dir("conn-sync");
  std::string body(5000, 'd');
  char real[4096];
  ASSERT_TRUE(::realpath(dir.path().c_str(), real));
  std::string in = real;
  auto receive = [&](const char* name) {
    int got = -9;
    std::unique_ptr<LoopbackPeer> peer(anonymous_peer([&](Connection* c, int) {
      c->dir = in;
      got = recv_obj(c, nullptr, nullptr, 0);
    }));
    Connection c;
    EXPECT_EQ(0, connect_anonymous(&c, peer->host()));
    put_object(&c, uint32_t(std::strlen(name) + 1), name, body, false);
    conn_close(&c);
    peer.reset();
    return got;
  };

  file_calls::watch(in);
  ASSERT_EQ(0, receive("data"));
  std::vector<file_calls::Event> ev = file_calls::stop();
  long renamed = file_calls::find(ev, "rename", "/file.tmp");
  ASSERT_GE(renamed, 0) << file_calls::describe(ev);
  EXPECT_EQ(in + "/data", ev[size_t(renamed)].to);
  long synced = file_calls::find(ev, "fsync", "/file.tmp");
  EXPECT_GE(synced, 0) << file_calls::describe(ev);
  EXPECT_LT(synced, renamed) << file_calls::describe(ev);
  EXPECT_GE(file_calls::find(ev, "fsync", in, renamed + 1), 0) << "directory not synced\n" << file_calls::describe(ev);
  EXPECT_EQ(body, read_file(in + "/data"));

  // A full disk, then a failing sync: nothing is renamed into place.
  for (const char* call : {"write", "fsync"}) {
    file_calls::watch(in);
    file_calls::fail_at(1, std::string(call) == "write" ? ENOSPC : EIO, true, call);
    int got = receive("other");
    bool injected = file_calls::injected();
    file_calls::stop();
    EXPECT_TRUE(injected) << call;
    EXPECT_EQ(-1, got) << call;
    EXPECT_FALSE(exists(in + "/other")) << call;
    EXPECT_FALSE(exists(in + "/file.tmp")) << call;
  }

  // The folder's sync after the rename failing: the receive fails too.
  file_calls::watch(in);
  file_calls::fail_at(2, EIO, false, "fsync");  // the first is the file's own
  EXPECT_EQ(-1, receive("third"));
  ev = file_calls::stop();
  EXPECT_GE(file_calls::find(ev, "fsync!failed", in), 0) << file_calls::describe(ev);
}
