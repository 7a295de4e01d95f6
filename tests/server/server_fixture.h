// SPDX-License-Identifier: GPL-3.0-or-later
// A running ordika-server on 127.0.0.1 with a fresh data directory and one
// account, for end-to-end tests of the client requests and sync, on either
// store.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "common/test_support.h"
#include "crypto/crypto.h"
#include "pg_cluster.h"
#include "server.h"
#include "storage/sqlite_util.h"
#include "sync/requests.h"

// The store the server tests run on: SQLite in the data directory, or
// PostgreSQL when ORDIKA_TEST_STORE is "postgres" (CTest runs the server
// suites both ways), on a cluster of the test program's own.
inline bool test_on_postgres() {
  const char* s = std::getenv("ORDIKA_TEST_STORE");
  return s && std::strcmp(s, "postgres") == 0;
}

// Started at first use, stopped when the program ends. Without PostgreSQL
// the program ends at once as skipped (77).
inline PgCluster& test_cluster() {
  static PgCluster cluster;
  static bool started = [] {
    if (!PgCluster::available()) {
      std::fprintf(stderr, "PostgreSQL 15 is not installed (tools/deps.sh): skipped\n");
      std::exit(77);
    }
    std::string error;
    if (cluster.start(&error) != 0) {
      std::fprintf(stderr, "test cluster: %s\n", error.c_str());
      std::exit(1);
    }
    return true;
  }();
  (void)started;
  return cluster;
}

// The database of one test: a fresh one on PostgreSQL, "" (server.db) on
// SQLite.
inline std::string test_database() {
  if (!test_on_postgres()) return "";
  std::string error;
  std::string db = test_cluster().create_database(&error);
  if (db.empty()) ADD_FAILURE() << "create database: " << error;
  return db;
}

// What tests look at in a store of either kind.
struct StoreProbe {
  ServerConfig cfg;

  // Bytes the repositories, versions and links take.
  long long size() const {
    if (!cfg.database.empty())
      return std::atoll(pg_query_value(cfg.database,
                                       "SELECT sum(pg_total_relation_size(c.oid)) FROM pg_class c WHERE "
                                       "c.relname IN ('repos', 'versions', 'links')")
                            .c_str());
    std::string db = cfg.data_dir + "/server.db";
    return file_size(db) + file_size(db + "-wal");
  }
  // Rows of a table of the store.
  long long rows(const std::string& table) const {
    std::string sql = "SELECT count(*) FROM " + table;
    if (!cfg.database.empty()) return std::atoll(pg_query_value(cfg.database, sql).c_str());
    sqlite3* raw = nullptr;
    sqlite3_open_v2((cfg.data_dir + "/server.db").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    DbHandle db(raw);
    Stmt s;
    if (stmt_prepare(db.get(), sql.c_str(), &s) != SQLITE_OK || sqlite3_step(s.get()) != SQLITE_ROW) return -1;
    return sqlite3_column_int64(s.get(), 0);
  }
  // "ok" when the store is whole: SQLite's integrity check; PostgreSQL
  // keeps itself whole, and answers.
  std::string check() const {
    if (!cfg.database.empty()) return pg_query_value(cfg.database, "SELECT 'ok'");
    sqlite3* raw = nullptr;
    sqlite3_open_v2((cfg.data_dir + "/server.db").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    DbHandle db(raw);
    Stmt s;
    if (stmt_prepare(db.get(), "PRAGMA integrity_check", &s) != SQLITE_OK || sqlite3_step(s.get()) != SQLITE_ROW)
      return "no answer";
    return column_bytes(s.get(), 0);
  }

 private:
  static long long file_size(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
  }
};


class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerConfig cfg;
    cfg.data_dir = dir_.subdir("data");
    cfg.database = test_database();
    cfg.listen_host = "127.0.0.1";
    cfg.port = 0;
    cfg.io_timeout = 5;
    cfg.update_dir = update_dir_;
    cfg.trace_cap = 4096;
    cfg.fail_delay_ms = 0;  // the delay has a test of its own; elsewhere it only slows the run
    Configure(&cfg);
    cfg_ = cfg;
    PublishUpdates();
    ASSERT_EQ(0, server_user_add(cfg, "alice", "pw-alice", &alice_id_));
    server_ = server_create(cfg);
    ASSERT_NE(nullptr, server_);
    thread_ = std::thread([this] { server_run(server_); });
    host_ = "127.0.0.1:" + std::to_string(server_port(server_));
    alice_ = Login("alice", alice_id_, "pw-alice");
  }
  void TearDown() override {
    if (server_) {
      server_stop(server_);
      thread_.join();
      server_destroy(server_);
    }
  }
  virtual void Configure(ServerConfig*) {}

  // The update folder after a change: a database holds its own copy.
  void PublishUpdates() {
    if (!cfg_.database.empty() && !cfg_.update_dir.empty()) {
      ASSERT_EQ(0, server_publish_updates(cfg_, cfg_.update_dir));
    }
  }
  StoreProbe Probe() const { return StoreProbe{cfg_}; }

  ServerLogin Login(const std::string& user, int32_t id, const char* password) const {
    ServerLogin l;
    l.host = host_;
    l.account_id = static_cast<uint32_t>(id);
    l.user = user;
    sha256(l.user_hash, password, std::strlen(password));
    return l;
  }

  ScratchDir dir_{"server"};
  std::string update_dir_;
  ServerConfig cfg_;
  Server* server_ = nullptr;
  std::thread thread_;
  std::string host_;
  int32_t alice_id_ = 0;
  ServerLogin alice_;
};
