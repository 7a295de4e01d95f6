// SPDX-License-Identifier: GPL-3.0-or-later
// The server against hostile clients: uploads whose schema is not the
// format's, oversized rows, sockets that never log in, password guessing,
// a stop while conversations run; and the statuses a client relies on.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "fault_proxy.h"
#include "raw_requests.h"
#include "repo_helpers.h"
#include "server_fixture.h"
#include "server_process.h"
#include "storage/page_vfs.h"
#include "support/log.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string slurp(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// dir/"data": a keyed repository database made of `schema` (with a valid
// key check in t0 when t0 is a table), then `fill` run on it.
void make_hostile(const std::string& dir, const uint8_t key[32], const std::string& schema,
                  const std::string& fill = "") {
  sqlite3* raw = nullptr;
  page_db_open((dir + "/data").c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  DbHandle db(raw);
  ASSERT_TRUE(db);
  ASSERT_EQ(0, page_db_key(db.get(), key, 32));
  ASSERT_EQ(SQLITE_OK, db_exec(db.get(), schema.c_str())) << sqlite3_errmsg(db.get());
  uint8_t check[64];
  key_check_make(key, check);
  key_check_write(db.get(), check);
  if (!fill.empty()) {
    ASSERT_EQ(SQLITE_OK, db_exec(db.get(), fill.c_str())) << sqlite3_errmsg(db.get());
  }
}

// A good repository: root tag, an item with two versions and a link.
void make_good(const std::string& dir, const uint8_t key[32]) {
  DbHandle db(db_create_repo((dir + "/data").c_str(), key));
  ASSERT_TRUE(db);
  ASSERT_EQ(0, put_object(db.get(), key, false, 1, tag_string(zero_hex(), 10, "/"), nullptr));
  ASSERT_EQ(0, put_object(db.get(), key, false, 2, item_header("note", 11), "body"));
  ASSERT_EQ(0, put_link(db.get(), key, false, 1, 2));
}

const char kTables[] =
    "CREATE TABLE t0(c1, c2);CREATE TABLE t2(c1, c2, PRIMARY KEY(c1, c2));CREATE TABLE t3(c1, c2, c3 INT, "
    "PRIMARY KEY(c1, c2, c3));CREATE TABLE t4(c1, c2, c3 INT, PRIMARY KEY(c1, c2, c3));CREATE TABLE t5(c1, c2, c3 "
    "INT, c4, c5, c6 INT, c7 INT);CREATE INDEX t2_i ON t2(c2);";
const char kT1[] = "CREATE TABLE t1(c1, c2, c3 INT, c4, c5, PRIMARY KEY(c1, c2, c3));";

class Hardening : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override {
    cfg->fail_delay_ms = 200;
    cfg->work_limit = 3;
    cfg->quota = 4u << 20;
  }
  long long store_size() const { return Probe().size(); }
  // Repository "work" made of a good repository under "repo-pw": its key
  // check and state.
  void CreateWork(uint8_t check[64], std::string* state) {
    uint8_t key[32];
    derive_key("repo-pw", key);
    std::string src = dir_.subdir("src");
    make_good(src, key);
    ASSERT_EQ(0, server_create_repo(alice_, "work", src.c_str(), key));
    ASSERT_EQ(0, db_get_sign_path((src + "/data").c_str(), check, key));
    *state = slurp(src + "/list.hash");
  }
  int PutSnapshot(const uint8_t check[64], const std::string& state, const std::string& file) {
    return put_snapshot(alice_, "work", check, state, file);
  }
  std::string Snapshot(const std::string& name, const std::string& sql) {
    std::string file = make_snapshot(dir_.file(name), sql);
    EXPECT_FALSE(file.empty()) << sql;
    return file;
  }
  std::vector<std::string> ids() {
    std::vector<std::string> out;
    EXPECT_EQ(0, server_list_repos(alice_, &out));
    return out;
  }
};

}  // namespace

