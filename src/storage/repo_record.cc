// SPDX-License-Identifier: GPL-3.0-or-later
// Repository records: one row of configuration table t2 per repository,
// enciphered under the master key, and the repository password kept
// enciphered in memory.
#include "storage/repo.h"

#include <cstring>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "storage/db.h"
#include "storage/repo_internal.h"
#include "support/log.h"
#include "support/text.h"

using namespace repo_detail;

int repo_record_format(const RepoEntry& e, const char* password, const char* pending, std::vector<uint8_t>* out) {
  std::string pw = password ? password : "";
  std::string pend = pending ? pending : "";
  if (has_lf(e.account_host) || has_lf(e.account_user) || has_lf(e.server_id) || has_lf(e.name) || has_lf(e.path) ||
      has_lf(pw) || has_lf(pend)) {
    log_message(LOG_ERROR, "repo_record_format: line feed in a field");
    wipe(&pw);
    wipe(&pend);
    return -1;
  }
  std::string text;
  text.reserve(kRecordMax + 256);
  text += "1\n";
  text += std::to_string(e.account_id) + "\n";
  text += e.account_host + "\n";
  text += e.account_user + "\n";
  text += hex_encode(e.account_key, 32) + "\n";
  text += e.server_id + "\n";
  text += e.name + "\n";
  text += e.path + "\n";
  text += pw + "\n";
  text += std::to_string((e.hidden ? 2 : 0) + (e.enabled ? 1 : 0)) + "\n";
  text += pend;
  wipe(&pw);
  wipe(&pend);
  size_t padded = (text.size() + 16) & ~static_cast<size_t>(15);
  if (padded > kRecordMax) {
    log_message(LOG_ERROR, "repo_record_format: %zu bytes", text.size());
    wipe(&text);
    return -1;
  }
  out->assign(padded, 0);
  std::memcpy(out->data(), text.data(), text.size());
  wipe(&text);
  if (secret_encipher(out->data(), out->size()) != 0) {
    wipe(out->data(), out->size());
    out->clear();
    return -1;
  }
  return 0;
}

int repo_record_parse(const char* text, size_t len, RepoEntry* e, std::string* password, std::string* pending) {
  len = strnlen(text, len);
  std::vector<std::string> f;
  std::string rest;
  bool ok = split_lf(text, len, 10, &f, &rest);
  long account = 0, flags = 0;
  ok = ok && parse_int(f[1], &account) && parse_int(f[9], &flags) && f[4].size() == 64;
  uint8_t key[32];
  ok = ok && hex_decode(f[4].c_str(), key, 32) == 0;
  if (ok) {
    e->account_id = static_cast<int32_t>(account);
    e->account_host = f[2];
    e->account_user = f[3];
    std::memcpy(e->account_key, key, 32);
    e->server_id = f[5];
    e->name = f[6];
    e->path = f[7];
    *password = f[8].substr(0, kPasswordMax);
    e->hidden = (flags & 2) != 0;
    e->enabled = (flags & 1) != 0;
    *pending = rest.substr(0, kPasswordMax);
  }
  wipe(key, sizeof key);
  wipe(&f);
  wipe(&rest);
  return ok ? 0 : -1;
}

static int store_record(const RepoEntry* e, const char* pending) {
  if (!e || !repo_state().config || e->config_row <= 0 || e->path.empty()) return -1;
  std::string pw = repo_password(e);
  std::vector<uint8_t> rec;
  int rc = repo_record_format(*e, pw.c_str(), pending, &rec);
  wipe(&pw);
  if (rc == 0) rc = repo_list_update(repo_state().config, e->config_row, rec.data(), rec.size());
  if (rc != 0) log_message(LOG_ERROR, "repo_store: %lld: %d", static_cast<long long>(e->config_row), rc);
  return rc;
}

int repo_store(const RepoEntry* e) { return store_record(e, ""); }
int repo_store_pending(const RepoEntry* e, const char* pending) { return store_record(e, pending); }

std::string repo_password(const RepoEntry* e) {
  if (!e) return std::string();
  uint8_t buf[64];
  std::memcpy(buf, e->password, sizeof buf);
  std::string out;
  if (secret_decipher(buf, sizeof buf) == 0) out.assign(reinterpret_cast<char*>(buf), strnlen(reinterpret_cast<char*>(buf), 63));
  wipe(buf, sizeof buf);
  return out;
}

void repo_set_password(RepoEntry* e, const char* password) {
  std::string pw = truncate_password(password);
  std::memset(e->password, 0, sizeof e->password);
  std::memcpy(e->password, pw.data(), pw.size());
  secret_encipher(e->password, sizeof e->password);
  derive_key(pw.c_str(), e->key);
  wipe(&pw);
}
