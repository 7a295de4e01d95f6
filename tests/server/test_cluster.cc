// SPDX-License-Identifier: GPL-3.0-or-later
// Several ordika-server processes on one PostgreSQL database, most behind
// a real haproxy on loopback: clients converge while a process is killed or
// the database restarts, a process killed inside a request leaves nothing
// half done and holds no lock, and the limits hold across processes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>
#include <memory>

#include "fault_proxy.h"
#include "load_run.h"
#include "raw_requests.h"
#include "repo_helpers.h"
#include "server_fixture.h"
#include "server_process.h"
#include "sync_client.h"

namespace {

class Cluster : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_on_postgres()) GTEST_SKIP() << "several processes share a PostgreSQL store";
    struct stat st;
    if (::stat(server_binary().c_str(), &st) != 0) GTEST_SKIP() << "ordika-server not built";
    if (::access("/usr/sbin/haproxy", X_OK) != 0) GTEST_SKIP() << "haproxy is not installed (tools/deps.sh)";
    cfg_.data_dir = dir_.subdir("admin");
    cfg_.database = test_database();
    ASSERT_EQ(0, server_user_add(cfg_, "alice", "pw-alice", &alice_id_));
    alice_.account_id = static_cast<uint32_t>(alice_id_);
    alice_.user = "alice";
    sha256(alice_.user_hash, "pw-alice", 8);
  }

  // n server processes, each with a data directory of its own, and haproxy
  // in front of them.
  void Start(int n, std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"--proxy", kBalancerAddress});
    std::vector<int> ports;
    for (int i = 0; i < n; ++i) {
      servers_.push_back(std::make_unique<ChildProcess>());
      std::string data = dir_.subdir("p" + std::to_string(i));
      ASSERT_TRUE(start_server_process(servers_.back().get(), data, cfg_.database, alice_, extra))
          << "server process " << i;
      ports.push_back(servers_.back()->port());
    }
    ASSERT_TRUE(start_haproxy(&haproxy_, dir_.path(), ports)) << "haproxy; see " << dir_.path() << "/haproxy.log";
    via_ = alice_;
    via_.host = haproxy_.host();
  }
  // alice at process i directly.
  ServerLogin At(size_t i) const {
    ServerLogin l = alice_;
    l.host = servers_[i]->host();
    return l;
  }

  ScratchDir dir_{"cluster"};
  ServerConfig cfg_;
  int32_t alice_id_ = 0;
  ServerLogin alice_, via_;
  std::vector<std::unique_ptr<ChildProcess>> servers_;
  ChildProcess haproxy_;
};

// A repository of n items in one journal group under key.
void make_items(const std::string& dir, const uint8_t key[32], int n, size_t body_size) {
  DbHandle db(db_create_repo((dir + "/data").c_str(), key));
  ASSERT_TRUE(db);
  ASSERT_EQ(0, put_object(db.get(), key, false, 1, tag_string(zero_hex(), 10, "/"), nullptr));
  RepoDb r{db.get(), key, false};
  ASSERT_EQ(0, journal_begin(db.get()));
  std::string body = padded(std::string(body_size, 'b'));
  for (int i = 0; i < n; ++i) {
    uint8_t u[16], hash[20];
    client_uuid(u, 300, i);
    std::string header = padded(item_header("item " + std::to_string(i), 20));
    sha1(hash, header.data(), header.size());
    ASSERT_EQ(0, object_write(r, u, hash, reinterpret_cast<const uint8_t*>(header.data()), header.size(),
                              reinterpret_cast<const uint8_t*>(body.data()), body.size(), false));
  }
  ASSERT_EQ(0, journal_commit(db.get()));
}

}  // namespace

// Fifty clients, twenty with a repository each and thirty on three shared
// ones, through haproxy in front of three processes.
TEST_F(Cluster, FiftyClientsConvergeThroughThreeProcesses) {
  ASSERT_NO_FATAL_FAILURE(Start(3));
  std::vector<int> groups(20, 1);
  groups.insert(groups.end(), {10, 10, 10});
  LoadRun load(groups, 2);
  ASSERT_NO_FATAL_FAILURE(load.Prepare(dir_, via_));
  load.Run(via_, std::chrono::seconds(150));
  ASSERT_NO_FATAL_FAILURE(load.Converge(via_));
  std::printf("cluster: %d stale refusals retried\n", load.stale.load());
}