TEST_F(Hardening, UploadsOutsideTheFormatAreRefusedAndNothingIsStored) {
  uint8_t key[32];
  derive_key("repo-pw", key);
  struct Case {
    const char* what;
    std::string schema, fill;
  } cases[] = {
      {"t1 a view that yields thousands of rows",
       std::string(kTables) +
           "CREATE VIEW t1(c1, c2, c3, c4, c5) AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r "
           "LIMIT 3000) SELECT randomblob(16), randomblob(20), 1, zeroblob(2000), NULL FROM r;",
       ""},
      {"an extra trigger", std::string(kTables) + kT1 + "CREATE TRIGGER x AFTER INSERT ON t5 BEGIN SELECT 1; END;", ""},
      {"an extra table", std::string(kTables) + kT1 + "CREATE TABLE t6(a);", ""},
      {"an extra index", std::string(kTables) + kT1 + "CREATE INDEX t1_x ON t1(c4);", ""},
      {"a row over the size of an item", std::string(kTables) + kT1,
       "INSERT INTO t1 VALUES (randomblob(16), randomblob(20), 0, zeroblob(16), zeroblob(3145728));"},
      {"a row whose body is not a blob", std::string(kTables) + kT1,
       "INSERT INTO t1 VALUES (randomblob(16), randomblob(20), 0, zeroblob(16), 12345);"},
  };
  long long before = store_size();
  int n = 0;
  for (const Case& c : cases) {
    std::string dir = dir_.subdir("h" + std::to_string(n++));
    make_hostile(dir, key, c.schema, c.fill);
    EXPECT_EQ(SRV_BAD_REQUEST, server_create_repo(alice_, ("evil" + std::to_string(n)).c_str(), dir.c_str(), key))
        << c.what;
  }
  EXPECT_TRUE(ids().empty());
  EXPECT_LT(store_size() - before, 64 * 1024) << "the store grew";
  // a good repository still goes in
  std::string good = dir_.subdir("good");
  make_good(good, key);
  EXPECT_EQ(0, server_create_repo(alice_, "good", good.c_str(), key));
}

TEST_F(Hardening, AnUploadThatNeverEndsBlocksNoOtherAccount) {
  int32_t bob_id = 0;
  ASSERT_EQ(0, server_user_add(cfg_, "bob", "pw-bob", &bob_id));
  uint8_t key[32];
  derive_key("repo-pw", key);
  std::string evil = dir_.subdir("evil");
  make_hostile(evil, key,
               std::string("CREATE VIEW t0(c1, c2) AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM "
                           "r) SELECT n, n FROM r WHERE n < 0;") +
                   kT1 + (kTables + std::strlen("CREATE TABLE t0(c1, c2);")));
  auto start = Clock::now();
  auto hostile = std::async(std::launch::async, [&] { return server_create_repo(alice_, "spin", evil.c_str(), key); });
  std::string good = dir_.subdir("good");
  make_good(good, key);
  EXPECT_EQ(0, server_create_repo(Login("bob", bob_id, "pw-bob"), "work", good.c_str(), key));
  EXPECT_LT(seconds_since(start), 10.0);
  ASSERT_EQ(std::future_status::ready, hostile.wait_for(std::chrono::seconds(20)));
  EXPECT_EQ(SRV_BAD_REQUEST, hostile.get());
}

TEST_F(Hardening, QuotaBoundsWhatAnAccountStores) {
  uint8_t key[32];
  derive_key("repo-pw", key);
  // each row within the item size, together over the 4 MiB quota
  std::string big = dir_.subdir("big");
  make_hostile(big, key, std::string(kTables) + kT1,
               "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r LIMIT 5) INSERT INTO t1 SELECT "
               "randomblob(16), randomblob(20), 0, zeroblob(16), zeroblob(1048576) FROM r;");
  long long before = store_size();
  EXPECT_EQ(SRV_BAD_REQUEST, server_create_repo(alice_, "big", big.c_str(), key));
  EXPECT_LT(store_size() - before, 64 * 1024);
  std::string small = dir_.subdir("small");
  make_good(small, key);
  EXPECT_EQ(0, server_create_repo(alice_, "small", small.c_str(), key));
}

// The quota holds for changes too: a sync whose versions would pass it is
// refused after the upload and nothing of it is stored.
TEST_F(Hardening, SyncUploadPastTheQuotaIsRefused) {
  uint8_t check[64];
  std::string state;
  ASSERT_NO_FATAL_FAILURE(CreateWork(check, &state));
  // n new versions of 1 MiB each (the quota is 4 MiB)
  auto versions = [&](int n) {
    return Snapshot("big" + std::to_string(n),
                    "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r LIMIT " + std::to_string(n) +
                        ") INSERT INTO s1 SELECT randomblob(16), randomblob(20), 0, zeroblob(16), zeroblob(1048576) "
                        "FROM r; INSERT INTO s3 SELECT c1, c2, 1 FROM s1;");
  };
  long long before = store_size();
  EXPECT_EQ(SRV_BAD_REQUEST, PutSnapshot(check, state, versions(5)));
  EXPECT_LT(store_size() - before, 64 * 1024) << "the refused sync was stored";
  std::string d = dir_.subdir("clone");
  ASSERT_EQ(0, server_clone_repo(alice_, "work", "repo-pw", d.c_str(), nullptr));
  EXPECT_EQ(state, slurp(d + "/list.hash")) << "the repository changed";
  // within the quota the same repository takes a sync
  EXPECT_EQ(SRV_OK, PutSnapshot(check, state, versions(2)));
}

