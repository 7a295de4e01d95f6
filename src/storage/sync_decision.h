// SPDX-License-Identifier: GPL-3.0-or-later
// How a sync settles one conflict, as the sync layer records it and the
// storage layer applies it; free of SQLite, so that the dialogs including
// the sync headers see none.
#pragma once

#include <cstdint>

// 19-byte decision record.
struct SyncDecision {
  uint8_t uuid[16];
  uint8_t remote_exists;
  uint8_t local_exists;
  uint8_t choice;  // 1 take the server's version, 2 keep the local one
};
static_assert(sizeof(SyncDecision) == 19, "decision records are 19 bytes");

enum { SYNC_TAKE_SERVER = 1, SYNC_KEEP_LOCAL = 2 };
