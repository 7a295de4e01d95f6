// SPDX-License-Identifier: GPL-3.0-or-later
// Sign-in and sign-out of the sync account.
#include "sync/account_sign_in.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/crypto.h"
#include "storage/repo.h"
#include "sync/requests.h"
#include "support/log.h"

bool server_host_valid(const std::string& h) {
  if (h.empty() || h.size() > 255 || h.find_first_of(" \t\r\n/") != std::string::npos) return false;
  size_t colon = h.rfind(':');
  if (colon == std::string::npos) return true;
  if (colon == 0 || colon + 1 == h.size() || h.find(':') != colon) return false;
  char* end = nullptr;
  long port = std::strtol(h.c_str() + colon + 1, &end, 10);
  return *end == 0 && h[colon + 1] != '-' && h[colon + 1] != '+' && port >= 1 && port <= 65535;
}

int32_t account_number_parse(const std::string& text) {
  if (text.empty() || text.size() > 10) return -1;
  long long v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return -1;
    v = v * 10 + (ch - '0');
  }
  return v > 0 && v <= 0x7fffffff ? static_cast<int32_t>(v) : -1;
}

int account_sign_in(const char* host, int32_t number, const char* user, const char* password) {
  if (!host || !user || !password || number <= 0 || !server_host_valid(host) || !*user || !*password ||
      std::strlen(user) > 255 || std::strpbrk(user, "\r\n") || std::strpbrk(password, "\r\n")) {
    log_message(LOG_ERROR, "account_sign_in: bad input");
    return SIGN_IN_BAD_INPUT;
  }
  ServerLogin login;
  login.host = host;
  login.account_id = static_cast<uint32_t>(number);
  login.user = user;
  sha256(login.user_hash, password, std::strlen(password));
  std::vector<std::string> ids;
  int rc = server_list_repos(login, &ids);
  if (rc < 0) {
    // A connection that came up but brought no reply: the server did not
    // take the login (it closes without answering a wrong key).
    int refused = last_error() == 0;
    log_message(LOG_ERROR, "account_sign_in: %d %d", number, last_error());
    return refused ? SIGN_IN_REFUSED : -1;
  }
  // Any reply under the login key shows the server knows the account.
  rc = account_store(number, user, password, host);
  if (rc != 0) {
    log_message(LOG_ERROR, "account_sign_in: store %d", rc);
    return -1;
  }
  log_message(LOG_INFO, "account_sign_in: %d", number);
  return 0;
}

int account_sign_out() {
  int rc = account_remove();
  log_message(rc == 0 ? LOG_INFO : LOG_ERROR, "account_sign_out: %d", rc);
  return rc == 0 ? 0 : -1;
}
