// SPDX-License-Identifier: GPL-3.0-or-later
// A sync against a server that answers badly at one step (frames announcing
// 0 or 1393 bytes, a wrong digest, a page-mode body that is not whole pages,
// names aimed at the client's own files, a junk listing, a dropped reply):
// the sync fails, the repository still opens with every row and every
// pending change, no stray file appears, and a later sync with the real
// server sends the change.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "common/test_support.h"
#include "server_fixture.h"
#include "sync_client.h"

namespace {

bool never_there(const uint8_t*) { return false; }

using test_support::read_file;

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> out;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (struct dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') out.insert(e->d_name);
    ::closedir(d);
  }
  return out;
}

// A frame whose header announces `announced` bytes, with `payload` after it.
void raw_frame(Connection* c, uint32_t announced, const std::string& payload) {
  std::string f(CONN_HEADER + ((payload.size() + 15) & ~size_t(15)), '\0');
  f[0] = static_cast<char>(announced >> 24);
  f[1] = static_cast<char>(announced >> 16);
  f[2] = static_cast<char>(announced >> 8);
  f[3] = static_cast<char>(announced);
  std::memcpy(&f[CONN_HEADER], payload.data(), payload.size());
  cbc_encrypt_inplace(&c->send_cipher, reinterpret_cast<uint8_t*>(&f[0]), f.size());
  ssize_t n = ::send(c->socket, f.data(), f.size(), MSG_NOSIGNAL);
  (void)n;
}

// A file object put together by hand: entry, name, body and digest (the
// digest of `digest_of`, normally the body itself).
void raw_object(Connection* c, const std::string& name, const std::string& body, const std::string& digest_of) {
  uint8_t e[8];
  uint32_t n = static_cast<uint32_t>(name.size() + 1), b = static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) {
    e[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
    e[4 + i] = static_cast<uint8_t>(b >> (24 - 8 * i));
  }
  std::string stream(reinterpret_cast<char*>(e), 8);
  stream += name;
  stream.push_back('\0');
  stream += body;
  uint8_t d[20];
  sha1(d, digest_of.data(), digest_of.size());
  stream.append(reinterpret_cast<char*>(d), 20);
  for (size_t off = 0; off < stream.size(); off += CONN_PAYLOAD) {
    std::string part = stream.substr(off, CONN_PAYLOAD);
    conn_put(c, part.data(), part.size());
    conn_send(c);
  }
}

