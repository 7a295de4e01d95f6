// SPDX-License-Identifier: GPL-3.0-or-later
// The single requests end to end against ordika-server on loopback.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/test_support.h"
#include "repo_helpers.h"
#include "server_fixture.h"
#include "storage/page_vfs.h"
#include "storage/repo.h"
#include "support/log.h"

namespace {

using test_support::read_file;

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

// A local repository directory with a database holding a root tag, an item
// and a link, under the key derived from password.
void make_repo(const std::string& dir, const char* password, uint8_t key[32]) {
  derive_key(password, key);
  DbHandle db(db_create_repo((dir + "/data").c_str(), key));
  ASSERT_TRUE(db);
  ASSERT_EQ(0, put_object(db.get(), key, false, 1, tag_string(zero_hex(), 10, "/"), nullptr));
  ASSERT_EQ(0, put_object(db.get(), key, false, 2, item_header("note", 11), "body text"));
  ASSERT_EQ(0, put_object(db.get(), key, false, 2, item_header("note v2", 12), "body text 2", true));
  ASSERT_EQ(0, put_link(db.get(), key, false, 1, 2));
}

bool never_there(const uint8_t*) { return false; }
bool always_there(const uint8_t*) { return true; }

}  // namespace

class Requests : public ServerFixture {
 protected:
  // The contents of alice's stored traces, as the store keeps them.
  std::vector<std::string> Traces() {
    std::string dir = cfg_.data_dir + "/traces";
    if (!cfg_.database.empty()) {
      dir = dir_.file("exported" + std::to_string(exports_++));
      if (server_export_traces(cfg_, dir) != 0) return {};
    }
    dir += "/" + std::to_string(alice_id_);
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') out.push_back(read_file(dir + "/" + e->d_name));
      ::closedir(d);
    }
    return out;
  }
  int exports_ = 0;
};

TEST_F(Requests, PasswordChangeNeedsTheCurrentPassword) {
  EXPECT_NE(0, server_password_change(host_.c_str(), "alice", "not-it", "new-pw"));
  EXPECT_NE(0, server_password_change(host_.c_str(), "nobody", "pw-alice", "new-pw"));
  EXPECT_EQ(0, server_password_change(host_.c_str(), "alice", "pw-alice", "new-pw"));
  std::vector<std::string> ids;
  // the old login no longer works, the new one does
  EXPECT_EQ(-1, server_list_repos(alice_, &ids));
  EXPECT_EQ(0, server_list_repos(Login("alice", alice_id_, "new-pw"), &ids));
  // a login with the right password but another account number fails
  EXPECT_EQ(-1, server_list_repos(Login("alice", alice_id_ + 1, "new-pw"), &ids));
}

TEST_F(Requests, CreateListCloneDelete) {
  std::vector<std::string> ids;
  ASSERT_EQ(0, server_list_repos(alice_, &ids));
  EXPECT_TRUE(ids.empty());

  std::string src = dir_.subdir("src");
  uint8_t key[32];
  make_repo(src, "repo-pw", key);
  ASSERT_EQ(0, server_create_repo(alice_, "work", src.c_str(), key));
  EXPECT_EQ(20u, read_file(src + "/list.hash").size());
  EXPECT_EQ(0, server_create_repo(alice_, "work", src.c_str(), key));  // the same creation again
  ASSERT_EQ(0, server_create_repo(alice_, "a", src.c_str(), key));
  ASSERT_EQ(0, server_list_repos(alice_, &ids));
  EXPECT_EQ((std::vector<std::string>{"a", "work"}), ids);

  // clone: wrong password, already there, then a good copy
  std::string d1 = dir_.subdir("c1"), d2 = dir_.subdir("c2"), d3 = dir_.subdir("c3");
  EXPECT_EQ(CLONE_WRONG_PASSWORD, server_clone_repo(alice_, "work", "bad-pw", d1.c_str(), never_there));
  EXPECT_EQ(CLONE_ALREADY_THERE, server_clone_repo(alice_, "work", "repo-pw", d2.c_str(), always_there));
  EXPECT_EQ(CLONE_BAD_REPLY, server_clone_repo(alice_, "nothing", "repo-pw", d3.c_str(), never_there));
  std::string d4 = dir_.subdir("c4");
  ASSERT_EQ(0, server_clone_repo(alice_, "work", "repo-pw", d4.c_str(), never_there));
  EXPECT_EQ(read_file(src + "/list.hash").size(), read_file(d4 + "/list.hash").size());
  {
    DbHandle db(db_open((d4 + "/data").c_str()));
    ASSERT_TRUE(db);
    page_db_key(db.get(), key, 32);
    uint8_t check[64];
    ASSERT_EQ(0, key_check_read(db.get(), check));
    EXPECT_EQ(0, key_check_verify(key, check));
    EXPECT_EQ(3, count_rows(db.get(), "SELECT * FROM t1"));
    EXPECT_EQ(1, count_rows(db.get(), "SELECT * FROM t1 WHERE c3=1"));
    EXPECT_EQ(1, count_rows(db.get(), "SELECT * FROM t2"));
    EXPECT_EQ(0, count_rows(db.get(), "SELECT * FROM t3"));
    EXPECT_EQ(1, count_rows(db.get(), "SELECT * FROM t5"));
    RepoDb r{db.get(), key, true};
    uint8_t u[16];
    uuid_of(u, 2);
    EXPECT_EQ("body text 2", object_read_current(r, u).substr(0, 11));
  }
  // the clone's file is page-encrypted: no plain text of the header inside
  EXPECT_EQ(std::string::npos, read_file(d4 + "/data").find("SQLite format"));

  EXPECT_EQ(0, server_delete_repo(alice_, "work"));
  EXPECT_EQ(SRV_NOT_FOUND, server_delete_repo(alice_, "work"));
  ASSERT_EQ(0, server_list_repos(alice_, &ids));
  EXPECT_EQ((std::vector<std::string>{"a"}), ids);
}