TEST_F(Hardening, ALostCreateReplyCanBeRetriedButATakenIdentifierStaysTaken) {
  uint8_t key[32];
  derive_key("repo-pw", key);
  std::string src = dir_.subdir("src");
  make_good(src, key);
  ASSERT_EQ(0, server_create_repo(alice_, "work", src.c_str(), key));
  std::string first = slurp(src + "/list.hash");
  // the same creation again (its reply lost): linked to the stored copy
  ASSERT_EQ(0, server_create_repo(alice_, "work", src.c_str(), key));
  EXPECT_EQ(20u, slurp(src + "/list.hash").size());
  EXPECT_EQ(std::vector<std::string>{"work"}, ids());
  std::string d = dir_.subdir("clone");
  ASSERT_EQ(0, server_clone_repo(alice_, "work", "repo-pw", d.c_str(), nullptr));
  EXPECT_EQ(slurp(src + "/list.hash"), slurp(d + "/list.hash"));
  // another repository (another key) under the taken identifier
  uint8_t other_key[32];
  derive_key("other-pw", other_key);
  std::string other = dir_.subdir("other");
  make_good(other, other_key);
  EXPECT_EQ(SRV_EXISTS, server_create_repo(alice_, "work", other.c_str(), other_key));
  // the same key, but the server holds a version the upload lacks
  {
    DbHandle db(db_open((d + "/data").c_str()));
    ASSERT_TRUE(db);
    ASSERT_EQ(0, page_db_key(db.get(), key, 32));
    ASSERT_EQ(0, put_object(db.get(), key, false, 3, item_header("newer", 20), "x"));
  }
  ASSERT_EQ(0, server_create_repo(alice_, "copy", d.c_str(), key));
  std::string stale = dir_.subdir("stale");
  make_good(stale, key);
  EXPECT_EQ(SRV_EXISTS, server_create_repo(alice_, "copy", stale.c_str(), key));
}

TEST_F(Hardening, PutSyncAnswersTheDocumentedStatuses) {
  uint8_t check[64];
  std::string state;
  ASSERT_NO_FATAL_FAILURE(CreateWork(check, &state));
  uint8_t wrong[64];
  std::memcpy(wrong, check, 64);
  wrong[10] ^= 1;
  // refused before any upload
  EXPECT_EQ(SRV_KEY_MISMATCH, put_snapshot(alice_, "work", wrong, state, ""));
  EXPECT_EQ(SRV_NOT_FOUND, put_snapshot(alice_, "none", check, state, ""));

  // snapshots outside the format are refused after the upload
  const char* extras[] = {
      "CREATE VIEW v AS SELECT 1;",
      "DROP TABLE s3; CREATE VIEW s3(c1, c2, c3) AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r "
      "LIMIT 2000) SELECT randomblob(16), randomblob(20), 1 FROM r;",
      "INSERT INTO s1 VALUES (randomblob(16), randomblob(20), 0, zeroblob(16), zeroblob(3145728));",
  };
  long long before = store_size();
  int n = 0;
  for (const char* extra : extras)
    EXPECT_EQ(SRV_BAD_REQUEST, PutSnapshot(check, state, Snapshot("snap" + std::to_string(n++), extra))) << extra;
  EXPECT_LT(store_size() - before, 64 * 1024);
  // the repository is as it was: same state, a clone has its rows
  std::string d = dir_.subdir("clone");
  ASSERT_EQ(0, server_clone_repo(alice_, "work", "repo-pw", d.c_str(), nullptr));
  EXPECT_EQ(state, slurp(d + "/list.hash"));
}

