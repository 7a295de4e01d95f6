// SPDX-License-Identifier: GPL-3.0-or-later
// A mounted repository as the storage accessors see it, without the SQLite
// interface: the item model and the window hold these and never call SQLite
// themselves.
#pragma once

#include <cstdint>

struct sqlite3;

// The connection, its 32-byte key (owned by the caller, alive during the
// call) and whether it is linked to a server (then changes are logged in
// t3/t4).
struct RepoDb {
  sqlite3* db = nullptr;
  const uint8_t* key = nullptr;
  bool sync = false;
};