TEST_F(Requests, AccountsSeeOnlyTheirOwnRepositories) {
  int32_t bob_id = 0;
  ASSERT_EQ(0, server_user_add(cfg_, "bob", "pw-bob", &bob_id));
  EXPECT_EQ(1, server_user_add(cfg_, "bob", "other", nullptr));
  ServerLogin bob = Login("bob", bob_id, "pw-bob");
  std::string src = dir_.subdir("src");
  uint8_t key[32];
  make_repo(src, "repo-pw", key);
  ASSERT_EQ(0, server_create_repo(alice_, "shared-name", src.c_str(), key));
  std::vector<std::string> ids;
  ASSERT_EQ(0, server_list_repos(bob, &ids));
  EXPECT_TRUE(ids.empty());
  EXPECT_NE(0, server_delete_repo(bob, "shared-name"));
  std::string d = dir_.subdir("c");
  EXPECT_NE(0, server_clone_repo(bob, "shared-name", "repo-pw", d.c_str(), never_there));
  std::vector<ServerUser> users;
  ASSERT_EQ(0, server_users(cfg_, &users));
  ASSERT_EQ(2u, users.size());
  EXPECT_EQ("alice", users[0].name);
  EXPECT_EQ(1, users[0].repos);
  EXPECT_EQ(0, server_user_del(cfg_, "alice"));
  EXPECT_EQ(1, server_user_del(cfg_, "alice"));
  EXPECT_EQ(-1, server_list_repos(alice_, &ids));
}

TEST_F(Requests, CreateInterruptedMidUploadLeavesNoRepository) {
  std::string src = dir_.subdir("src");
  uint8_t key[32];
  make_repo(src, "repo-pw", key);
  {
    Connection c;
    ASSERT_EQ(0, server_connect(&c, alice_));
    ASSERT_EQ(0, conn_put_text(&c, "create repo\nhalf\n"));
    ASSERT_EQ(0, conn_send(&c));
    ASSERT_EQ(0, conn_recv(&c));
    ASSERT_EQ(1, c.recv_size);
    EXPECT_EQ(0, c.recv_frame[CONN_HEADER]);
    // entry of a 4096-byte "data" then only part of the body
    uint8_t e[8] = {0, 0, 0, 5, 0, 0, 0x10, 0};
    conn_put(&c, e, 8);
    conn_put(&c, "data", 5);
    std::string part(1000, 'x');
    conn_put(&c, part.data(), part.size());
    conn_send(&c);
    conn_close(&c);
  }
  std::vector<std::string> ids;
  for (int i = 0; i < 50; ++i) {  // the server notices the close asynchronously
    ASSERT_EQ(0, server_list_repos(alice_, &ids));
    if (ids.empty()) break;
  }
  EXPECT_TRUE(ids.empty());
  ASSERT_EQ(0, server_create_repo(alice_, "half", src.c_str(), key));
}

TEST_F(Requests, GarbageAndSilentClientsAreDropped) {
  // a client that sends random bytes instead of the first frame
  {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(server_port(server_)));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
    uint8_t junk[80];
    random_bytes(junk, sizeof junk);
    ::send(fd, junk, sizeof junk, 0);
    char b;
    EXPECT_LE(::recv(fd, &b, 1, 0), 0);  // closed without a salt
    ::close(fd);
  }
  // an anonymous client asking for something other than a password change
  {
    Connection c;
    ASSERT_EQ(0, conn_connect(&c, host_.c_str(), 443, 0, nullptr, nullptr));
    conn_put_text(&c, "ls\n.\n");
    conn_send(&c);
    EXPECT_EQ(-1, conn_recv(&c));
  }
  // the server still serves
  std::vector<std::string> ids;
  EXPECT_EQ(0, server_list_repos(alice_, &ids));
}

