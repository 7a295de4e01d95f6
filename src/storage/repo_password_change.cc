// SPDX-License-Identifier: GPL-3.0-or-later
// The change of a repository's password: re-keying the rows in one
// transaction, re-encoding the file page by page, and finishing (or undoing)
// a change that a crash interrupted, at the next start.
#include "storage/repo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/page_codec.h"
#include "crypto/wipe.h"
#include "storage/db.h"
#include "storage/page_vfs.h"
#include "storage/repo_internal.h"
#include "storage/source_store.h"
#include "support/files.h"
#include "support/log.h"

using namespace repo_detail;

namespace {

// The entry becomes a local repository of the signed-in account: a changed
// key makes the server copy unusable.
void detach_from_server(RepoEntry* e) {
  e->account_id = repo_state().account.id > 0 ? repo_state().account.id : 0;
  e->server_id.clear();
  e->account_host.clear();
  e->account_user.clear();
  wipe(e->account_key, sizeof e->account_key);
}

int finish_change(RepoEntry* e, const std::string& new_password) {
  // The source store follows "data" to the new key before the record says
  // the change is over; failing, the pending password stays and the next
  // start finishes it.
  uint8_t new_key[32];
  WipeOnExit wipe_key(new_key, sizeof new_key);
  derive_key(new_password.c_str(), new_key);
  source_close(e);
  if (source_rekey_file(e->path.c_str(), e->key, new_key) != 0) {
    log_message(LOG_ERROR, "change_repo_password: sources");
    return -1;
  }
  detach_from_server(e);
  repo_set_password(e, new_password.c_str());
  int rc = repo_store(e);
  std::string temp = path_join(e->path, "temp");
  if (path_exists(temp)) ::unlink(temp.c_str());
  return rc;
}

}  // namespace

// Completes (or undoes) a password change interrupted after the pending
// password was stored. 0 when the entry is usable afterwards (with the old or
// the new password), -1 when it is not.
int repo_detail::recover_password_change(RepoEntry* e, const std::string& pending) {
  uint8_t new_key[32];
  WipeOnExit wipe_key(new_key, sizeof new_key);
  derive_key(pending.c_str(), new_key);
  std::string data = path_join(e->path, "data");
  std::string temp = path_join(e->path, "temp");
  uint8_t check[64];

  if (!path_exists(data)) {
    // Only a complete file under the new key may take the place of "data".
    if (!path_exists(temp) || read_file_check(temp, new_key, check) != 0 || !check_matches(check, new_key)) {
      log_message(LOG_ERROR, "parse_repo: no data in %s", e->path.c_str());
      return -1;
    }
    if (file_sync(temp) != 0) {
      log_message(LOG_ERROR, "parse_repo: sync temp: %d", errno);
      return -1;
    }
    if (::rename(temp.c_str(), data.c_str()) != 0) {
      log_message(LOG_ERROR, "parse_repo: temp -> data: %d", errno);
      return -1;
    }
    // "data" is complete and in place; only its name's durability is in
    // doubt, which failing here would not mend: logged.
    if (dir_sync(e->path) != 0) log_message(LOG_WARNING, "parse_repo: sync %s: %d", e->path.c_str(), errno);
    return finish_change(e, pending) == 0 ? 0 : -1;
  }

  int r = read_file_check(data, e->key, check);
  if (r < 0) {
    log_message(LOG_ERROR, "parse_repo: cannot open %s", data.c_str());
    return -1;
  }
  if (r == 1) {
    // Unreadable under the old key: re-encoded already, if the new key
    // proves it.
    if (read_file_check(data, new_key, check) != 0 || !check_matches(check, new_key)) {
      log_message(LOG_ERROR, "parse_repo: %s opens with neither key", data.c_str());
      return -1;
    }
    return finish_change(e, pending) == 0 ? 0 : -1;
  }
  if (check_matches(check, e->key)) {
    // The re-keying never committed: the old password stays.
    repo_store(e);
    return 0;
  }
  if (check_matches(check, new_key)) {
    int rc = reencode_dbfile(e->path.c_str(), e->key, new_key);
    if (rc != 0) return -1;
    return finish_change(e, pending) == 0 ? 0 : -1;
  }
  log_message(LOG_ERROR, "parse_repo: key check of %s matches neither key", data.c_str());
  repo_store(e);
  return -1;
}

