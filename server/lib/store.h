// SPDX-License-Identifier: GPL-3.0-or-later
// The account server's store: accounts, repositories with their versions
// and links, the password-change throttle, traces and the update offer.
// The request handlers, the administration and the migration see only this
// interface; it is implemented on SQLite ("server.db" in the data
// directory, one process) and on PostgreSQL (any number of processes on one
// database).
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server.h"

namespace srv {

// Bounds the database work of a request: it stops past `until` or once the
// server stops.
struct WorkLimit {
  std::chrono::steady_clock::time_point until;
  const std::atomic<bool>* stopping = nullptr;
};

// A stored value that may be SQL NULL (data nullptr); an empty blob has a
// non-null data pointer and size 0.
struct Blob {
  const void* data = nullptr;
  size_t size = 0;
};

// One stored version: c1..c5 of the repository format.
struct VersionRow {
  const uint8_t* uuid = nullptr;  // 16 bytes
  const uint8_t* hash = nullptr;  // 20 bytes
  int current = 0;                // 0 the current version, 1 an older one
  Blob header, body;
};

struct RepoRow {
  int64_t id = 0;
  uint8_t key_check[64] = {};
  uint8_t state[20] = {};
};

// Row visitors: a non-zero return stops the walk and is passed on.
using VersionFn = std::function<int(const VersionRow&)>;
using LinkFn = std::function<int(const uint8_t* a, const uint8_t* b)>;
using RepoFn = std::function<int(const std::string& name, const RepoRow&)>;

// One connection to the store, used by one thread at a time. Functions
// return 0 on success, 1 for "not found" where stated, and a negative value
// when the store failed (logged).
class StoreConn {
 public:
  virtual ~StoreConn() = default;

  // A read sees one consistent state. A write holds the named locks (an
  // account, a password-change key) in every process until commit or
  // rollback, and is the only writer of what those names cover.
  virtual int begin_read() = 0;
  virtual int begin_write(const std::vector<std::string>& locks) = 0;
  virtual int commit() = 0;
  virtual void rollback() = 0;

  // Accounts. add_account: 0, 1 name taken, 2 number taken.
  virtual int login_hash(uint32_t id, const std::string& name, uint8_t hash[32]) = 0;  // 0, 1
  virtual int account_by_name(const std::string& name, uint32_t* id, uint8_t hash[32]) = 0;  // 0, 1
  virtual int set_account_hash(uint32_t id, const uint8_t hash[32]) = 0;
  virtual int add_account(uint32_t id, const std::string& name, const uint8_t hash[32]) = 0;
  virtual int delete_account(uint32_t id) = 0;  // with its repositories and traces
  virtual int accounts(std::vector<ServerUser>* out) = 0;  // by name

  // Repositories of an account, by name.
  virtual int each_repo(uint32_t account, const RepoFn& fn) = 0;
  int repo_names(uint32_t account, std::vector<std::string>* out);
  virtual int find_repo(uint32_t account, const std::string& name, RepoRow* row) = 0;  // 0, 1
  virtual int insert_repo(uint32_t account, const std::string& name, const uint8_t key_check[64],
                          const uint8_t state[20], int64_t* id) = 0;
  virtual int set_state(int64_t repo, const uint8_t state[20]) = 0;
  // Removes the repository's versions and links, and its record unless kept.
  virtual int delete_repo(int64_t repo, bool keep_record) = 0;
  // Bytes of versions (headers and bodies) the account stores, leaving out
  // repository `except`.
  virtual int usage(uint32_t account, int64_t except, uint64_t* bytes) = 0;

  // Changes inside a write. They may be sent ahead and checked at the next
  // read or at commit, which then fail.
  virtual int put_version(int64_t repo, const VersionRow& v) = 0;  // inserts or replaces
  virtual int delete_version(int64_t repo, const uint8_t uuid[16], const uint8_t hash[20]) = 0;
  virtual int demote_current(int64_t repo, const uint8_t uuid[16]) = 0;  // its current version becomes older
  virtual int add_link(int64_t repo, const uint8_t a[16], const uint8_t b[16]) = 0;  // kept when present
  virtual int delete_link(int64_t repo, const uint8_t a[16], const uint8_t b[16]) = 0;

