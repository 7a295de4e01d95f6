// SPDX-License-Identifier: GPL-3.0-or-later
// A server that names its files after the client's own ones: the client
// writes only the file each request expects.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "common/test_support.h"
#include "peer.h"
#include "storage/db.h"
#include "sync/requests.h"
#include "sync/sync.h"

namespace {

using test_support::read_file;

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

const uint8_t kHash[32] = {9, 8, 7};

// Logs the client in, reads one request line and answers with `first` (a
// frame of its own, when not empty) followed by a file object of 1024
// bytes under the given name.
LoopbackPeer* lying_server(const std::string& first, const std::string& name) {
  return new LoopbackPeer([first, name](int fd) {
    Connection c;
    bool anon = true;
    if (peer_accept(&c, fd, 1, "u", kHash, &anon) != 0) return;
    std::string line;
    if (conn_read_line(&c, &line, 64) != 0) return;
    conn_skip_frame(&c);
    if (!first.empty()) {
      conn_put(&c, first.data(), first.size());
      conn_send(&c);
    }
    std::string body(1024, 'E');
    conn_send_memory(&c, name.c_str(), body.data(), body.size());
    usleep(100000);
  });
}

ServerLogin login_at(const LoopbackPeer& p) {
  ServerLogin l;
  l.host = p.host();
  l.account_id = 1;
  l.user = "u";
  std::memcpy(l.user_hash, kHash, 32);
  return l;
}

}  // namespace

TEST(HostileServer, ListNamedLikeTheRepositoryDatabaseIsRefused) {
  ScratchDir dir("hostile-list");
  uint8_t key[32] = {1};
  { DbHandle db(db_create_repo(dir.file("data").c_str(), key)); ASSERT_TRUE(db); }
  std::string before = read_file(dir.file("data"));
  std::unique_ptr<LoopbackPeer> peer(lying_server(std::string(20, 's'), "data"));
  SyncSession s;
  s.dir = dir.path();
  std::memcpy(s.key, key, 32);
  s.server_id = "r";
  s.login = login_at(*peer);
  EXPECT_NE(0, recv_repo_list(&s));
  peer.reset();
  EXPECT_FALSE(s.have_sets);
  EXPECT_EQ(before, read_file(dir.file("data")));
  EXPECT_EQ(-1, send_sync_objs(&s));  // nothing to apply without the sets
}

TEST(HostileServer, UpdateOnlyUnderAPackageName) {
  ScratchDir dir("hostile-update");
  std::ofstream(dir.file("config")) << "precious";
  for (const char* name : {"config", "ordika", "x.gz;rm", "ordika.gz"}) {
    std::unique_ptr<LoopbackPeer> peer(lying_server("", name));
    std::string got;
    int rc = update_download(login_at(*peer), "lin64", dir.path().c_str(), nullptr, &got);
    peer.reset();
    bool ok = std::string(name) == "ordika.gz";
    EXPECT_EQ(ok ? 0 : -1, rc) << name;
    if (ok) {
      EXPECT_EQ(std::string(1024, 'E'), read_file(dir.file(name)));
    }
  }
  EXPECT_EQ("precious", read_file(dir.file("config")));
  EXPECT_FALSE(exists(dir.file("ordika")));
  EXPECT_FALSE(exists(dir.file("file.tmp")));
}

TEST(HostileServer, CloneOnlyWritesData) {
  ScratchDir dir("hostile-clone");
  std::unique_ptr<LoopbackPeer> peer(lying_server(std::string(20, 's'), "list.hash"));
  EXPECT_NE(0, server_clone_repo(login_at(*peer), "r", "pw", dir.path().c_str(), nullptr));
  peer.reset();
  EXPECT_EQ(std::string(20, 's'), read_file(dir.file("list.hash")));
  EXPECT_FALSE(exists(dir.file("data")));
}
