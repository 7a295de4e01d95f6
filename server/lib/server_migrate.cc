// SPDX-License-Identifier: GPL-3.0-or-later
// Account server: moving a data directory's store into PostgreSQL. Both
// sides are read through the store interface; each repository is copied in
// one transaction of the target and compared with its source afterwards.
#include <dirent.h>
#include <openssl/crypto.h>

#include <cstring>
#include <map>

#include "crypto/crypto.h"
#include "server_internal.h"
#include "support/log.h"

using namespace srv;

namespace {

// The content of a repository: its counts and a hash over every version
// and link in order, with the state and key check.
struct RepoDigest {
  int64_t versions = 0, links = 0;
  uint8_t hash[32] = {};
  bool operator==(const RepoDigest& o) const {
    return versions == o.versions && links == o.links && std::memcmp(hash, o.hash, 32) == 0;
  }
};

void hash_blob(Sha256Context* c, const Blob& b) {
  uint8_t head[9] = {static_cast<uint8_t>(b.data ? 1 : 0)};
  for (int i = 0; i < 8; ++i) head[1 + i] = static_cast<uint8_t>(static_cast<uint64_t>(b.size) >> (8 * i));
  sha256_update(c, head, sizeof head);
  if (b.size) sha256_update(c, b.data, b.size);
}

int digest_of(StoreConn* db, const RepoRow& row, RepoDigest* out) {
  Sha256Context c;
  sha256_init(&c);
  sha256_update(&c, row.key_check, 64);
  sha256_update(&c, row.state, 20);
  *out = RepoDigest();
  int rc = db->each_version(row.id, true, [&](const VersionRow& v) {
    uint8_t current = static_cast<uint8_t>(v.current);
    sha256_update(&c, v.uuid, 16);
    sha256_update(&c, v.hash, 20);
    sha256_update(&c, &current, 1);
    hash_blob(&c, v.header);
    hash_blob(&c, v.body);
    ++out->versions;
    return 0;
  });
  if (rc == 0)
    rc = db->each_link(row.id, [&](const uint8_t* a, const uint8_t* b) {
      sha256_update(&c, a, 16);
      sha256_update(&c, b, 16);
      ++out->links;
      return 0;
    });
  sha256_final(&c, out->hash);
  return rc;
}

// The digest of repository `name` of an account inside one read; 1 when
// the account has no such repository.
int read_digest(StoreConn* db, uint32_t account, const std::string& name, RepoRow* row, RepoDigest* d) {
  StoreTx t(db, false);
  int rc = t.status();
  if (rc == 0) rc = db->find_repo(account, name, row);
  if (rc == 0) rc = digest_of(db, *row, d);
  if (rc == 0) rc = t.commit();
  return rc;
}

// Copies one repository (replacing a partial or different copy) in one
// transaction of the target.
int copy_repo(StoreConn* from, StoreConn* to, uint32_t account, const std::string& name) {
  StoreTx read(from, false);
  StoreTx write(to, true, {account_lock(account)});
  int rc = read.status() ? read.status() : write.status();
  RepoRow src, old;
  if (rc == 0) rc = from->find_repo(account, name, &src);
  int found = rc == 0 ? to->find_repo(account, name, &old) : rc;
  if (found == 0) rc = to->delete_repo(old.id, false);
  else if (found != 1) rc = found;
  int64_t id = 0;
  if (rc == 0) rc = to->insert_repo(account, name, src.key_check, src.state, &id);
  if (rc == 0) rc = from->each_version(src.id, true, [&](const VersionRow& v) { return to->put_version(id, v); });
  if (rc == 0) rc = from->each_link(src.id, [&](const uint8_t* a, const uint8_t* b) { return to->add_link(id, a, b); });
  if (rc == 0) rc = write.commit();
  return rc;
}

// The account in the target: created, or found with the same number (its
// password hash then follows the source).
int copy_account(StoreConn* to, const ServerUser& u, const uint8_t hash[32], std::string* error) {
  int rc = to->add_account(static_cast<uint32_t>(u.id), u.name, hash);
  if (rc == 0) return 0;
  uint8_t there[32];
  uint32_t id = 0;
  if (rc == 1 && to->account_by_name(u.name, &id, there) == 0 && id == static_cast<uint32_t>(u.id))
    return to->set_account_hash(id, hash);
  *error = "account " + log_safe(u.name) + " (" + std::to_string(u.id) +
           ") is in the database under another name or number";
  return -1;
}

// The traces of a data directory: traces/ACCOUNT/STAMP-NAME.
int copy_traces(const std::string& data_dir, StoreConn* to, uint64_t cap, int* copied) {
  std::string base = join(data_dir, "traces");
  DIR* d = ::opendir(base.c_str());
  if (!d) return 0;
  int rc = 0;
  while (struct dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    uint32_t account = static_cast<uint32_t>(std::strtoul(e->d_name, nullptr, 10));
    std::string dir = join(base, e->d_name);
    DIR* sub = ::opendir(dir.c_str());
    if (!sub) continue;
    while (struct dirent* f = ::readdir(sub)) {
      char* dash = nullptr;
      long long stamp = std::strtoll(f->d_name, &dash, 10);
      if (f->d_name[0] == '.' || !dash || *dash != '-' || !dash[1]) continue;
      std::string data = read_small_file(join(dir, f->d_name), cap);
      if (rc == 0) rc = to->put_trace(account, static_cast<time_t>(stamp), dash + 1, data, cap);
      if (rc == 0) ++*copied;
    }
    ::closedir(sub);
  }
  ::closedir(d);
  return rc;
}

}  // namespace

