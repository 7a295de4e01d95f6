// Internal pieces of the account server shared by its files: the store
// (server.db and the snapshot files built from it), the request handlers and
// the connection service.
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
  std::map<int64_t, std::shared_ptr<std::mutex>> repo_locks;
  std::map<int, struct SessionSlot> sessions;  // by socket
  std::atomic<uint64_t> tmp_counter{0};
  // Sockets of failed logins, closed by the accept loop when their delay
  // has passed (the delay holds no connection slot and no thread).
  std::vector<std::pair<std::chrono::steady_clock::time_point, int>> delayed_close;
  // Times of failed password changes by "u:NAME" and "a:ADDRESS".
  std::map<std::string, std::vector<time_t>> password_failures;
};

namespace srv {

// ---- store (server_store.cc)

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

// Opens (creating) server.db with its schema.
int open_store(const std::string& data_dir, DbHandle* out);
bool id_ok(const std::string& id);
bool is_zero(const uint8_t* p, size_t n);

struct RepoRow {
  int64_t id = 0;
  uint8_t key_check[64] = {};
  uint8_t state[20] = {};
};

// 0 found, 1 none, else a SQLite code.
int find_repo(sqlite3* db, int64_t account, const std::string& name, RepoRow* row);
int new_state(sqlite3* db, int64_t repo, uint8_t state[20]);
// Removes the repository's versions and links, and its record unless kept.
int delete_repo_rows(sqlite3* db, int64_t repo, bool keep_record = false);

// Largest stored header or body of one version (an item is at most 1 MiB).
constexpr size_t kRowMax = 2u << 20;

// Bounds the SQLite work of a request: a connection with the limit installed
// stops with SQLITE_INTERRUPT past `until` or once the server stops.
struct WorkLimit {
  std::chrono::steady_clock::time_point until;
  const std::atomic<bool>* stopping = nullptr;
};
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
// Bytes of versions the account stores, leaving out repository `except`.
int account_usage(sqlite3* store, int64_t account, int64_t except, uint64_t* out);
// 0 when every version and link the server holds for `repo` is also in the
// uploaded repository database; 1 when not; else a code.
int upload_covers(sqlite3* store, int64_t repo, const std::string& file, WorkLimit* w);
// Copies t0, t1 and t2 of an uploaded repository database into a new
// server repository (inside the caller's transaction).
int import_repo_db(sqlite3* store, const std::string& file, int64_t repo, uint8_t key_check[64], WorkLimit* w);
// Applies an uploaded "sync_2" snapshot: removed versions, added versions
// (a new current version demotes the previous one), link changes.
int apply_sync(sqlite3* store, const std::string& file, int64_t repo, WorkLimit* w);
// Writes "list": s3 every version sorted by uuid and hash, s2 every link
// sorted. Runs inside the caller's read transaction.
int build_list(sqlite3* store, int64_t repo, const std::string& file);
// Writes "sync_1": s1 with each requested version; a zero hash asks for
// every version of the uuid.
int build_sync1(sqlite3* store, int64_t repo, const std::string& request, const std::string& file);
// Writes the repository database a clone receives (plain pages).
int build_clone(sqlite3* store, int64_t repo, const uint8_t key_check[64], const std::string& file);

// ---- requests (server_requests.cc)

// One client conversation.
struct Session {
  Server* srv;
  DbHandle db;
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
