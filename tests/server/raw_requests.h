// SPDX-License-Identifier: GPL-3.0-or-later
// Requests put together by hand, for what the client library never sends
// or never shows: snapshots of any content, downloads as their bytes.
#pragma once

#include <string>

#include "storage/db.h"
#include "sync/conn.h"
#include "sync/requests.h"

// "put sync" of a snapshot file to repository `id`, known by its key check
// and state: the status of the reply; -1 when the conversation failed.
inline int put_snapshot(const ServerLogin& login, const std::string& id, const uint8_t check[64],
                        const std::string& state, const std::string& file) {
  Connection c;
  if (server_connect(&c, login) != 0) return -1;
  std::string text = "put sync\n" + id + "\n";
  conn_put(&c, text.data(), text.size());
  conn_put(&c, check, 64);
  conn_put(&c, state.data(), 20);
  int rc = -1;
  // a status before the upload (the state already moved), or after it
  if (conn_send(&c) == 0 && conn_recv(&c) == 0 && c.recv_size == 1) rc = c.recv_frame[CONN_HEADER];
  if (rc == 0) {
    conn_skip_frame(&c);
    rc = conn_send_file(&c, file.c_str(), "sync_2") == 0 && conn_recv(&c) == 0 && c.recv_size == 1
             ? c.recv_frame[CONN_HEADER]
             : -1;
  }
  conn_close(&c);
  return rc;
}

// A snapshot file made by `sql` on the empty "sync_2" tables; "" when it
// could not be made.
inline std::string make_snapshot(const std::string& file, const std::string& sql) {
  DbHandle snap(db_create_snapshot(file.c_str(), nullptr));
  if (!snap || db_exec(snap.get(), sql.c_str()) != SQLITE_OK) return "";
  return file;
}

// A download as the server sends it: "get list" (with the key check) or
// "clone repo" of repository `id`. The reply's state, the file's name and
// its bytes, one after the other; "" when it failed.
inline std::string download(const ServerLogin& login, const std::string& request, const std::string& id,
                            const uint8_t* check = nullptr) {
  Connection c;
  if (server_connect(&c, login) != 0) return "";
  std::string text = request + "\n" + id + "\n";
  conn_put(&c, text.data(), text.size());
  if (check) conn_put(&c, check, 64);
  std::string out, name, body;
  if (conn_send(&c) == 0 && conn_recv(&c) == 0 && c.recv_size == 20) {
    out.assign(reinterpret_cast<const char*>(c.recv_frame + CONN_HEADER), 20);
    conn_skip_frame(&c);
    if (recv_obj(&c, &name, nullptr, 1, &body) == 0) out += "\n" + name + "\n" + body;
    else out.clear();
  }
  conn_close(&c);
  return out;
}
