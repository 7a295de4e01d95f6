// SPDX-License-Identifier: GPL-3.0-or-later
// Connections dropped at every step of every request: a relay between the
// client and the server cuts each conversation after N bytes, at and inside
// every frame, in either direction (the handshake and login included).
// Afterwards nothing stored locally is lost, the repository still opens,
// the change logs keep what is still to be sent, and a clean retry
// finishes the work.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "common/test_support.h"
#include "fault_proxy.h"
#include "server_fixture.h"
#include "sync_client.h"

namespace {

bool never_there(const uint8_t*) { return false; }

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

using test_support::read_file;

std::string describe(const Cut& c) {
  return "connection " + std::to_string(c.conn) + (c.dir == TO_CLIENT ? " to client" : " to server") +
         " after " + std::to_string(c.after) + " bytes";
}

class Faults : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override {
    cfg->io_timeout = 5;
    cfg->log_to_file = false;
    cfg->fail_delay_ms = 0;  // most cuts break a login
    // The client log sent as a trace (about 10 KB) must fit, or the server
    // turns it away and the clean run races that refusal.
    cfg->trace_cap = 1 << 20;
  }
  void SetUp() override {
    ServerFixture::SetUp();
    proxy_ = std::make_unique<FaultProxy>(server_port(server_));
    via_ = alice_;
    via_.host = proxy_->host();
    derive_key("fault-pw", key_);
    seed_ = dir_.subdir("seed");
    DbHandle db(db_create_repo((seed_ + "/data").c_str(), key_));
    ASSERT_TRUE(db);
    ASSERT_EQ(0, put_object(db.get(), key_, false, 1, tag_string(zero_hex(), 10, "/"), nullptr));
    ASSERT_EQ(0, put_object(db.get(), key_, false, 2, item_header("note", 11), "first"));
    ASSERT_EQ(0, put_link(db.get(), key_, false, 1, 2));
  }
  void TearDown() override {
    proxy_.reset();
    ServerFixture::TearDown();
  }

  SyncClient Clone(const std::string& name) {
    SyncClient c;
    c.dir = dir_.subdir(name);
    std::memcpy(c.key, key_, 32);
    EXPECT_EQ(0, server_clone_repo(alice_, "r", "fault-pw", c.dir.c_str(), never_there));
    EXPECT_TRUE(c.open());
    return c;
  }

  // Waits (at most 10 s) until the server has finished every connection:
  // after a cut it may still be carrying out the request.
  void WaitServerIdle() {
    for (int i = 0; i < 1000 && server_active(server_) > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(0, server_active(server_));
  }

  std::unique_ptr<FaultProxy> proxy_;
  ServerLogin via_;  // alice through the relay
  uint8_t key_[32];
  std::string seed_;
};

}  // namespace

