// SPDX-License-Identifier: GPL-3.0-or-later
// Moving a data directory's store into PostgreSQL with `ordika-server
// migrate`: afterwards the database serves what the data directory served,
// byte for byte; a filled database is refused, and an interrupted
// migration is resumed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "common/test_support.h"
#include "raw_requests.h"
#include "repo_helpers.h"
#include "server_fixture.h"
#include "server_process.h"
#include "sync_client.h"

namespace {

using test_support::read_file;

// A server of this process on a store, until the object goes.
struct InProcessServer {
  Server* srv = nullptr;
  std::thread th;
  explicit InProcessServer(ServerConfig cfg) {
    cfg.listen_host = "127.0.0.1";
    cfg.port = 0;
    cfg.log_to_file = false;
    srv = server_create(cfg);
    if (srv) th = std::thread([this] { server_run(srv); });
  }
  ~InProcessServer() {
    if (!srv) return;
    server_stop(srv);
    th.join();
    server_destroy(srv);
  }
  ServerLogin login(uint32_t id, const std::string& user, const std::string& password) const {
    ServerLogin l;
    l.host = "127.0.0.1:" + std::to_string(server_port(srv));
    l.account_id = id;
    l.user = user;
    sha256(l.user_hash, password.data(), password.size());
    return l;
  }
};

struct Repo {
  const char* user;
  const char* id;
  int items;
  uint8_t check[64];
};

class Migrate : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_on_postgres()) GTEST_SKIP() << "the target is a PostgreSQL database";
    struct stat st;
    if (::stat(server_binary().c_str(), &st) != 0) GTEST_SKIP() << "ordika-server not built";
    from_.data_dir = dir_.subdir("data");
    to_.data_dir = dir_.subdir("log");
    to_.database = test_database();
    derive_key("migrate-pw", key_);
    ASSERT_EQ(0, server_user_add(from_, "alice", "pw-alice", &ids_[0]));
    ASSERT_EQ(0, server_user_add(from_, "bob", "pw-bob", &ids_[1]));
    InProcessServer s(from_);
    ASSERT_NE(nullptr, s.srv);
    for (Repo& r : repos_) {
      std::string src = dir_.subdir(std::string("src-") + r.id);
      ASSERT_NO_FATAL_FAILURE(MakeRepo(src, r.items));
      ASSERT_EQ(0, server_create_repo(Login(s, r.user), r.id, src.c_str(), key_));
      ASSERT_EQ(0, db_get_sign_path((src + "/data").c_str(), r.check, key_));
    }
    ::mkdir((from_.data_dir + "/traces").c_str(), 0700);
    std::string traces = from_.data_dir + "/traces/" + std::to_string(ids_[0]);
    ::mkdir(traces.c_str(), 0700);
    std::ofstream(traces + "/1700000000-ordika.log") << "a client's log\n";
  }

  // A repository of n items, each in two versions (the older kept), all
  // linked to the root tag.
  void MakeRepo(const std::string& dir, int n) {
    DbHandle db(db_create_repo((dir + "/data").c_str(), key_));
    ASSERT_TRUE(db);
    ASSERT_EQ(0, put_object(db.get(), key_, false, 1, tag_string(zero_hex(), 10, "/"), nullptr));
    RepoDb r{db.get(), key_, false};
    ASSERT_EQ(0, journal_begin(db.get()));
    uint8_t root[16];
    uuid_of(root, 1);
    for (int round = 0; round < 2; ++round)
      for (int i = 0; i < n; ++i) {
        uint8_t u[16], hash[20];
        client_uuid(u, 400, i);
        std::string header = item_header("item " + std::to_string(i), 20 + round);
        std::string body = "body " + std::to_string(i) + " round " + std::to_string(round);
        sha1(hash, (header + body).data(), header.size() + body.size());
        header = padded(header);
        body = padded(body);
        ASSERT_EQ(0, object_write(r, u, hash, reinterpret_cast<const uint8_t*>(header.data()), header.size(),
                                  reinterpret_cast<const uint8_t*>(body.data()), body.size(), true));
        if (round == 0) {
          ASSERT_EQ(0, link_add(r, root, u));
        }
      }
    ASSERT_EQ(0, journal_commit(db.get()));
  }

  ServerLogin Login(const InProcessServer& s, const std::string& user) const {
    return s.login(static_cast<uint32_t>(ids_[user == "alice" ? 0 : 1]), user, "pw-" + user);
  }

  // A download with the 16 bytes that start every file of the page layer
  // in place of the engine's magic (fresh random ones each time) blanked.
  static std::string Masked(std::string d) {
    size_t body = d.find('\n', 21) + 1;  // the state, the name, then the file
    if (body > 0 && d.size() >= body + 16) d.replace(body, 16, 16, '*');
    return d;
  }

  // Every download of every repository, from the data directory's server
  // and from the database's: the same bytes.
  void ExpectTheSameDownloads() {
    InProcessServer a(from_), b(to_);
    ASSERT_NE(nullptr, a.srv);
    ASSERT_NE(nullptr, b.srv);
    for (const Repo& r : repos_) {
      for (const char* request : {"get list", "clone repo"}) {
        const uint8_t* check = std::string(request) == "get list" ? r.check : nullptr;
        std::string want = download(Login(a, r.user), request, r.id, check);
        ASSERT_FALSE(want.empty()) << request << " " << r.id;
        EXPECT_TRUE(Masked(want) == Masked(download(Login(b, r.user), request, r.id, check))) << request << " " << r.id;
      }
    }
    for (const char* user : {"alice", "bob"}) {
      std::vector<std::string> want, got;
      ASSERT_EQ(0, server_list_repos(Login(a, user), &want));
      ASSERT_EQ(0, server_list_repos(Login(b, user), &got));
      EXPECT_EQ(want, got) << user;
    }
  }

  int RunMigrate(const std::string& extra, std::string* out) {
    std::string cmd = "'" + server_binary() + "' migrate --data '" + from_.data_dir + "' --database '" +
                      to_.database + "' " + extra + " 2>&1";
    out->clear();
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p)) *out += buf;
    int st = p ? ::pclose(p) : -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  ScratchDir dir_{"migrate"};
  ServerConfig from_, to_;
  int32_t ids_[2] = {};
  uint8_t key_[32];
  Repo repos_[3] = {{"alice", "big", 1500, {}}, {"alice", "small", 3, {}}, {"bob", "notes", 20, {}}};
};

}  // namespace