TEST_F(Requests, ManyClientsAtOnce) {
  std::string src = dir_.subdir("src");
  uint8_t key[32];
  make_repo(src, "repo-pw", key);
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::string id = "r" + std::to_string(t);
      std::string d = dir_.subdir("t" + std::to_string(t));
      if (std::system(("cp '" + src + "/data' '" + d + "/data'").c_str()) != 0) return;
      if (server_create_repo(alice_, id.c_str(), d.c_str(), key) == 0) ok++;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(8, ok.load());
  std::vector<std::string> ids;
  ASSERT_EQ(0, server_list_repos(alice_, &ids));
  EXPECT_EQ(8u, ids.size());
}

class UpdateRequests : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override {
    cfg->update_dir = dir_.subdir("updates");
    std::ofstream(cfg->update_dir + "/version") << "1.4.0\n92\n";
    std::ofstream(cfg->update_dir + "/notes") << "**New** things";
    std::ofstream(cfg->update_dir + "/lin64", std::ios::binary) << std::string(5000, 'g');
  }
};

TEST_F(UpdateRequests, VersionOfferDownloadAndScript) {
  char name[16];
  std::string notes;
  ASSERT_EQ(0, update_get_version(alice_, "en", name, sizeof name, &notes));
  EXPECT_STREQ("1.4.0", name);
  EXPECT_EQ("**New** things", notes);
  // a name that does not fit the caller's buffer offers nothing
  char tiny[4] = "x";
  EXPECT_NE(0, update_get_version(alice_, "en", tiny, sizeof tiny, &notes));
  EXPECT_STREQ("", tiny);

  std::string dl = dir_.subdir("dl");
  std::string file;
  std::vector<int> progress;
  ASSERT_EQ(0, update_download(alice_, "lin64", dl.c_str(), [&](int p) { progress.push_back(p); }, &file));
  EXPECT_EQ("ordika.gz", file);
  EXPECT_EQ(std::string(5000, 'g'), read_file(dl + "/" + file));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(100, progress.back());
  EXPECT_NE(0, update_download(alice_, "lin32", dl.c_str(), nullptr, &file));

  ASSERT_EQ(0, update_write_script(dl.c_str(), "ordika.gz"));
  EXPECT_EQ("gunzip -N 'ordika.gz'\nchmod 700 ordika\nmv ordika \"$(which ordika)\"\nordika\n",
            read_file(dl + "/ordika-updater"));
  ::unlink((dl + "/ordika-updater").c_str());
  for (const char* bad : {"x; rm -rf ~.gz", "$(id).gz", "../ordika.gz", "-f.gz", "ordika", "a'b.gz", ""}) {
    EXPECT_EQ(-1, update_write_script(dl.c_str(), bad)) << bad;
    EXPECT_FALSE(exists(dl + "/ordika-updater")) << bad;
  }
}

TEST_F(Requests, NoUpdateWithoutPackages) {
  char name[16] = "junk";
  std::string notes;
  EXPECT_EQ(0, update_get_version(alice_, "en", name, sizeof name, &notes));
  EXPECT_STREQ("", name);
}

