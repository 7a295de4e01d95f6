// SPDX-License-Identifier: GPL-3.0-or-later
// The sync account record: record 0 of configuration table t1, enciphered
// under the master key, and the signed-in account it makes.
#include "storage/repo.h"

#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "storage/db.h"
#include "storage/repo_internal.h"
#include "storage/sqlite_util.h"
#include "support/log.h"

using namespace repo_detail;

Account::~Account() {
  wipe(&password);
  wipe(user_hash, sizeof user_hash);
}

Account& signed_in_account() { return repo_state().account; }
bool has_signed_in_account() { return repo_state().account.id > 0; }

int account_store(int32_t number, const char* user, const char* password, const char* host) {
  if (number <= 0 || !user || !password || !host || !repo_state().config) return -1;
  if (std::strchr(user, '\n') || std::strchr(password, '\n') || std::strchr(host, '\n')) return -1;
  uint8_t buf[kAccountRecord] = {};
  WipeOnExit wipe_buf(buf, sizeof buf);
  int n = std::snprintf(reinterpret_cast<char*>(buf), sizeof buf, "%d\n%s\n%s\n%s\n", number, user, password, host);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return -1;
  if (secret_encipher(buf, sizeof buf) != 0) return -1;
  int rc = config_record_put(repo_state().config, 0, buf, sizeof buf);
  if (rc != 0) {
    log_message(LOG_ERROR, "account_store: %d", rc);
    return rc;
  }
  repo_state().account.id = number;
  repo_state().account.user = user;
  wipe(&repo_state().account.password);
  repo_state().account.password = password;
  repo_state().account.host = host;
  sha256(repo_state().account.user_hash, password, std::strlen(password));
  return 0;
}

int account_load() {
  repo_state().account = Account();
  if (!repo_state().config) return -1;
  uint8_t buf[kAccountRecord];
  WipeOnExit wipe_buf(buf, sizeof buf);
  if (config_record_get(repo_state().config, 0, buf, sizeof buf) != 0) return -1;
  if (secret_decipher(buf, sizeof buf) != 0) return -1;
  std::vector<std::string> f;
  const char* text = reinterpret_cast<const char*>(buf);
  long number = 0;
  bool ok = split_lf(text, strnlen(text, sizeof buf), 4, &f, nullptr) && parse_int(f[0], &number) && number > 0 &&
            number <= INT32_MAX;
  if (ok) {
    repo_state().account.id = static_cast<int32_t>(number);
    repo_state().account.user = f[1];
    repo_state().account.password = f[2];
    repo_state().account.host = f[3];
    sha256(repo_state().account.user_hash, f[2].data(), f[2].size());
  } else {
    log_message(LOG_ERROR, "account_load");
  }
  wipe(&f);
  return ok ? 0 : -1;
}

int account_remove() {
  if (!repo_state().config) return -1;
  int rc = db_exec(repo_state().config, "DELETE FROM t1 WHERE c1=0;");
  if (rc != 0) {
    log_message(LOG_ERROR, "account_remove: %d", rc);
    return -1;
  }
  repo_state().account = Account();
  return 0;
}