TEST_F(Cluster, ClientsOfAKilledProcessConvergeThroughTheOthers) {
  ASSERT_NO_FATAL_FAILURE(Start(3));
  LoadRun load({1, 1, 1, 1, 1, 1, 1, 1, 6, 6}, 3);
  load.retry_failures = true;
  load.midway = [&] { servers_[0]->kill_now(); };
  ASSERT_NO_FATAL_FAILURE(load.Prepare(dir_, via_));
  load.Run(via_, std::chrono::seconds(150));
  EXPECT_FALSE(servers_[0]->alive());
  ASSERT_NO_FATAL_FAILURE(load.Converge(via_));
}

TEST_F(Cluster, ProcessesServeAgainAfterTheDatabaseRestarts) {
  ASSERT_NO_FATAL_FAILURE(Start(2));
  LoadRun load({1, 1, 1, 1, 1, 1, 1, 1, 6, 6}, 3);
  load.retry_failures = true;
  load.midway = [&] {
    test_cluster().stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string error;
    ASSERT_EQ(0, test_cluster().start(&error)) << error;
  };
  ASSERT_NO_FATAL_FAILURE(load.Prepare(dir_, via_));
  load.Run(via_, std::chrono::seconds(150));
  ASSERT_NO_FATAL_FAILURE(load.Converge(via_));
  for (auto& s : servers_) EXPECT_TRUE(s->alive()) << "a process had to be restarted";
}