// Every connection of a sync (get list, get sync, put sync) cut in either
// direction at and inside every frame.
TEST_F(Faults, SyncCutAnywhereLosesNothingAndCompletesLater) {
  ASSERT_EQ(0, server_create_repo(alice_, "r", seed_.c_str(), key_));
  SyncClient a = Clone("a"), b = Clone("b");

  // The clean conversation: B has changed something (so A fetches), A has
  // changed something (so A uploads).
  int n = 0;
  auto step = [&](const Cut& cut) {
    uint8_t ua[16], ub[16];
    client_uuid(ua, 0, n);
    client_uuid(ub, 1, n);
    std::string ta = "a " + std::to_string(n), tb = "b " + std::to_string(n);
    ++n;
    EXPECT_EQ(0, put_item(b.db.get(), b.key, ub, item_header(tb, 100 + n), tb));
    EXPECT_EQ(0, sync_until_done(b, alice_, "r", SYNC_TAKE_SERVER, 5));
    EXPECT_EQ(0, put_item(a.db.get(), a.key, ua, item_header(ta, 100 + n), ta));
    proxy_->arm(cut);
    return sync_once(a, via_, "r", SYNC_TAKE_SERVER);
  };
  ASSERT_EQ(0, step(Cut{}));
  std::vector<ConnProfile> prof = proxy_->profile();
  ASSERT_EQ(3u, prof.size()) << "get list, get sync, put sync";
  ASSERT_EQ(0, sync_until_done(b, alice_, "r", SYNC_TAKE_SERVER, 5));

  std::vector<Cut> cuts = cuts_for(prof, 9);
  int failed = 0;
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(describe(cut));
    int rc = step(cut);
    proxy_->profile();
    WaitServerIdle();
    uint8_t ua[16];
    client_uuid(ua, 0, n - 1);
    // the repository opens and keeps every local change
    a.close();
    ASSERT_TRUE(a.open());
    EXPECT_EQ("ok", a.integrity());
    for (int j = 0; j < n; ++j) {
      uint8_t u[16];
      client_uuid(u, 0, j);
      EXPECT_EQ("a " + std::to_string(j), a.body(u)) << "local item " << j;
    }
    if (rc != 0) {
      ++failed;
      EXPECT_GT(a.pending(), 0) << "the change logs must keep the unsent change";
    }
    // a clean sync sends it, and B receives it
    ASSERT_EQ(0, sync_until_done(a, alice_, "r", SYNC_TAKE_SERVER, 5));
    EXPECT_EQ(0, a.pending());
    ASSERT_EQ(0, sync_until_done(b, alice_, "r", SYNC_TAKE_SERVER, 5));
    EXPECT_EQ("a " + std::to_string(n - 1), b.body(ua));
    EXPECT_EQ(a.rows(), b.rows());
  }
  EXPECT_GE(failed, static_cast<int>(cuts.size()) * 3 / 4) << "most cuts must make the sync fail";
  std::printf("sync: %zu cuts, %d failed syncs\n", cuts.size(), failed);
}