int change_repo_password(RepoEntry* e, const char* new_password) {
  if (!e || !new_password || !*new_password || e->path.empty()) return -1;
  std::string pw = truncate_password(new_password);
  if (has_lf(pw)) {
    wipe(&pw);
    return -1;
  }
  if (repo_open(e) != 0) {
    log_message(LOG_ERROR, "change_repo_password: cannot open %s", e->path.c_str());
    wipe(&pw);
    return -1;
  }
  uint8_t old_key[32], new_key[32];
  WipeOnExit w1(old_key, sizeof old_key), w2(new_key, sizeof new_key);
  std::memcpy(old_key, e->key, 32);
  derive_key(pw.c_str(), new_key);

  bool pending_stored = false;
  int rc;
  {
    Transaction tx(e->db);
    rc = tx.status();
    if (rc == SQLITE_OK) rc = repo_rekey(e->db, old_key, new_key);
    // The record keeps its server link until the change is complete, so that
    // a crash before the commit leaves the repository exactly as it was.
    if (rc == 0) {
      rc = repo_store_pending(e, pw.c_str());
      pending_stored = rc == 0;
    }
    if (rc == 0) rc = tx.commit();
  }
  if (rc != 0 && pending_stored) repo_store(e);
  repo_close(e);
  if (rc != 0) {
    log_message(LOG_ERROR, "change_repo_password: %d", rc);
    wipe(&pw);
    return rc;
  }
  rc = reencode_dbfile(e->path.c_str(), old_key, new_key);
  if (rc != 0) {
    // The pending password stays in the record: the next start finishes.
    log_message(LOG_ERROR, "change_repo_password: reencode_dbfile: %d", rc);
    wipe(&pw);
    return rc;
  }
  rc = finish_change(e, pw);
  wipe(&pw);
  return rc;
}

int reencode_dbfile(const char* dir, const uint8_t old_key[32], const uint8_t new_key[32]) {
  return reencode_named(dir, "data", "temp", old_key, new_key);
}

int reencode_named(const char* dir, const char* name, const char* temp_name, const uint8_t old_key[32],
                   const uint8_t new_key[32]) {
  std::string data = path_join(dir, name);
  std::string temp = path_join(dir, temp_name);
  struct stat st;
  if (::stat((data + "-journal").c_str(), &st) == 0 && st.st_size > 0) {
    // A hot journal belongs to the old key: roll it back first (open the
    // database under the old key), never re-encode around it.
    log_message(LOG_ERROR, "reencode_dbfile: journal present");
    return -1;
  }
  OwnedFile in(std::fopen(data.c_str(), "rb"));
  if (!in) return -1;
  OwnedFile out(std::fopen(temp.c_str(), "wb"));
  bool ok = out != nullptr;
  uint8_t block[1024];
  WipeOnExit wipe_block(block, sizeof block);
  while (ok) {
    size_t n = std::fread(block, 1, sizeof block, in.get());
    if (n == 0) {
      ok = !std::ferror(in.get());
      break;
    }
    if (n != sizeof block) {
      ok = false;
      break;
    }
    page_transform(old_key, block, sizeof block, 0, CIPHER_DECRYPT);
    page_transform(new_key, block, sizeof block, 0, CIPHER_ENCRYPT);
    ok = std::fwrite(block, 1, sizeof block, out.get()) == sizeof block;
  }
  if (ok) ok = std::fflush(out.get()) == 0 && ::fsync(fileno(out.get())) == 0;
  if (out) ok = file_close(&out) == 0 && ok;
  if (!ok) {
    log_message(LOG_ERROR, "reencode_dbfile: %s -> %s", name, temp_name);
    ::unlink(temp.c_str());
    return -1;
  }
  int rc = ::rename(temp.c_str(), data.c_str());
  if (rc != 0) {
    log_message(LOG_ERROR, "reencode_dbfile: %s -> %s", temp_name, name);
    return rc;
  }
  // "data" is under the new key now and the caller must go on with it, so
  // a folder that cannot be synced is logged, not failed.
  if (dir_sync(dir) != 0) log_message(LOG_WARNING, "reencode_dbfile: sync the folder: %d", errno);
  return 0;
}