// A process killed while it holds an account's lock in the middle of a
// creation: its transaction is rolled back, the lock goes with its
// connection, and the retry through another process goes in whole.
TEST_F(Cluster, AProcessKilledInsideARequestLeavesNothingHalfDone) {
  ASSERT_NO_FATAL_FAILURE(Start(2));
  uint8_t key[32];
  derive_key("big-pw", key);
  std::string src = dir_.subdir("big");
  ASSERT_NO_FATAL_FAILURE(make_items(src, key, 20000, 16));
  auto creating = std::async(std::launch::async, [&] { return server_create_repo(At(0), "big", src.c_str(), key); });
  bool locked = false;
  for (int i = 0; i < 6000 && !locked; ++i) {
    locked = pg_query_value(cfg_.database, "SELECT count(*) FROM pg_locks WHERE locktype='advisory' AND granted") != "0";
    if (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(locked) << "the creation never took the account's lock";
  servers_[0]->kill_now();
  EXPECT_NE(0, creating.get());
  // the lock is gone with the connection: another process writes at once
  std::string small = dir_.subdir("small");
  ASSERT_NO_FATAL_FAILURE(make_items(small, key, 3, 16));
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, server_create_repo(At(1), "small", small.c_str(), key));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // nothing of the killed creation, or all of it (it committed first)
  std::string rows = pg_query_value(cfg_.database, "SELECT count(*) FROM versions v JOIN repos r ON v.repo=r.id "
                                                   "WHERE r.name='big'::bytea");
  EXPECT_TRUE(rows == "0" || rows == "20001") << rows;
  ASSERT_EQ(0, server_create_repo(At(1), "big", src.c_str(), key));
  std::string d = dir_.subdir("clone");
  ASSERT_EQ(0, server_clone_repo(At(1), "big", "big-pw", d.c_str(), nullptr));
  SyncClient c;
  c.dir = d;
  std::memcpy(c.key, key, 32);
  ASSERT_TRUE(c.open());
  EXPECT_EQ(20001, count_rows(c.db.get(), "SELECT * FROM t1"));
}

// Behind the balancer each client is known by its own address: guesses
// from one block that address, not the balancer's.
TEST_F(Cluster, LimitsPerAddressSeeTheClientsBehindTheBalancer) {
  ASSERT_NO_FATAL_FAILURE(Start(2));
  FaultProxy from2(haproxy_.port(), "127.0.0.2");
  for (const char* name : {"n1", "n2", "n3", "n4", "n5"})
    EXPECT_NE(0, server_password_change(from2.host().c_str(), name, "guess", "new-pw"));
  EXPECT_NE(0, server_password_change(from2.host().c_str(), "alice", "pw-alice", "pw-alice"));
  EXPECT_EQ(0, server_password_change(haproxy_.host().c_str(), "alice", "pw-alice", "pw-alice"))
      << "the guesses of 127.0.0.2 blocked every client of the balancer";
}

// Five failed password changes spread over three processes are five.
TEST_F(Cluster, PasswordGuessesInEveryProcessCountTogether) {
  ASSERT_NO_FATAL_FAILURE(Start(3));
  for (int i = 0; i < 5; ++i)
    EXPECT_NE(0, server_password_change(servers_[i % 3]->host().c_str(), "alice", "guess", "new-pw"));
  for (size_t i = 0; i < servers_.size(); ++i)
    EXPECT_NE(0, server_password_change(servers_[i]->host().c_str(), "alice", "pw-alice", "pw-alice"))
        << "process " << i << " let the right password through";
}

// Two uploads in two processes, each within the quota, together over it:
// one is refused.
TEST_F(Cluster, TheQuotaHoldsForUploadsInTwoProcesses) {
  ASSERT_NO_FATAL_FAILURE(Start(2, {"--quota", "4M"}));
  uint8_t key[32];
  derive_key("quota-pw", key);
  std::string first = dir_.subdir("q0"), second = dir_.subdir("q1");
  ASSERT_NO_FATAL_FAILURE(make_items(first, key, 3, 900000));
  ASSERT_NO_FATAL_FAILURE(make_items(second, key, 3, 900000));
  auto a = std::async(std::launch::async, [&] { return server_create_repo(At(0), "q0", first.c_str(), key); });
  auto b = std::async(std::launch::async, [&] { return server_create_repo(At(1), "q1", second.c_str(), key); });
  int ra = a.get(), rb = b.get();
  EXPECT_TRUE((ra == 0) != (rb == 0)) << ra << " " << rb;
  EXPECT_EQ(SRV_BAD_REQUEST, ra == 0 ? rb : ra);
}

// Uploads of one repository from one state, through two processes at once:
// exactly one is taken, the others are told the state moved.
TEST_F(Cluster, PutSyncsOfOneRepositoryNeverInterleave) {
  ASSERT_NO_FATAL_FAILURE(Start(2));
  uint8_t key[32];
  derive_key("race-pw", key);
  std::string src = dir_.subdir("race");
  ASSERT_NO_FATAL_FAILURE(make_items(src, key, 3, 16));
  ASSERT_EQ(0, server_create_repo(At(0), "race", src.c_str(), key));
  uint8_t check[64];
  ASSERT_EQ(0, db_get_sign_path((src + "/data").c_str(), check, key));
  std::string state = test_support::read_file(src + "/list.hash");
  constexpr int kUploads = 8;
  std::vector<std::string> files;
  for (int i = 0; i < kUploads; ++i)
    // big enough that their store phases would overlap without the lock
    files.push_back(make_snapshot(dir_.file("s" + std::to_string(i)),
                                  "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r LIMIT 3000) "
                                  "INSERT INTO s1 SELECT randomblob(16), randomblob(20), 0, zeroblob(16), "
                                  "zeroblob(64) FROM r; INSERT INTO s3 SELECT c1, c2, 1 FROM s1;"));
  std::vector<std::future<int>> puts;
  for (int i = 0; i < kUploads; ++i)
    puts.push_back(std::async(std::launch::async, [&, i] { return put_snapshot(At(i % 2), "race", check, state, files[i]); }));
  int taken = 0, stale = 0;
  for (auto& p : puts) {
    int rc = p.get();
    taken += rc == SRV_OK;
    stale += rc == SRV_STALE;
  }
  EXPECT_EQ(1, taken);
  EXPECT_EQ(kUploads - 1, stale);
  EXPECT_EQ("3004", pg_query_value(cfg_.database, "SELECT count(*) FROM versions")) << "one upload more";
}