int server_migrate(const ServerConfig& from, const ServerConfig& to, bool resume, MigrateReport* report,
                   std::string* error) {
  *report = MigrateReport();
  if (!from.database.empty() || to.database.empty()) {
    *error = "migrate copies the server.db of a data directory into a PostgreSQL database";
    return -1;
  }
  if (!file_exists(join(from.data_dir, "server.db"))) {
    *error = "no server.db in " + from.data_dir;
    return -1;
  }
  std::unique_ptr<Store> src = store_open(from, error);
  std::unique_ptr<Store> dst = src ? store_open(to, error) : nullptr;
  if (!dst) return -1;
  StoreLease a(src.get(), nullptr), b(dst.get(), nullptr);
  std::vector<ServerUser> accounts, present;
  if (!a || !b || a->accounts(&accounts) != 0 || b->accounts(&present) != 0) {
    *error = "cannot read the accounts";
    return -1;
  }
  if (!present.empty() && !resume) {
    *error = "the database already holds accounts (--resume continues an interrupted migration)";
    return -1;
  }
  for (const ServerUser& u : accounts) {
    uint32_t id = 0;
    uint8_t hash[32];
    int rc = a->account_by_name(u.name, &id, hash);
    if (rc == 0) rc = copy_account(b.get(), u, hash, error);
    OPENSSL_cleanse(hash, sizeof hash);
    if (rc != 0) {
      if (error->empty()) *error = "cannot copy account " + log_safe(u.name);
      return -1;
    }
    ++report->accounts;
    std::vector<std::string> names;
    if (a->repo_names(id, &names) != 0) {
      *error = "cannot read the repositories of " + log_safe(u.name);
      return -1;
    }
    for (const std::string& name : names) {
      RepoRow row, there;
      RepoDigest want, got;
      std::string what = "repository " + log_safe(name) + " of " + log_safe(u.name);
      if (read_digest(a.get(), id, name, &row, &want) != 0) {
        *error = "cannot read " + what;
        return -1;
      }
      if (read_digest(b.get(), id, name, &there, &got) == 0 && got == want) {
        ++report->skipped;
      } else {
        if (copy_repo(a.get(), b.get(), id, name) != 0 || read_digest(b.get(), id, name, &there, &got) != 0) {
          *error = "cannot copy " + what;
          return -1;
        }
        if (!(got == want)) {
          *error = what + " differs from its source after the copy";
          return -1;
        }
        ++report->copied;
      }
      ++report->repos;
      report->versions += want.versions;
      report->links += want.links;
    }
    std::vector<std::string> target_names;
    if (b->repo_names(id, &target_names) != 0 || target_names != names) {
      *error = "the repositories of " + log_safe(u.name) + " in the database differ from the source's";
      return -1;
    }
    log_message(LOG_NOTICE, "migrate: account %d with %zu repositories", u.id, names.size());
  }
  present.clear();
  if (b->accounts(&present) != 0 || present.size() != accounts.size()) {
    *error = "the database holds other accounts than the source";
    return -1;
  }
  if (copy_traces(from.data_dir, b.get(), to.trace_cap, &report->traces) != 0) {
    *error = "cannot copy the traces";
    return -1;
  }
  log_message(LOG_NOTICE, "migrate: %d accounts, %d repositories (%d copied), %lld versions, %lld links, %d traces",
              report->accounts, report->repos, report->copied, static_cast<long long>(report->versions),
              static_cast<long long>(report->links), report->traces);
  return 0;
}