TEST_F(Migrate, TheDatabaseServesWhatTheDataDirectoryServed) {
  std::string out;
  ASSERT_EQ(0, RunMigrate("", &out)) << out;
  // versions: each item twice and the root tag; links: one per item
  EXPECT_NE(std::string::npos,
            out.find("2 accounts, 3 repositories (3 copied, 0 already there), 3049 versions, 1523 links, 1 traces"))
      << out;
  ASSERT_NO_FATAL_FAILURE(ExpectTheSameDownloads());
  std::string exported = dir_.file("traces");
  ASSERT_EQ(0, server_export_traces(to_, exported));
  EXPECT_EQ("a client's log\n", read_file(exported + "/" + std::to_string(ids_[0]) + "/1700000000-ordika.log"));
}

TEST_F(Migrate, AFilledDatabaseIsRefusedAndAnInterruptedMigrationResumed) {
  MigrateReport report;
  std::string error;
  ASSERT_EQ(0, server_migrate(from_, to_, false, &report, &error)) << error;
  // As if interrupted: one repository not copied yet, one not copied whole.
  ASSERT_EQ(0, pg_exec(to_.database, "DELETE FROM versions WHERE repo=(SELECT id FROM repos WHERE name='small'::bytea);"
                       "DELETE FROM links WHERE repo=(SELECT id FROM repos WHERE name='small'::bytea);"
                       "DELETE FROM repos WHERE name='small'::bytea;"
                       "DELETE FROM versions WHERE ctid=(SELECT v.ctid FROM versions v JOIN repos r ON v.repo=r.id "
                       "WHERE r.name='notes'::bytea LIMIT 1)"));
  std::string out;
  EXPECT_EQ(1, RunMigrate("", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("--resume")) << out;
  ASSERT_EQ(0, RunMigrate("--resume", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("3 repositories (2 copied, 1 already there)")) << out;
  ASSERT_NO_FATAL_FAILURE(ExpectTheSameDownloads());
}
