// SPDX-License-Identifier: GPL-3.0-or-later
// The repository export file: 2048 bytes naming a server repository, its
// owner and its password, enciphered under a key from the export password.
#include "storage/repo.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "storage/db.h"
#include "storage/repo_internal.h"
#include "support/files.h"
#include "support/log.h"
#include "support/text.h"

using namespace repo_detail;

int repo_export(const RepoEntry* e, const char* export_password, const char* file) {
  if (!e || repo_state().account.id <= 0 || !file || !*file || e->account_id == 0 || !export_password) return -1;
  bool own = e->account_id == repo_state().account.id;
  const std::string& host = own ? repo_state().account.host : e->account_host;
  const std::string& user = own ? repo_state().account.user : e->account_user;
  const uint8_t* login = own ? repo_state().account.user_hash : e->account_key;
  std::string pw = repo_password(e);
  std::string text;
  text.reserve(REPO_EXPORT_SIZE + 256);
  text += "1\n" + std::to_string(e->account_id) + "\n" + host + "\n" + user + "\n" + hex_encode(login, 32) + "\n" +
          e->server_id + "\n" + pw + "\n";
  wipe(&pw);
  uint8_t buf[REPO_EXPORT_SIZE] = {};
  uint8_t key[32];
  WipeOnExit w1(buf, sizeof buf), w2(key, sizeof key);
  if (text.size() >= REPO_EXPORT_SIZE - 16) {
    wipe(&text);
    return -1;
  }
  std::memcpy(buf + 16, text.data(), text.size());
  wipe(&text);
  if (random_bytes(buf, 16) != 0) return -1;
  pbkdf2_sha256(export_password, buf, 16, kPbkdf2Rounds, key);
  if (secret_encipher(buf + 16, REPO_EXPORT_SIZE - 16, key) != 0) return -1;
  OwnedFile f(std::fopen(file, "wb"));
  bool ok = f && std::fwrite(buf, 1, sizeof buf, f.get()) == sizeof buf;
  if (f) ok = file_close(&f) == 0 && ok;
  if (!ok) {
    log_message(LOG_ERROR, "repo_export: %s", file);
    ::unlink(file);
    return -1;
  }
  return 0;
}

int repo_export_file(const RepoEntry* e, const char* export_password, const char* target) {
  if (!e || !target || !*target) return -1;
  std::string temp = std::string(target) + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    log_message(LOG_ERROR, "repo_export_file: cannot create a file (%d)", errno);
    return -1;
  }
  ::close(fd);
  int rc = repo_export(e, export_password, temp.c_str());
  if (rc == 0) rc = file_sync(temp);
  if (rc == 0) rc = std::rename(temp.c_str(), target);
  if (rc != 0) {
    log_message(LOG_ERROR, "repo_export_file: cannot write the file");
    std::remove(temp.c_str());
    return -1;
  }
  // As for any export: a rename the folder may not keep is not a saved file.
  if (dir_sync(path_parent(target)) != 0) {
    log_message(LOG_ERROR, "repo_export_file: cannot sync the folder (%d)", errno);
    return -1;
  }
  return 0;
}

int parse_repo_import(const char* export_password, const char* file, RepoRecord* out) {
  if (repo_state().account.id <= 0 || !export_password || !file || !out) return -1;
  uint8_t buf[REPO_EXPORT_SIZE + 1];
  uint8_t key[32];
  WipeOnExit w1(buf, sizeof buf), w2(key, sizeof key);
  size_t n = 0;
  {
    OwnedFile f(std::fopen(file, "rb"));
    if (!f) return -1;
    n = std::fread(buf, 1, sizeof buf, f.get());
  }
  if (n != REPO_EXPORT_SIZE) {
    log_message(LOG_ERROR, "parse_repo_import: %zu bytes", n);
    return -1;
  }
  pbkdf2_sha256(export_password, buf, 16, kPbkdf2Rounds, key);
  if (secret_decipher(buf + 16, REPO_EXPORT_SIZE - 16, key) != 0) return -1;
  const char* text = reinterpret_cast<const char*>(buf + 16);
  std::vector<std::string> f;
  long version = 0, number = 0;
  uint8_t login[32];
  WipeOnExit w3(login, sizeof login);
  bool ok = split_lf(text, strnlen(text, REPO_EXPORT_SIZE - 16), 7, &f, nullptr) && parse_int(f[0], &version) &&
            version > 0 && parse_int(f[1], &number) && number > 0 && number <= INT32_MAX && f[4].size() == 64 &&
            hex_decode(f[4].c_str(), login, 32) == 0;
  if (!ok) {
    log_message(LOG_ERROR, "parse_repo_import");
    wipe(&f);
    return -1;
  }
  *out = RepoRecord();
  out->account_id = static_cast<int32_t>(number);
  if (out->account_id != repo_state().account.id) {
    out->account_host = f[2];
    out->account_user = f[3];
    std::memcpy(out->account_key, login, 32);
  }
  out->server_id = f[5];
  out->password = f[6].substr(0, kPasswordMax);
  wipe(&f);
  return 0;
}