TEST_F(Hardening, PasswordChangeGivesOneAnswerAndLimitsGuesses) {
  int unknown = server_password_change(host_.c_str(), "nobody", "pw-alice", "new-pw");
  int wrong = server_password_change(host_.c_str(), "alice", "not-it", "new-pw");
  EXPECT_NE(0, unknown);
  EXPECT_EQ(unknown, wrong) << "an unknown name is told apart from a wrong password";
  // a name with control characters reaches the log escaped
  EXPECT_NE(0, server_password_change(host_.c_str(), "ev\x1b[2Jil", "x", "y"));
  for (int i = 0; i < 5; ++i) server_password_change(host_.c_str(), "alice", "guess", "new-pw");
  // alice's attempts are used up: even the right password is refused now
  EXPECT_EQ(wrong, server_password_change(host_.c_str(), "alice", "pw-alice", "new-pw"));
  std::vector<std::string> out;
  EXPECT_EQ(0, server_list_repos(alice_, &out)) << "the password changed after all";
  log_flush();
  std::string log = slurp(cfg_.data_dir + "/server.log");
  EXPECT_EQ(std::string::npos, log.find('\x1b'));
  EXPECT_NE(std::string::npos, log.find("ev\\x1b[2Jil"));
}

// Failed password changes count against the account from whatever address
// they come, and against the address whatever names they try.
TEST_F(Hardening, PasswordGuessesCountPerAccountAndPerAddress) {
  int32_t bob_id = 0;
  ASSERT_EQ(0, server_user_add(cfg_, "bob", "pw-bob", &bob_id));
  // relays that reach the server from other loopback addresses
  FaultProxy from2(server_port(server_), "127.0.0.2"), from3(server_port(server_), "127.0.0.3");
  std::map<std::string, std::string> via = {{"1", host_}, {"2", from2.host()}, {"3", from3.host()}};
  struct Guess {
    const char* from;
    const char* user;
  };
  struct Case {
    const char* what;
    std::vector<Guess> guesses;
    Guess then;     // the right password, afterwards
    bool refused;
  } cases[] = {
      {"bob guessed from two addresses", {{"1", "bob"}, {"2", "bob"}, {"1", "bob"}, {"2", "bob"}, {"1", "bob"}},
       {"1", "bob"}, true},
      {"many names guessed from one address", {{"3", "n1"}, {"3", "n2"}, {"3", "n3"}, {"3", "n4"}, {"3", "n5"}},
       {"3", "alice"}, true},
      {"alice from an address that guessed nothing for her", {}, {"2", "alice"}, false},
  };
  for (const Case& c : cases) {
    for (const Guess& g : c.guesses)
      EXPECT_NE(0, server_password_change(via[g.from].c_str(), g.user, "guess", "new-pw")) << c.what;
    std::string pw = std::string("pw-") + c.then.user;
    int rc = server_password_change(via[c.then.from].c_str(), c.then.user, pw.c_str(), pw.c_str());
    EXPECT_EQ(c.refused, rc != 0) << c.what;
  }
}

namespace {

// A balancer at 127.0.0.5 that names its clients in PROXY lines.
class Balanced : public Hardening {
 protected:
  void Configure(ServerConfig* cfg) override {
    Hardening::Configure(cfg);
    cfg->proxies = {"127.0.0.5"};
    cfg->io_timeout = 1;  // a line that never ends waits this long
  }
  // alice through a relay from the balancer's address that sends `line`.
  bool LogsIn(const std::string& line) {
    FaultProxy relay(server_port(server_), "127.0.0.5", line);
    ServerLogin via = alice_;
    via.host = relay.host();
    std::vector<std::string> out;
    return server_list_repos(via, &out) == 0;
  }
};

}  // namespace