TEST_F(Requests, TraceUploadSendsTheLogTailAndIsCapped) {
  std::string work = dir_.subdir("work");
  std::string log = work + "/ordika.log";
  // exactly 32000 bytes: whole; 32001: from the first line start within the last 32000
  std::string text;
  for (int i = 0; text.size() < 32000; ++i) text += "line " + std::to_string(i) + "\n";
  text.resize(32000);
  std::ofstream(log, std::ios::binary) << text;
  std::string got;
  ASSERT_EQ(0, trace_extract(log.c_str(), &got));
  EXPECT_EQ(text, got);
  std::ofstream(log, std::ios::binary) << "X" + text;
  ASSERT_EQ(0, trace_extract(log.c_str(), &got));
  size_t first_nl = text.find('\n');
  EXPECT_EQ(text.substr(first_nl + 1), got);

  std::ofstream(log, std::ios::binary) << "short trace\n";
  ASSERT_EQ(0, trace_send(alice_, log.c_str(), work.c_str()));
  std::vector<std::string> stored;
  for (int i = 0; i < 100 && stored.empty(); ++i) {
    usleep(20000);
    stored = Traces();
  }
  ASSERT_EQ(1u, stored.size());
  EXPECT_EQ("short trace\n", stored[0]);
  // the temporary "%lld.log" is gone from the work directory
  int left = 0;
  if (DIR* d = ::opendir(work.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::string(e->d_name).find(".log") != std::string::npos && std::string(e->d_name) != "ordika.log") ++left;
    ::closedir(d);
  }
  EXPECT_EQ(0, left);
  // a trace over the cap (4096 here) is refused: nothing of it is stored.
  // The upload gets no reply, so a small trace sent after it shows when the
  // server is done with it.
  std::ofstream(log, std::ios::binary) << std::string(8000, 'z');
  trace_send(alice_, log.c_str(), work.c_str());
  std::ofstream(log, std::ios::binary) << "after the cap\n";
  ASSERT_EQ(0, trace_send(alice_, log.c_str(), work.c_str()));
  for (int i = 0; i < 200; ++i) {
    stored = Traces();
    if (std::find(stored.begin(), stored.end(), "after the cap\n") != stored.end()) break;
    usleep(20000);
  }
  // (traces sent within one second share a name: the later one replaces)
  ASSERT_NE(std::find(stored.begin(), stored.end(), "after the cap\n"), stored.end());
  for (const std::string& t : stored) EXPECT_TRUE(t == "short trace\n" || t == "after the cap\n") << t.substr(0, 40);
  // Refused on arrival, not stored and then pruned: the server stored two
  // traces and turned one body away.
  ASSERT_EQ(0, log_flush());
  std::string server_log = read_file(cfg_.data_dir + "/server.log");
  size_t stored_lines = 0;
  for (size_t at = 0; (at = server_log.find("put trace ", at)) != std::string::npos; at++)
    stored_lines += std::isdigit(static_cast<unsigned char>(server_log[at + 10])) ? 1 : 0;  // "put trace <account>
  EXPECT_EQ(2u, stored_lines) << server_log;
  EXPECT_NE(std::string::npos, server_log.find("body of 8000 bytes refused")) << server_log;
}

class ShortTimeout : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override { cfg->io_timeout = 1; }
};

TEST_F(ShortTimeout, IdleConnectionsAreClosed) {
  Connection c;
  ASSERT_EQ(0, server_connect(&c, alice_));
  timeval tv{10, 0};  // the client itself would wait much longer
  setsockopt(c.socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, conn_recv(&c));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  std::vector<std::string> ids;
  EXPECT_EQ(0, server_list_repos(alice_, &ids));
}

class ShortSession : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override { cfg->max_session = 1; }
};

TEST_F(ShortSession, TricklingClientsAreCutAtTheDeadline) {
  Connection c;
  ASSERT_EQ(0, server_connect(&c, alice_));
  ASSERT_EQ(0, conn_put_text(&c, "create repo\nslow\n"));
  ASSERT_EQ(0, conn_send(&c));
  ASSERT_EQ(0, conn_recv(&c));
  uint8_t e[8] = {0, 0, 0, 5, 0, 0x10, 0, 0};
  conn_put(&c, e, 8);
  conn_put(&c, "data", 5);
  ASSERT_EQ(0, conn_send(&c));
  auto start = std::chrono::steady_clock::now();
  bool cut = false;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(8)) {
    uint8_t chunk[16] = {};
    if (conn_put(&c, chunk, sizeof chunk) != 0 || conn_send(&c) != 0) {
      cut = true;
      break;
    }
    usleep(200000);
  }
  EXPECT_TRUE(cut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  conn_close(&c);
  std::vector<std::string> ids;
  EXPECT_EQ(0, server_list_repos(alice_, &ids));
  EXPECT_TRUE(ids.empty());
}

TEST_F(Requests, RandomRequestsAfterLoginDoNotHurtTheServer) {
  const char* commands[] = {"ls\n", "create repo\n", "clone repo\n", "del repo\n", "get list\n",
                            "get sync\n", "put sync\n", "get version\n", "get update\n", "put trace\n", ""};
  for (int i = 0; i < 40; ++i) {
    Connection c;
    ASSERT_EQ(0, server_connect(&c, alice_));
    uint8_t rnd[1400];
    random_bytes(rnd, sizeof rnd);
    conn_put_text(&c, commands[i % 11]);
    size_t len = 1 + rnd[0] * 5 % 1300;
    conn_put(&c, rnd + 1, len);
    conn_send(&c);
    if (rnd[1] & 1) {
      conn_put(&c, rnd + 100, 1000);
      conn_send(&c);
    }
    // whatever comes back (a status, or the close) is fine; the server must stay up
    ::shutdown(c.socket, SHUT_WR);
    for (int k = 0; k < 3 && conn_recv(&c) == 0; ++k) {
    }
    conn_close(&c);
  }
  std::vector<std::string> ids;
  EXPECT_EQ(0, server_list_repos(alice_, &ids));
  EXPECT_TRUE(ids.empty());
}
