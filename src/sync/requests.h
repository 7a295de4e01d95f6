// SPDX-License-Identifier: GPL-3.0-or-later
// Single requests to the account server: password change, repository list,
// create, clone and delete, the version check and update download with the
// self-update script, and the trace upload. Each is one connection.
//
// Results: 0 on success; -1 when the connection failed (last_error then
// holds the connection's code) or the reply was malformed; a positive
// value is a status byte of the server or a code named below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sync/conn.h"

struct Account;
struct RepoEntry;

// The platform text sent with requests (the build number comes from
// support/version.h).
#define CLIENT_PLATFORM "linux"

// Codes of the clone.
enum {
  CLONE_BAD_REPLY = 3,       // the server's first reply was not a state identifier
  CLONE_ALREADY_THERE = 5,   // a repository with the same key check exists
  CLONE_WRONG_PASSWORD = 14, // the key check does not verify with the password
};

// Where and as whom to log in.
struct ServerLogin {
  std::string host;  // "name[:port]"
  uint32_t account_id = 0;
  std::string user;
  uint8_t user_hash[32] = {};

  ServerLogin() = default;
  ServerLogin(const ServerLogin&) = default;
  ServerLogin& operator=(const ServerLogin&) = default;
  ~ServerLogin();
};

// The default server: ORDIKA_SERVER when set, else the built-in host.
std::string default_server_host();

// Login of the signed-in account; -1 with last_error 1 when there is none.
int login_for_account(const Account& a, ServerLogin* out);
// Login as a repository's owner: the signed-in account when the repository
// belongs to it, else the account data stored in the entry.
int login_for_repo(const RepoEntry& e, const Account& signed_in, ServerLogin* out);

// Connects and logs in (0, or -1 with last_error set).
int server_connect(Connection* c, const ServerLogin& login);

// "password" on the default server: 0 changed, the server's byte, or -1.
int server_password_change(const char* host, const char* user, const char* old_password, const char* new_password);
// "ls": identifiers of the account's server repositories.
int server_list_repos(const ServerLogin& login, std::vector<std::string>* ids);
// "create repo": uploads dir/"data" (page-encrypted under key) as the
// server repository `id` and writes the state identifier to dir/"list.hash".
int server_create_repo(const ServerLogin& login, const char* id, const char* dir, const uint8_t key[32]);
// "clone repo" into the fresh directory dir: writes "list.hash" and "data"
// (page-encrypted under the key derived from password), then checks the key
// check: CLONE_ALREADY_THERE when already_there(check) says so,
// CLONE_WRONG_PASSWORD when it does not verify. Files are left for the
// caller to remove on failure.
int server_clone_repo(const ServerLogin& login, const char* id, const char* password, const char* dir,
                      bool (*already_there)(const uint8_t check[64]));
// "del repo": 0 deleted, else the server's byte or -1.
int server_delete_repo(const ServerLogin& login, const char* id);

// "get version": 0 with an empty name when there is no newer version; else
// the name (NUL-terminated, must fit size bytes) and the offer's notes.
int update_get_version(const ServerLogin& login, const char* language, char* name, size_t size,
                       std::string* notes);
// "get update" for the package ("lin64"/"lin32"): the file arrives in dir
// under the name the server chose, returned in *file_name.
int update_download(const ServerLogin& login, const char* package, const char* dir, const ConnProgress& progress,
                    std::string* file_name);
// The package name for this build.
const char* update_package_name();
// True for a name an update package may arrive under: a plain file name of
// [A-Za-z0-9._+-] characters, not starting with "." or "-", ending in ".gz".
bool update_name_ok(const char* name);
// Writes dir/"ordika-updater" for the received file (a name accepted by
// update_name_ok, quoted in the script). 0 or -1 (nothing written).
int update_write_script(const char* dir, const char* file_name);
// Starts the child that waits for this process to end and then runs the
// script in dir. 0 in the parent, -1 when fork fails.
int update_install(const char* dir);

// "put trace": sends the end of log_file (at most its last 32000 bytes, from
// a line start) as "%lld.log" made in dir, then removes that file.
int trace_send(const ServerLogin& login, const char* log_file, const char* dir);
// The trace text of a log file: whole when at most 32000 bytes, else from
// the first line start in its last 32000 bytes. -1 when unreadable.
int trace_extract(const char* log_file, std::string* out);

// ---------------------------------------------------------------------------
// Entry points on the repository table (configuration database open,
// account signed in).

// Changes the signed-in account's password on the default server and, once
// the server accepted it, stores the account record with it. 0, the
// server's byte, or -1.
int account_password_change(const char* new_password);
// Puts repository `index` on the server as `id` (empty: its name), then
// records the link (server_id, owner) in the entry and its record.
int repo_put_on_server(int index, const char* id);
// Clones server repository `id` into a new directory under the repository
// root ("repo_root" setting), registers it and clears its history (undo
// journal and change logs), the same for every clone. The directory is
// removed on failure. *index receives the new entry.
int repo_clone_from_server(const char* id, const char* password, int* index);
// The same for a record read from a repository file (parse_repo_import): the
// owner's login comes from the record when it names another account.
struct RepoRecord;
int repo_clone_record(const RepoRecord& rec, int* index);
