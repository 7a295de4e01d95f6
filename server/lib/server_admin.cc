// SPDX-License-Identifier: GPL-3.0-or-later
// Account server: administration of the accounts and of the update offer
// in the store (the server may be running).
#include <openssl/crypto.h>

#include <cstring>

#include "crypto/crypto.h"
#include "server_internal.h"
#include "support/log.h"

using namespace srv;

namespace {

std::unique_ptr<Store> open_for_admin(const ServerConfig& cfg) {
  std::string error;
  std::unique_ptr<Store> s = store_open(cfg, &error);
  if (!s) log_message(LOG_ERROR, "admin: %s", error.c_str());
  return s;
}

}  // namespace

int server_user_add(const ServerConfig& cfg, const std::string& name, const std::string& password,
                    int32_t* id_out) {
  if (name.empty() || name.size() > CONN_USER_MAX || name.find('\n') != std::string::npos) return -1;
  std::unique_ptr<Store> s = open_for_admin(cfg);
  if (!s) return -1;
  StoreLease db(s.get(), nullptr);
  if (!db) return -1;
  uint8_t hash[32];
  sha256(hash, password.data(), password.size());
  int rc = -1;
  for (int attempt = 0; attempt < 20; ++attempt) {
    uint32_t id = 0;
    random_bytes(&id, sizeof id);
    id &= 0x3fffffff;
    if (id == 0) continue;
    // a taken name ends the attempts, a taken number draws again
    int added = db->add_account(id, name, hash);
    if (added == 0 && id_out) *id_out = static_cast<int32_t>(id);
    if (added != 2) {
      rc = added;
      break;
    }
  }
  OPENSSL_cleanse(hash, sizeof hash);
  return rc < 0 ? -1 : rc;
}

int server_user_del(const ServerConfig& cfg, const std::string& name) {
  std::unique_ptr<Store> s = open_for_admin(cfg);
  if (!s) return -1;
  StoreLease db(s.get(), nullptr);
  if (!db) return -1;
  uint32_t id = 0;
  uint8_t hash[32];
  int found = db->account_by_name(name, &id, hash);
  OPENSSL_cleanse(hash, sizeof hash);
  if (found != 0) return found == 1 ? 1 : -1;
  StoreTx t(db.get(), true, {account_lock(id)});
  if (t.status() != 0 || db->delete_account(id) != 0) return -1;
  return t.commit() == 0 ? 0 : -1;
}

int server_users(const ServerConfig& cfg, std::vector<ServerUser>* out) {
  out->clear();
  std::unique_ptr<Store> s = open_for_admin(cfg);
  if (!s) return -1;
  StoreLease db(s.get(), nullptr);
  return db && db->accounts(out) == 0 ? 0 : -1;
}

int server_publish_updates(const ServerConfig& cfg, const std::string& dir) {
  std::unique_ptr<Store> s = cfg.database.empty() ? nullptr : open_for_admin(cfg);
  return s ? pg_publish_updates(s.get(), dir) : -1;
}

int server_export_traces(const ServerConfig& cfg, const std::string& out_dir) {
  std::unique_ptr<Store> s = cfg.database.empty() ? nullptr : open_for_admin(cfg);
  return s ? pg_export_traces(s.get(), out_dir) : -1;
}