TEST_F(Balanced, TheBalancersLineNamesTheClient) {
  struct Case {
    const char* line;
    bool works;
  } cases[] = {
      {"PROXY TCP4 10.9.8.7 127.0.0.1 4000 443\r\n", true},
      {"PROXY TCP6 2001:db8::7 2001:db8::1 4000 443\r\n", true},
      {"PROXY UNKNOWN\r\n", true},
      {"", false},
      {"PROXY TCP4 10.9.8.777 127.0.0.1 4000 443\r\n", false},
      {"PROXY TCP4 10.9.8.7 127.0.0.1 port 443\r\n", false},
      {"GET / HTTP/1.0\r\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.works, LogsIn(c.line)) << c.line;
  EXPECT_FALSE(LogsIn("PROXY " + std::string(120, 'x') + "\r\n")) << "a line past the protocol's 107 bytes";
  // the limits per address count the client named, not the balancer
  FaultProxy guesser(server_port(server_), "127.0.0.5", "PROXY TCP4 10.9.8.7 127.0.0.1 4000 443\r\n");
  FaultProxy other(server_port(server_), "127.0.0.5", "PROXY TCP4 10.9.8.8 127.0.0.1 4001 443\r\n");
  for (const char* name : {"n1", "n2", "n3", "n4", "n5"})
    EXPECT_NE(0, server_password_change(guesser.host().c_str(), name, "guess", "new-pw"));
  EXPECT_NE(0, server_password_change(guesser.host().c_str(), "alice", "pw-alice", "pw-alice"));
  EXPECT_EQ(0, server_password_change(other.host().c_str(), "alice", "pw-alice", "pw-alice"));
  // and a client that is not the balancer sends no such line
  std::vector<std::string> out;
  EXPECT_EQ(0, server_list_repos(alice_, &out));
}

namespace {

class Slots : public Hardening {
 protected:
  void Configure(ServerConfig* cfg) override {
    Hardening::Configure(cfg);
    cfg->max_clients = 4;
    cfg->max_unauth_per_host = 2;
    cfg->login_timeout = 2;
    cfg->io_timeout = 30;
  }
};

// A socket from 127.0.0.2 that sends one byte now and then and never logs in.
int trickler(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0x7f000002);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    ::close(fd);
    return -1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TEST_F(Slots, TricklingSocketsLeaveRoomForARealClient) {
  std::vector<int> socks;
  for (int i = 0; i < 6; ++i) {
    int fd = trickler(server_port(server_));
    if (fd < 0) GTEST_SKIP() << "cannot bind 127.0.0.2";
    socks.push_back(fd);
  }
  std::atomic<bool> stop{false};
  std::thread drip([&] {
    while (!stop) {
      for (int fd : socks) ::send(fd, "x", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto start = Clock::now();
  std::vector<std::string> out;
  EXPECT_EQ(0, server_list_repos(alice_, &out));
  EXPECT_LT(seconds_since(start), 2.0);
  // past the login deadline the server has closed every trickling socket
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  stop = true;
  drip.join();
  for (int fd : socks) {
    char b[64];
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ssize_t n;
    while ((n = ::recv(fd, b, sizeof b, 0)) > 0) {
    }
    EXPECT_TRUE(n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) << "still open";
    ::close(fd);
  }
  EXPECT_LE(server_active(server_), 1);
}

namespace {

class SlowFailures : public Slots {
 protected:
  void Configure(ServerConfig* cfg) override {
    Slots::Configure(cfg);
    cfg->fail_delay_ms = 1500;
    cfg->max_unauth_per_host = 8;
  }
};

}  // namespace

TEST_F(SlowFailures, FailedLoginsDoNotHoldSlots) {
  // as many failed logins as there are slots, each waiting out its delay
  std::vector<std::thread> ts;
  std::atomic<int> failed{0};
  for (int i = 0; i < 4; ++i)
    ts.emplace_back([&] {
      std::vector<std::string> out;
      if (server_list_repos(Login("alice", alice_id_, "wrong"), &out) != 0) ++failed;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<std::string> out;
  EXPECT_EQ(0, server_list_repos(alice_, &out));
  for (auto& t : ts) t.join();
  EXPECT_EQ(4, failed.load());
}

TEST_F(Hardening, StopEndsConversationsInProgressAndKeepsTheStoreWhole) {
  uint8_t key[32];
  derive_key("repo-pw", key);
  std::string src = dir_.subdir("src");
  make_good(src, key);
  ASSERT_EQ(0, server_create_repo(alice_, "work", src.c_str(), key));
  // clients that logged in and then went quiet, and one half-way through an upload
  std::vector<Connection> quiet(3);
  for (auto& c : quiet) ASSERT_EQ(0, server_connect(&c, alice_));
  Connection upload;
  ASSERT_EQ(0, server_connect(&upload, alice_));
  ASSERT_EQ(0, conn_put_text(&upload, "create repo\nhalf\n"));
  ASSERT_EQ(0, conn_send(&upload));
  ASSERT_EQ(0, conn_recv(&upload));
  uint8_t e[8] = {0, 0, 0, 5, 0, 0, 0x10, 0};
  conn_put(&upload, e, 8);
  conn_put(&upload, "data", 5);
  conn_send(&upload);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(4, server_active(server_));
  auto start = Clock::now();
  server_stop(server_);
  thread_.join();
  server_destroy(server_);
  server_ = nullptr;
  EXPECT_LT(seconds_since(start), 3.0);
  for (auto& c : quiet) conn_close(&c);
  conn_close(&upload);
  EXPECT_EQ(1, Probe().rows("repos"));
  EXPECT_EQ("ok", Probe().check());
}

// The client reads a cloned database as hostile too: one with an object the
// format does not have is a bad reply, not a repository.
TEST_F(Hardening, ACloneOutsideTheFormatIsNotTaken) {
  uint8_t key[32];
  derive_key("repo-pw", key);
  std::string file = dir_.file("hostile-data");
  {
    sqlite3* raw = nullptr;
    page_db_open(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    DbHandle db(raw);
    ASSERT_EQ(SQLITE_OK, db_exec(db.get(), db_repo_schema()));
    uint8_t check[64];
    key_check_make(key, check);
    ASSERT_EQ(0, key_check_write(db.get(), check));
    ASSERT_EQ(SQLITE_OK, db_exec(db.get(), "CREATE TRIGGER x AFTER INSERT ON t1 BEGIN DELETE FROM t2; END;"));
  }
  int lfd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, ::listen(lfd, 1));
  socklen_t len = sizeof a;
  ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread fake([&] {
    int fd = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Connection c;
    bool anon = false;
    uint32_t id = 0;
    std::string user, command, repo;
    auto lookup = [&](uint32_t, const std::string&, uint8_t out[32]) {
      std::memcpy(out, alice_.user_hash, 32);
      return 0;
    };
    if (conn_accept(&c, fd, lookup, &anon, &id, &user) == 0 && conn_read_line(&c, &command, 32) == 0 &&
        conn_read_line(&c, &repo, 1000) == 0) {
      std::string state(20, 's');
      conn_put(&c, state.data(), 20);
      conn_send(&c);
      conn_send_file(&c, file.c_str(), "data");
      ::shutdown(c.socket, SHUT_WR);
      char b;
      while (::recv(c.socket, &b, 1, 0) > 0) {
      }
    }
  });
  ServerLogin via = alice_;
  via.host = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  std::string d = dir_.subdir("clone");
  EXPECT_EQ(CLONE_BAD_REPLY, server_clone_repo(via, "x", "repo-pw", d.c_str(), nullptr));
  fake.join();
  ::close(lfd);
}

// The executable under SIGTERM while clients hold conversations open: it
// ends within seconds and the store stays whole.
TEST(ServerProcess, SigtermUnderLoadEndsWithinSeconds) {
  struct stat st;
  if (::stat(server_binary().c_str(), &st) != 0) GTEST_SKIP() << "ordika-server not built";
  ScratchDir dir("sigterm");
  ServerConfig cfg;
  cfg.data_dir = dir.subdir("data");
  cfg.database = test_database();
  int32_t id = 0;
  ASSERT_EQ(0, server_user_add(cfg, "alice", "pw-alice", &id));
  ServerLogin alice;
  alice.account_id = static_cast<uint32_t>(id);
  alice.user = "alice";
  sha256(alice.user_hash, "pw-alice", 8);
  ChildProcess server;
  ASSERT_TRUE(start_server_process(&server, cfg.data_dir, cfg.database, alice)) << "the server did not start";
  alice.host = server.host();
  std::vector<Connection> quiet(3);
  for (auto& c : quiet) ASSERT_EQ(0, server_connect(&c, alice));
  Connection upload;
  ASSERT_EQ(0, server_connect(&upload, alice));
  ASSERT_EQ(0, conn_put_text(&upload, "create repo\nhalf\n"));
  ASSERT_EQ(0, conn_send(&upload));
  ASSERT_EQ(0, conn_recv(&upload));
  uint8_t e[8] = {0, 0, 0, 5, 0, 0, 0x10, 0};
  conn_put(&upload, e, 8);
  conn_put(&upload, "data", 5);
  conn_send(&upload);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto start = Clock::now();
  int status = -1;
  EXPECT_TRUE(server.end(SIGTERM, 10, &status)) << "still running 10 s after SIGTERM";
  EXPECT_LT(seconds_since(start), 5.0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (auto& c : quiet) conn_close(&c);
  conn_close(&upload);
  StoreProbe probe{cfg};
  EXPECT_EQ(1, probe.rows("accounts"));
  EXPECT_EQ(0, probe.rows("repos"));
  EXPECT_EQ("ok", probe.check());
}
