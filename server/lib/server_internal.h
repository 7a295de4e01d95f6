// SPDX-License-Identifier: GPL-3.0-or-later
// Internal pieces of the account server shared by its files: the snapshot
// files exchanged with clients, the request handlers and the connection
// service. The store is store.h.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "server.h"
#include "store.h"
#include "storage/sqlite_util.h"
#include "storage/untrusted.h"
#include "sync/conn.h"

// A connection being served: its deadline (the login deadline until the
// client has logged in, then the session's) and the peer's address.
struct SessionSlot {
  time_t deadline = 0;  // 0: already cut
  std::string address;
  bool logged_in = false;
};

struct Server {
  ServerConfig cfg;
  int listen_fd = -1;
  int wake[2] = {-1, -1};
  std::atomic<bool> stopping{false};
  std::mutex mu;
  std::condition_variable cv;
  int active = 0;
  std::unique_ptr<srv::Store> store;
  std::map<int, struct SessionSlot> sessions;  // by socket
  std::atomic<uint64_t> tmp_counter{0};
  // Sockets of failed logins, closed by the accept loop when their delay
  // has passed (the delay holds no connection slot and no thread).
  std::vector<std::pair<std::chrono::steady_clock::time_point, int>> delayed_close;
};

namespace srv {

// ---- files exchanged with clients (server_snapshots.cc)

// The repository database as clients store it (what a clone delivers).
extern const char kRepoSchema[];
constexpr size_t kIdMax = 255;

std::string join(const std::string& a, const std::string& b);
bool file_exists(const std::string& path);
std::string read_small_file(const std::string& path, size_t max);

// A directory removed with its files when it goes out of scope.
struct TempDir {
  std::string path;
  ~TempDir();
};

bool id_ok(const std::string& id);
bool is_zero(const uint8_t* p, size_t n);

// Largest stored header or body of one version (an item is at most 1 MiB).
constexpr size_t kRowMax = 2u << 20;

// Installs (nullptr: removes) the limit on a connection.
void work_limit_install(sqlite3* db, WorkLimit* w);

// Opens a plain (unkeyed) database file of the page layer.
int open_plain(const std::string& file, int flags, DbHandle* out);
// Opens a received file (DB_SCHEMA_REPO or DB_SCHEMA_SNAPSHOT) read-only as
// hostile: 0, or non-zero (schema not the format's, unreadable).
int open_upload(const std::string& file, int kind, WorkLimit* w, DbHandle* out);
// Reads every row the request will use before anything is stored: 0 with
// *bytes the stored size of its versions, SRV_BAD_REQUEST (foreign schema,
// malformed or oversized rows), or -1 (unreadable, over the work limit).
int check_upload(const std::string& file, int kind, WorkLimit* w, uint64_t* bytes, uint8_t key_check[64] = nullptr);
// A column of an uploaded file as a stored value, and back.
Blob column_blob(sqlite3_stmt* s, int i);
int bind_stored(sqlite3_stmt* s, int i, const Blob& b);
// 0 when every version and link the server holds for `repo` is also in the
// uploaded repository database; 1 when not; else a code.
int upload_covers(StoreConn* store, int64_t repo, const std::string& file, WorkLimit* w);
// Copies t0, t1 and t2 of an uploaded repository database into a new
// server repository (inside the caller's transaction).
int import_repo_db(StoreConn* store, const std::string& file, int64_t repo, uint8_t key_check[64], WorkLimit* w);
// Applies an uploaded "sync_2" snapshot: removed versions, added versions
// (a new current version demotes the previous one), link changes.
int apply_sync(StoreConn* store, const std::string& file, int64_t repo, WorkLimit* w);
// Writes "list": s3 every version sorted by uuid and hash, s2 every link
// sorted. Runs inside the caller's read transaction.
int build_list(StoreConn* store, int64_t repo, const std::string& file);
// Writes "sync_1": s1 with each requested version; a zero hash asks for
// every version of the uuid.
int build_sync1(StoreConn* store, int64_t repo, const std::string& request, const std::string& file);
// Writes the repository database a clone receives (plain pages).
int build_clone(StoreConn* store, int64_t repo, const uint8_t key_check[64], const std::string& file);

// ---- requests (server_requests.cc)

// One client conversation.
struct Session {
  Server* srv;
  Connection conn;
  uint32_t account = 0;
  std::string user;
  std::string peer;     // "address:port"
  std::string address;  // the peer's address alone
  WorkLimit work;
};

// Starts the work budget of one request's database phase.
void work_begin(Session* ss);
// A name or identifier for the log: control characters and "\\" escaped.
std::string log_safe(const std::string& text);

// Answers one request of a logged-in (or, for "password", anonymous)
// client. 0, or -1 when the conversation failed.
int handle_request(Session* ss, const std::string& command, bool anonymous);

}  // namespace srv