// Serves consecutive connections on 127.0.0.1 with one account; `answer`
// replies to each request (command, the connection after the request's
// fixed part has been read).
class FakeServer {
 public:
  using Answer = std::function<void(const std::string& command, Connection* c)>;
  FakeServer(const ServerLogin& login, Answer answer) : login_(login), answer_(std::move(answer)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { loop(); });
  }
  ~FakeServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  void loop() {
    while (!stop_) {
      int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      timeval tv{5, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      Connection c;
      bool anon = false;
      uint32_t id = 0;
      std::string user;
      auto lookup = [&](uint32_t i, const std::string& u, uint8_t out[32]) {
        if (i != login_.account_id || u != login_.user) return -1;
        std::memcpy(out, login_.user_hash, 32);
        return 0;
      };
      std::string command, repo;
      uint8_t check[64];
      if (conn_accept(&c, fd, lookup, &anon, &id, &user) != 0 || conn_read_line(&c, &command, 32) != 0 ||
          conn_read_line(&c, &repo, 1000) != 0 || conn_read(&c, check, 64) != 0)
        continue;
      answer_(command, &c);
      ::shutdown(c.socket, SHUT_WR);
      char b;
      while (::recv(c.socket, &b, 1, 0) > 0) {
      }
    }
  }
  ServerLogin login_;
  Answer answer_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class HostileSync : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override { cfg->log_to_file = false; }
  void SetUp() override {
    ServerFixture::SetUp();
    a_.dir = dir_.subdir("a");
    derive_key("hostile-pw", a_.key);
    {
      DbHandle db(db_create_repo((a_.dir + "/data").c_str(), a_.key));
      ASSERT_TRUE(db);
      ASSERT_EQ(0, put_object(db.get(), a_.key, false, 1, tag_string(zero_hex(), 10, "/"), nullptr));
      ASSERT_EQ(0, put_object(db.get(), a_.key, false, 2, item_header("note", 11), "first"));
      ASSERT_EQ(0, put_link(db.get(), a_.key, false, 1, 2));
    }
    ASSERT_EQ(0, server_create_repo(alice_, "r", a_.dir.c_str(), a_.key));
    ASSERT_TRUE(a_.open());
    // The listing a truthful server would give now: what A holds.
    list_ = dir_.file("fake-list");
    {
      DbHandle l(db_create_snapshot(list_.c_str(), nullptr));
      ASSERT_TRUE(l);
      ASSERT_EQ(SQLITE_OK, db_exec(l.get(), "BEGIN;"));
      Stmt s;
      stmt_prepare(a_.db.get(), "SELECT c1, c2, c3 FROM t1 ORDER BY c1, c2", &s);
      while (sqlite3_step(s.get()) == SQLITE_ROW) {
        Stmt ins;
        stmt_prepare(l.get(), "INSERT INTO s3 VALUES (?,?,?)", &ins);
        for (int i = 0; i < 3; ++i) sqlite3_bind_value(ins.get(), i + 1, sqlite3_column_value(s.get(), i));
        ASSERT_EQ(SQLITE_DONE, sqlite3_step(ins.get()));
      }
      Stmt t;
      stmt_prepare(a_.db.get(), "SELECT c1, c2 FROM t2 ORDER BY c1, c2", &t);
      while (sqlite3_step(t.get()) == SQLITE_ROW) {
        Stmt ins;
        stmt_prepare(l.get(), "INSERT INTO s2 VALUES (?,?)", &ins);
        for (int i = 0; i < 2; ++i) sqlite3_bind_value(ins.get(), i + 1, sqlite3_column_value(t.get(), i));
        ASSERT_EQ(SQLITE_DONE, sqlite3_step(ins.get()));
      }
      ASSERT_EQ(SQLITE_OK, db_exec(l.get(), "COMMIT;"));
    }
    // A listing with one more version than A holds, so that A asks for it.
    list_more_ = dir_.file("fake-list-more");
    ASSERT_EQ(0, std::system(("cp '" + list_ + "' '" + list_more_ + "'").c_str()));
    {
      DbHandle l(db_open(list_more_.c_str()));
      ASSERT_TRUE(l);
      ASSERT_EQ(SQLITE_OK, db_exec(l.get(), "INSERT INTO s3 VALUES (x'7700000000000000000000000000005a', "
                                            "x'0102030405060708090a0b0c0d0e0f1011121314', 0)"));
    }
    // The local change that is still to be sent.
    ASSERT_EQ(0, put_object(a_.db.get(), a_.key, true, 2, item_header("note", 50), "pending change", true));
    ASSERT_GT(a_.pending(), 0);
  }

  // The normal answers, except `bad` at the request `at`.
  FakeServer::Answer answers(const std::string& at, const std::string& list,
                             std::function<void(Connection*)> bad) {
    return [=, this](const std::string& command, Connection* c) {
      seen_.push_back(command);
      if (command == at) return bad(c);
      if (command == "get list") {
        std::string state(20, 's');
        conn_put(c, state.data(), 20);
        conn_send(c);
        conn_send_file(c, list.c_str(), "list");
      } else if (command == "get sync") {
        std::string objs;
        recv_obj(c, nullptr, nullptr, 1, &objs);
        raw_frame(c, 1, std::string(1, '\xff'));
      } else if (command == "put sync") {
        uint8_t state[20];
        conn_read(c, state, 20);
        raw_frame(c, 1, std::string(1, '\x02'));
      }
    };
  }

  // Runs one sync against the fake server and checks that nothing here was
  // lost; returns the sync's result.
  int SyncAgainst(const FakeServer::Answer& answer, bool stage1) {
    std::set<std::string> rows = a_.rows();
    int pending = a_.pending();
    std::string data = read_file(a_.dir + "/data");
    int rc;
    {
      FakeServer fake(alice_, answer);
      ServerLogin via = alice_;
      via.host = fake.host();
      rc = sync_once(a_, via, "r", SYNC_TAKE_SERVER);
    }
    a_.close();
    EXPECT_TRUE(a_.open());
    EXPECT_EQ("ok", a_.integrity());
    EXPECT_TRUE(rows == a_.rows()) << "stored rows changed";
    EXPECT_EQ(pending, a_.pending()) << "the change logs must keep what is to be sent";
    uint8_t u[16];
    uuid_of(u, 2);
    EXPECT_EQ("pending change", a_.body(u));
    for (const std::string& f : files_in(a_.dir)) {
      static const std::set<std::string> ok = {"data", "list", "list.hash", "sync.objs", "sync_1", "sync_2"};
      EXPECT_TRUE(ok.count(f)) << "stray file " << f;
    }
    if (stage1) {
      EXPECT_EQ(data, read_file(a_.dir + "/data")) << "a failed stage 1 writes nothing to data";
    }
    return rc;
  }

  SyncClient a_;
  std::string list_, list_more_;
  std::vector<std::string> seen_;  // requests the fake server answered
};

}  // namespace

