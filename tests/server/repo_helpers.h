// SPDX-License-Identifier: GPL-3.0-or-later
// Building repository databases for server and sync tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "common/test_support.h"
#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/sqlite_util.h"

inline std::string padded(const std::string& text) {
  std::string p = text;
  p.resize((text.size() + 16) & ~size_t(15), '\0');
  return p;
}

inline void uuid_of(uint8_t out[16], int n) {
  std::memset(out, 0, 16);
  out[0] = static_cast<uint8_t>(n);
  out[15] = 0x5a;
}

// Writes a version of object n (an item when body is given, else a tag) in
// one journal group; the hash is SHA-1 over header and body.
inline int put_object(sqlite3* db, const uint8_t key[32], bool sync, int n, const std::string& header,
                      const char* body, bool keep_history = false) {
  uint8_t uuid[16];
  uuid_of(uuid, n);
  std::string all = header + (body ? body : "");
  uint8_t hash[20];
  sha1(hash, all.data(), all.size());
  std::string h = padded(header);
  std::string b = body ? padded(body) : std::string();
  RepoDb r{db, key, sync};
  if (journal_begin(db) != 0) return -1;
  int rc = object_write(r, uuid, hash, reinterpret_cast<const uint8_t*>(h.data()), h.size(),
                        body ? reinterpret_cast<const uint8_t*>(b.data()) : nullptr, b.size(), keep_history);
  if (rc != 0) {
    journal_rollback(db);
    return rc;
  }
  return journal_commit(db);
}

inline int put_link(sqlite3* db, const uint8_t key[32], bool sync, int tag, int item) {
  uint8_t t[16], i[16];
  uuid_of(t, tag);
  uuid_of(i, item);
  RepoDb r{db, key, sync};
  if (journal_begin(db) != 0) return -1;
  int rc = link_add(r, t, i);
  if (rc != 0) {
    journal_rollback(db);
    return rc;
  }
  return journal_commit(db);
}

inline std::string item_header(const std::string& title, long long modified) {
  return "2:0:1:0:0:0;0:0;0:100:" + std::to_string(modified) + ":300:" + title;
}

inline std::string tag_string(const std::string& parent_hex, long long modified, const std::string& name) {
  return parent_hex + ":" + std::to_string(modified) + ":" + name;
}

inline const std::string& zero_hex() {
  static const std::string z(32, '0');
  return z;
}

using test_support::count_rows;