  // Every version sorted by uuid and hash (bodies left NULL unless asked
  // for), every link sorted.
  virtual int each_version(int64_t repo, bool bodies, const VersionFn& fn) = 0;
  virtual int each_link(int64_t repo, const LinkFn& fn) = 0;
  // The versions a "get sync" request names (36 bytes each: uuid and hash;
  // a zero hash asks for every version of the uuid, sorted by hash), in the
  // order asked, each at most once.
  virtual int versions_for(int64_t repo, const std::string& request, const VersionFn& fn) = 0;

  // Failed password changes by key within the last `window` seconds.
  virtual int failures(const std::string& key, time_t now, int window, int* count) = 0;
  virtual int add_failure(const std::string& key, time_t now, int window) = 0;

  // Keeps a trace an account sent at `stamp` under its name (a later one
  // of the same second and name replaces it); the newest are kept within
  // `cap` bytes per account.
  virtual int put_trace(uint32_t account, time_t stamp, const std::string& name, const std::string& data,
                        uint64_t cap) = 0;
  // A file of the update offer ("version", "notes", "lin64", ...): *path
  // names a readable copy (written into `scratch` when the store holds it
  // elsewhere). 1 when the offer has no such file.
  virtual int update_file(const std::string& name, const std::string& scratch, std::string* path) = 0;

  // Asks a statement running now on another thread to stop (server stop).
  virtual void cancel() {}
  // False once the connection is of no further use (lost).
  virtual bool usable() { return true; }
  // Sets the limit of the next requests' work (nullptr: none).
  virtual void set_limit(WorkLimit*) {}
};

// A transaction ended by commit(), rolled back when its scope ends first.
class StoreTx {
 public:
  StoreTx(StoreConn* c, bool write, const std::vector<std::string>& locks = {})
      : c_(c), status_(write ? c->begin_write(locks) : c->begin_read()), open_(status_ == 0) {}
  ~StoreTx() {
    if (open_) c_->rollback();
  }
  StoreTx(const StoreTx&) = delete;
  StoreTx& operator=(const StoreTx&) = delete;
  int status() const { return status_; }
  int commit() {
    if (!open_) return status_ ? status_ : -1;
    open_ = false;
    return c_->commit();
  }

 private:
  StoreConn* c_;
  int status_;
  bool open_;
};

// The lock name of an account's writes.
std::string account_lock(uint32_t account);

// The store of one process: its configuration and a pool of connections.
struct Store {
  ServerConfig cfg;
  bool postgres = false;
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::unique_ptr<StoreConn>> idle;
  std::vector<StoreConn*> busy;
  int open = 0;
  // SQLite: failed password changes by key (one process holds them all),
  // and the turn of the writers.
  std::map<std::string, std::vector<time_t>> failures;
  std::timed_mutex write_turn;
};

// Opens the store `cfg` names (cfg.database, else cfg.data_dir), creating
// or upgrading its schema. nullptr on failure, with the reason in *error.
std::unique_ptr<Store> store_open(const ServerConfig& cfg, std::string* error);
// A connection for one phase of a request (nullptr when none can be had
// within the work limit); give it back with store_give.
StoreConn* store_take(Store* s, WorkLimit* w);
void store_give(Store* s, StoreConn* c);
// Cancels the statements running now (server stop).
void store_cancel_all(Store* s);

// A connection of the pool for one scope.
class StoreLease {
 public:
  StoreLease(Store* s, WorkLimit* w) : s_(s), c_(store_take(s, w)) {}
  ~StoreLease() {
    if (c_) store_give(s_, c_);
  }
  StoreLease(const StoreLease&) = delete;
  StoreLease& operator=(const StoreLease&) = delete;
  StoreConn* operator->() const { return c_; }
  StoreConn* get() const { return c_; }
  explicit operator bool() const { return c_ != nullptr; }

 private:
  Store* s_;
  StoreConn* c_;
};

// The implementations (store_sqlite.cc, store_pg.cc).
std::unique_ptr<StoreConn> sqlite_connect(Store* s, std::string* error);
int sqlite_prepare_store(const ServerConfig& cfg, std::string* error);
std::unique_ptr<StoreConn> pg_connect(Store* s, std::string* error);
int pg_prepare_store(const ServerConfig& cfg, std::string* error);
// Replaces the update offer held in the database with the files of `dir`.
int pg_publish_updates(Store* s, const std::string& dir);
// Writes every trace held in the database to out_dir/ACCOUNT/STAMP-NAME.
int pg_export_traces(Store* s, const std::string& out_dir);

}  // namespace srv
