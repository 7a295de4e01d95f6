// SPDX-License-Identifier: GPL-3.0-or-later
// The account server: accounts, server repositories with their versions,
// links, key checks and state identifiers in a store (one SQLite database
// under the data directory, or a PostgreSQL database shared by any number
// of server processes), and the protocol service answering the client's
// requests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ServerConfig {
  std::string data_dir;       // holds "server.log", "tmp/", and without a database "server.db" and "traces/"
  std::string database;       // PostgreSQL connection string or URI: the store instead of server.db
  int db_connections = 8;     // PostgreSQL connections one process opens at most
  std::string listen_host = "0.0.0.0";
  int port = 443;             // 0 picks a free port (tests)
  std::string update_dir;     // optional: "version", "notes", "lin64", "lin32"
  int max_clients = 64;       // connections served at once; more are closed
  int io_timeout = 60;        // seconds a read or write may wait
  int max_session = 3600;     // seconds a whole conversation may take
  uint64_t max_object = 512ull << 20;   // largest file object received
  uint64_t max_request = 64ull << 20;   // largest "sync.objs"
  uint64_t trace_cap = 1u << 20;        // bytes of traces kept per account
  bool log_to_file = true;    // "server.log" in the data directory
  int fail_delay_ms = 1000;   // a failed login is closed this much later (holding no slot)
  uint64_t quota = 1ull << 30;          // bytes of stored versions per account
  int work_limit = 30;        // seconds of database work one request may take
  int login_timeout = 10;     // seconds for the handshake, login and request line
  int max_unauth_per_host = 0;  // connections of one address not yet logged in (0: half of max_clients)
  std::vector<std::string> proxies;  // balancers whose connections start with a PROXY line naming the client
  int password_attempts = 5;  // failed password changes per account or address ...
  int password_window = 600;  // ... within this many seconds; then refused
};

// Status bytes of the replies.
enum {
  SRV_OK = 0,
  SRV_NOT_FOUND = 1,     // no such repository / account
  SRV_STALE = 2,         // "put sync": state moved since "get list"
  SRV_EXISTS = 3,        // "create repo": identifier taken
  SRV_KEY_MISMATCH = 4,  // key check differs from the stored one
  SRV_BAD_REQUEST = 5,
  SRV_FAILED = 255,
};

struct Server;

// Opens (creating) the data directory and the store (creating or upgrading
// its schema) and binds the listening socket. nullptr on failure (logged,
// and printed to stderr).
Server* server_create(const ServerConfig& cfg);
// The bound port.
int server_port(const Server* s);
// Serves until server_stop; returns 0, or -1 when accepting fails.
int server_run(Server* s);
// Connections being served right now (a request may still be finishing
// after its client has gone).
int server_active(Server* s);
// Asks server_run to return (any thread; safe in a signal handler). Open
// conversations are then cut and their uncommitted work rolled back.
void server_stop(Server* s);
// Waits for the connection threads and frees everything.
void server_destroy(Server* s);

// Administration of the store `cfg` names (the server may be running).
// New account with a fresh number (1..2^30-1, so that a login frame never
// starts like an anonymous request). 0, 1 when the name exists, -1.
int server_user_add(const ServerConfig& cfg, const std::string& name, const std::string& password, int32_t* id_out);
// Removes the account with its repositories. 0, 1 unknown name, -1.
int server_user_del(const ServerConfig& cfg, const std::string& name);
struct ServerUser {
  int32_t id = 0;
  std::string name;
  int repos = 0;
};
int server_users(const ServerConfig& cfg, std::vector<ServerUser>* out);
// PostgreSQL: replaces the update offer the database holds with the files
// of `dir` ("version", "notes", "lin64", "lin32" and their ".sig"); a folder
// without them withdraws it. 0 or -1.
int server_publish_updates(const ServerConfig& cfg, const std::string& dir);
// PostgreSQL: writes the traces the database holds as out_dir/ACCOUNT/
// STAMP-NAME, as a data directory keeps them. 0 or -1.
int server_export_traces(const ServerConfig& cfg, const std::string& out_dir);

// What a migration found and did.
struct MigrateReport {
  int accounts = 0, repos = 0, traces = 0;
  int64_t versions = 0, links = 0;
  int copied = 0;   // repositories copied by this run
  int skipped = 0;  // repositories found complete from an earlier run
};
// Copies the SQLite store of `from` (its data directory) into the
// PostgreSQL database of `to`: accounts, repositories with their versions
// and links, traces. Each repository is copied in one transaction and then
// compared with its source by counts and a content hash. A target that
// holds anything is refused unless `resume`, which keeps the repositories
// an earlier, interrupted run completed. 0, or -1 with *error.
int server_migrate(const ServerConfig& from, const ServerConfig& to, bool resume, MigrateReport* report,
                   std::string* error);
