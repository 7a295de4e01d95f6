// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the repository files of this folder (repo*.cc) and nothing
// else: the layer's process-wide state, the limits of its records and the
// small parsers the records, the account record and the export file share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/repo.h"

namespace repo_detail {

constexpr size_t kRecordMax = 2048;
constexpr size_t kAccountRecord = 1024;
constexpr uint32_t kPbkdf2Rounds = 20002;
constexpr size_t kPasswordMax = 63;

// The layer's process-wide state; repo_table(), last_error(),
// signed_in_account(), config_db() and config_dir() show it outside.
struct RepoState {
  std::vector<RepoEntry> table;
  int last_error = 0;
  Account account;
  sqlite3* config = nullptr;
  std::string config_dir;
  RepoHooks hooks;
};
RepoState& repo_state();

// The first 63 bytes of a password (what a record keeps).
std::string truncate_password(const char* password);
// A field that would break its record: a line feed or a zero byte.
bool has_lf(const std::string& s);

// Splits text at LF: `count` fields each ended by an LF, the rest after the
// last one in *rest (when given). False when an LF is missing.
bool split_lf(const char* text, size_t len, int count, std::vector<std::string>* fields, std::string* rest);

// A decimal number that fills the whole field.
bool parse_int(const std::string& s, long* out);

// 0: the key check was read; 1: the file opens but no key check can be read
// under `key`; -1: there is no such file or it cannot be opened.
int read_file_check(const std::string& file, const uint8_t key[32], uint8_t check[64]);

// True when the key check verifies under the key.
bool check_matches(const uint8_t check[64], const uint8_t key[32]);

// Completes (or undoes) a password change interrupted after the pending
// password was stored (repo_password_change.cc).
int recover_password_change(RepoEntry* e, const std::string& pending);

}  // namespace repo_detail
