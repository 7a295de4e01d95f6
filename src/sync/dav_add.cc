// SPDX-License-Identifier: GPL-3.0-or-later
// Adding an account: its repository, one tag per collection, the record.
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "interchange/interchange.h"
#include "model/app_core.h"
#include "model/mount.h"
#include "model/tag.h"
#include "storage/repo.h"
#include "storage/source_store.h"
#include "support/log.h"
#include "sync/dav_account.h"

namespace {

// A tag's name for the collection: its display name, else the last part of
// its address.
std::string tag_name(const DavCollection& c) {
  if (!c.display_name.empty()) return c.display_name;
  std::string h = c.href;
  while (!h.empty() && h.back() == '/') h.pop_back();
  size_t slash = h.rfind('/');
  return slash == std::string::npos ? h : h.substr(slash + 1);
}

int undo_repository(int index) {
  int rc = repo_delete(index);
  repo_remount();
  return rc;
}

}  // namespace

int dav_account_create(const std::string& url, const std::string& user, const char* password,
                       const std::string& fingerprint, const std::vector<DavCollection>& chosen, int* repo,
                       std::vector<DavBoundCollection>* bound) {
  bound->clear();
  if (!password) return -1;
  RepoRecord rec;
  rec.name = dav_repository_name(user, url);
  if (repo_create_dir(app_core().repo_root.c_str(), &rec.path) != 0) {
    log_message(LOG_ERROR, "dav_account_create: no directory");
    return -1;
  }
  char pw[21];
  password_generate(pw, 20, 15);
  rec.password = pw;
  wipe(pw, sizeof pw);
  int index = -1;
  if (repo_register(rec, &index) != 0 || index < 0) {
    log_message(LOG_ERROR, "dav_account_create: not registered");
    return -1;
  }
  repo_remount();
  int64_t root = repo_root_tag(index);
  if (root < 0) {
    undo_repository(index);
    return -1;
  }
  for (const DavCollection& c : chosen) {
    DavBoundCollection b;
    b.collection = c;
    int64_t slot = tag_create(index, root, tag_name(c).c_str());
    const Tag* t = tag_get(slot);
    SourceCollection sc;
    if (t) {
      std::memcpy(sc.tag, t->uuid, 16);
      std::memcpy(b.tag, t->uuid, 16);
      sc.href = c.href;
      sc.display_name = c.display_name;
      sc.color = c.color;
      sc.kind = dav_collection_kind_name(c);
    }
    if (!t || source_collection_put(index, sc) != 0) {
      log_message(LOG_ERROR, "dav_account_create: collection not kept");
      undo_repository(index);
      bound->clear();
      return -1;
    }
    bound->push_back(b);
  }
  DavAccountRow row;
  row.repo = index;
  row.url = url;
  row.user = user;
  row.fingerprint = fingerprint;
  if (dav_account_add(&row, password) != 0) {
    undo_repository(index);
    bound->clear();
    return -1;
  }
  *repo = index;
  return 0;
}