TEST_F(HostileSync, BadRepliesLoseNothingAndTheRealServerGetsTheChange) {
  struct Case {
    const char* name;
    const char* at;
    bool more;  // listing with a version to fetch
    std::function<void(Connection*)> bad;
  };
  const std::string page(1024, 'P');
  std::vector<Case> cases = {
      {"list: frame of 0 bytes", "get list", false, [](Connection* c) { raw_frame(c, 0, std::string(16, 'z')); }},
      {"list: frame of 1393 bytes", "get list", false,
       [](Connection* c) { raw_frame(c, 1393, std::string(1392, 'z')); }},
      {"list: no state, only a status 0", "get list", false, [](Connection* c) { raw_frame(c, 1, std::string(1, '\0')); }},
      {"list: 7-byte reply", "get list", false, [](Connection* c) { raw_frame(c, 7, "1234567"); }},
      {"list: bad digest", "get list", false,
       [page](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_object(c, "list", page, page + "x");
       }},
      {"list: 1000-byte page-mode body", "get list", false,
       [](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_object(c, "list", std::string(1000, 'q'), std::string(1000, 'q'));
       }},
      {"list: junk listing", "get list", false,
       [page](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_object(c, "list", page, page);
       }},
      {"list: named data", "get list", false,
       [page](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_object(c, "data", page, page);
       }},
      {"list: named ../data", "get list", false,
       [page](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_object(c, "../data", page, page);
       }},
      {"list: named list.hash", "get list", false,
       [page](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_object(c, "list.hash", page, page);
       }},
      {"list: directory form", "get list", false,
       [page](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_object(c, std::string(39, 'd') + "/list", page, page);
       }},
      {"list: name of 64 bytes", "get list", false,
       [page](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_object(c, std::string(64, 'n'), page, page);
       }},
      {"list: dropped mid-object", "get list", false,
       [](Connection* c) {
         raw_frame(c, 20, std::string(20, 's'));
         raw_frame(c, 40, std::string("\0\0\0\5\0\0\x10\0list\0", 13) + std::string(27, 'x'));
       }},
      {"sync_1: frame of 0 bytes", "get sync", true, [](Connection* c) { raw_frame(c, 0, std::string(16, 'z')); }},
      {"sync_1: frame of 1393 bytes", "get sync", true,
       [](Connection* c) { raw_frame(c, 1393, std::string(1392, 'z')); }},
      {"sync_1: bad digest", "get sync", true,
       [page](Connection* c) {
         std::string objs;
         recv_obj(c, nullptr, nullptr, 1, &objs);
         raw_object(c, "sync_1", page, page + "x");
       }},
      {"sync_1: 1000-byte page-mode body", "get sync", true,
       [](Connection* c) {
         std::string objs;
         recv_obj(c, nullptr, nullptr, 1, &objs);
         raw_object(c, "sync_1", std::string(1000, 'q'), std::string(1000, 'q'));
       }},
      {"sync_1: named data", "get sync", true,
       [page](Connection* c) {
         std::string objs;
         recv_obj(c, nullptr, nullptr, 1, &objs);
         raw_object(c, "data", page, page);
       }},
      {"sync_1: dropped", "get sync", true, [](Connection*) {}},
      {"put: frame of 0 bytes", "put sync", false, [](Connection* c) { raw_frame(c, 0, std::string(16, 'z')); }},
      {"put: frame of 1393 bytes", "put sync", false,
       [](Connection* c) { raw_frame(c, 1393, std::string(1392, 'z')); }},
      {"put: failure byte", "put sync", false, [](Connection* c) { raw_frame(c, 1, std::string(1, '\xff')); }},
      {"put: dropped after go-ahead", "put sync", false,
       [](Connection* c) {
         uint8_t state[20];
         conn_read(c, state, 20);
         raw_frame(c, 1, std::string(1, '\0'));
         std::string snap;
         recv_obj(c, nullptr, nullptr, 1, &snap);
       }},
      {"put: 2-byte final reply", "put sync", false,
       [](Connection* c) {
         uint8_t state[20];
         conn_read(c, state, 20);
         raw_frame(c, 1, std::string(1, '\0'));
         std::string snap;
         recv_obj(c, nullptr, nullptr, 1, &snap);
         raw_frame(c, 2, std::string(2, '\0'));
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    seen_.clear();
    int rc = SyncAgainst(answers(k.at, k.more ? list_more_ : list_, k.bad), std::string(k.at) != "put sync");
    EXPECT_NE(0, rc);
    EXPECT_EQ(k.at, seen_.empty() ? std::string() : seen_.back()) << "the bad answer was given";
  }
  // The stale answer of the fake server's put: "sync again".
  EXPECT_EQ(1, SyncAgainst(answers("", list_, nullptr), false));

  // The real server takes the change, and another copy receives it.
  ASSERT_EQ(0, sync_until_done(a_, alice_, "r", SYNC_TAKE_SERVER, 3));
  EXPECT_EQ(0, a_.pending());
  SyncClient b;
  b.dir = dir_.subdir("b");
  std::memcpy(b.key, a_.key, 32);
  ASSERT_EQ(0, server_clone_repo(alice_, "r", "hostile-pw", b.dir.c_str(), never_there));
  ASSERT_TRUE(b.open());
  uint8_t u[16];
  uuid_of(u, 2);
  EXPECT_EQ("pending change", b.body(u));
}

// Listings and snapshots outside the format (a view, a trigger, a table of
// the wrong shape) are read as bad replies: the sync goes no further and
// nothing here changes.
TEST_F(HostileSync, ServerFilesOutsideTheFormatAreNotRead) {
  const char* extras[] = {"CREATE VIEW v AS SELECT 1;", "CREATE TRIGGER x AFTER INSERT ON s2 BEGIN SELECT 1; END;",
                          "DROP TABLE s1; CREATE TABLE s1(c1, c2, c3 INT, c4, c5, c6);"};
  int n = 0;
  for (const char* extra : extras) {
    SCOPED_TRACE(extra);
    std::string bad = dir_.file("bad-list-" + std::to_string(n++));
    ASSERT_EQ(0, std::system(("cp '" + list_more_ + "' '" + bad + "'").c_str()));
    {
      DbHandle l(db_open(bad.c_str()));
      ASSERT_TRUE(l);
      ASSERT_EQ(SQLITE_OK, db_exec(l.get(), extra));
    }
    seen_.clear();
    SyncAgainst(answers("", bad, nullptr), true);
    EXPECT_EQ(std::vector<std::string>{"get list"}, seen_) << "went on after a foreign listing";
    // the same shapes as "sync_1"
    seen_.clear();
    SyncAgainst(answers("get sync", list_more_,
                        [&](Connection* c) {
                          std::string objs;
                          recv_obj(c, nullptr, nullptr, 1, &objs);
                          conn_send_file(c, bad.c_str(), "sync_1");
                        }),
                false);
    EXPECT_TRUE(std::find(seen_.begin(), seen_.end(), "put sync") == seen_.end()) << "sent after a foreign sync_1";
  }
}