// The single requests cut at every frame: each fails cleanly (or finishes)
// and leaves neither half a repository on the server nor a half file here.
TEST_F(Faults, RequestsCutAnywhereFailCleanly) {
  ASSERT_EQ(0, server_create_repo(alice_, "r", seed_.c_str(), key_));
  std::string src = seed_ + "/data";
  std::string src_bytes = read_file(src);
  std::string log_file = dir_.file("client.log");
  {
    std::ofstream f(log_file);
    for (int i = 0; i < 400; ++i) f << "line " << i << " of the client log\n";
  }
  std::string trace_dir = dir_.subdir("trace");
  int seq = 0;

  // Whole server repository (clones and opens) or none at all.
  auto whole_or_absent = [&](const std::string& id) {
    std::vector<std::string> ids;
    ASSERT_EQ(0, server_list_repos(alice_, &ids));
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) return;
    std::string d = dir_.subdir("check" + std::to_string(seq++));
    EXPECT_EQ(0, server_clone_repo(alice_, id.c_str(), "fault-pw", d.c_str(), never_there)) << id;
  };

  struct Request {
    const char* name;
    std::function<int()> run;     // through the relay
    std::function<void(int)> check;  // afterwards, with its result
  };
  std::string clone_dir;
  std::string created;
  std::vector<Request> table = {
      {"ls",
       [&] {
         std::vector<std::string> ids;
         int rc = server_list_repos(via_, &ids);
         if (rc == 0) {
           EXPECT_EQ(std::vector<std::string>{"r"}, ids);
         }
         return rc;
       },
       [&](int) {}},
      {"create",
       [&] {
         created = "c" + std::to_string(seq++);
         return server_create_repo(via_, created.c_str(), seed_.c_str(), key_);
       },
       [&](int) {
         EXPECT_EQ(src_bytes, read_file(src)) << "the local repository is only read";
         whole_or_absent(created);
         server_delete_repo(alice_, created.c_str());
       }},
      {"clone",
       [&] {
         clone_dir = dir_.subdir("clone" + std::to_string(seq++));
         return server_clone_repo(via_, "r", "fault-pw", clone_dir.c_str(), never_there);
       },
       [&](int rc) {
         if (rc != 0) {
           EXPECT_FALSE(exists(clone_dir + "/data")) << "a broken transfer is never renamed into place";
         } else {
           SyncClient c;
           c.dir = clone_dir;
           std::memcpy(c.key, key_, 32);
           EXPECT_TRUE(c.open());
         }
       }},
      {"delete",
       [&] {
         created = "d" + std::to_string(seq++);
         EXPECT_EQ(0, server_create_repo(alice_, created.c_str(), seed_.c_str(), key_));
         return server_delete_repo(via_, created.c_str());
       },
       [&](int rc) {
         if (rc == 0) {
           std::vector<std::string> ids;
           ASSERT_EQ(0, server_list_repos(alice_, &ids));
           EXPECT_EQ(ids.end(), std::find(ids.begin(), ids.end(), created));
         }
         whole_or_absent(created);
         server_delete_repo(alice_, created.c_str());
       }},
      {"trace",
       [&] { return trace_send(via_, log_file.c_str(), trace_dir.c_str()); },
       [&](int) {
         DIR* d = ::opendir(trace_dir.c_str());
         ASSERT_NE(nullptr, d);
         int files = 0;
         while (struct dirent* e = ::readdir(d))
           if (e->d_name[0] != '.') ++files;
         ::closedir(d);
         EXPECT_EQ(0, files) << "the trace file is removed on every path";
       }},
  };

  for (const Request& req : table) {
    SCOPED_TRACE(req.name);
    proxy_->arm(Cut{});
    int rc = req.run();
    ASSERT_EQ(0, rc) << "clean run";
    std::vector<ConnProfile> prof = proxy_->profile();
    req.check(rc);
    ASSERT_EQ(1u, prof.size());
    std::vector<Cut> cuts = cuts_for(prof, 8);
    for (const Cut& cut : cuts) {
      SCOPED_TRACE(describe(cut));
      proxy_->arm(cut);
      rc = req.run();
      proxy_->profile();  // the relay is done
      WaitServerIdle();
      if (cut.dir == TO_CLIENT && cut.after < prof[0].ends[TO_CLIENT].back()) {
        // the client cannot have its whole reply
        if (std::string(req.name) != "trace") {
          EXPECT_NE(0, rc);
        }
      }
      req.check(rc);
    }
    // the server still serves
    std::vector<std::string> ids;
    EXPECT_EQ(0, server_list_repos(alice_, &ids));
  }
}

// The anonymous password change cut at every frame: the server holds
// either the old or the new password, never neither.
TEST_F(Faults, PasswordChangeCutKeepsOneValidPassword) {
  proxy_->arm(Cut{});
  ASSERT_EQ(0, server_password_change(proxy_->host().c_str(), "alice", "pw-alice", "pw-new"));
  std::vector<ConnProfile> prof = proxy_->profile();
  ASSERT_EQ(1u, prof.size());
  ASSERT_EQ(0, server_password_change(host_.c_str(), "alice", "pw-new", "pw-alice"));
  std::vector<Cut> cuts = cuts_for(prof, 5);
  ServerLogin with_new = Login("alice", alice_id_, "pw-new");
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(describe(cut));
    proxy_->arm(cut);
    int rc = server_password_change(proxy_->host().c_str(), "alice", "pw-alice", "pw-new");
    proxy_->profile();
    WaitServerIdle();
    std::vector<std::string> ids;
    if (server_list_repos(alice_, &ids) == 0) {
      EXPECT_NE(0, rc) << "reported as changed, but the old password still works";
      continue;
    }
    ASSERT_EQ(0, server_list_repos(with_new, &ids)) << "neither password works";
    ASSERT_EQ(0, server_password_change(host_.c_str(), "alice", "pw-new", "pw-alice"));
  }
}
