// SPDX-License-Identifier: GPL-3.0-or-later
// Account server: the store on PostgreSQL, shared by any number of server
// processes. Writes of one account are serialised by an advisory lock held
// until the transaction ends, so a process that dies releases it with its
// connection and its transaction is rolled back. Names are kept as bytea:
// they are the client's bytes, sorted as SQLite sorts them.
#include <libpq-fe.h>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "crypto/crypto.h"
#include "server_internal.h"
#include "store.h"
#include "support/log.h"

namespace srv {

namespace {

// The schema, one step per version; each step can run again unharmed.
const char* const kMigrations[] = {
    // 1
    "CREATE TABLE IF NOT EXISTS accounts(id bigint PRIMARY KEY, name bytea UNIQUE NOT NULL, hash bytea NOT NULL);"
    "CREATE TABLE IF NOT EXISTS repos(id bigserial PRIMARY KEY, account bigint NOT NULL, name bytea NOT NULL, "
    "key_check bytea NOT NULL, state bytea NOT NULL, UNIQUE(account, name));"
    "CREATE TABLE IF NOT EXISTS versions(repo bigint NOT NULL, uuid bytea NOT NULL, hash bytea NOT NULL, "
    "current smallint NOT NULL, header bytea, body bytea, PRIMARY KEY(repo, uuid, hash));"
    // encrypted: compressing them only costs time
    "ALTER TABLE versions ALTER COLUMN header SET STORAGE EXTERNAL, ALTER COLUMN body SET STORAGE EXTERNAL;"
    "CREATE TABLE IF NOT EXISTS links(repo bigint NOT NULL, a bytea NOT NULL, b bytea NOT NULL, "
    "PRIMARY KEY(repo, a, b));"
    "CREATE TABLE IF NOT EXISTS password_failures(key bytea NOT NULL, at bigint NOT NULL);"
    "CREATE INDEX IF NOT EXISTS password_failures_key ON password_failures(key, at);"
    "CREATE INDEX IF NOT EXISTS password_failures_at ON password_failures(at);"
    "CREATE TABLE IF NOT EXISTS traces(account bigint NOT NULL, stamp bigint NOT NULL, name bytea NOT NULL, "
    "data bytea NOT NULL, PRIMARY KEY(account, stamp, name));"
    "CREATE TABLE IF NOT EXISTS updates(name text PRIMARY KEY, data bytea NOT NULL);"
    "ALTER TABLE updates ALTER COLUMN data SET STORAGE EXTERNAL;",
};
constexpr int kSchemaVersion = sizeof kMigrations / sizeof kMigrations[0];

// The statements every connection prepares.
enum Sql {
  kLogin,
  kAccountByName,
  kSetHash,
  kAddAccount,
  kAccountExists,
  kDeleteAccountVersions,
  kDeleteAccountLinks,
  kDeleteAccountRepos,
  kDeleteAccountTraces,
  kDeleteAccount,
  kAccounts,
  kRepos,
  kFindRepo,
  kInsertRepo,
  kSetState,
  kDeleteVersions,
  kDeleteLinks,
  kDeleteRepo,
  kUsage,
  kPutVersion,
  kDeleteVersion,
  kDemote,
  kAddLink,
  kDeleteLink,
  kVersions,
  kVersionsWithBodies,
  kLinks,
  kVersionsFor,
  kFailures,
  kAddFailure,
  kExpireFailures,
  kPutTrace,
  kPruneTraces,
  kUpdateFile,
  kSqlCount
};

const char* const kSql[kSqlCount] = {
    "SELECT hash FROM accounts WHERE id=$1::int8 AND name=$2::bytea",
    "SELECT hash, id FROM accounts WHERE name=$1::bytea",
    "UPDATE accounts SET hash=$2::bytea WHERE id=$1::int8",
    "INSERT INTO accounts VALUES ($1::int8, $2::bytea, $3::bytea) ON CONFLICT DO NOTHING RETURNING id",
    "SELECT 1 FROM accounts WHERE name=$1::bytea",
    "DELETE FROM versions WHERE repo IN (SELECT id FROM repos WHERE account=$1::int8)",
    "DELETE FROM links WHERE repo IN (SELECT id FROM repos WHERE account=$1::int8)",
    "DELETE FROM repos WHERE account=$1::int8",
    "DELETE FROM traces WHERE account=$1::int8",
    "DELETE FROM accounts WHERE id=$1::int8",
    "SELECT a.id, a.name, (SELECT count(*) FROM repos r WHERE r.account=a.id) FROM accounts a ORDER BY a.name",
    "SELECT name, id, key_check, state FROM repos WHERE account=$1::int8 ORDER BY name",
    "SELECT id, key_check, state FROM repos WHERE account=$1::int8 AND name=$2::bytea",
    "INSERT INTO repos(account, name, key_check, state) VALUES ($1::int8, $2::bytea, $3::bytea, $4::bytea) "
    "RETURNING id",
    "UPDATE repos SET state=$2::bytea WHERE id=$1::int8",
    "DELETE FROM versions WHERE repo=$1::int8",
    "DELETE FROM links WHERE repo=$1::int8",
    "DELETE FROM repos WHERE id=$1::int8",
    "SELECT coalesce(sum(coalesce(octet_length(v.header), 0) + coalesce(octet_length(v.body), 0)), 0)::int8 "
    "FROM versions v JOIN repos r ON v.repo = r.id WHERE r.account=$1::int8 AND r.id<>$2::int8",
    "INSERT INTO versions VALUES ($1::int8, $2::bytea, $3::bytea, $4::int2, $5::bytea, $6::bytea) "
    "ON CONFLICT (repo, uuid, hash) DO UPDATE SET current=excluded.current, header=excluded.header, "
    "body=excluded.body",
    "DELETE FROM versions WHERE repo=$1::int8 AND uuid=$2::bytea AND hash=$3::bytea",
    "UPDATE versions SET current=1 WHERE repo=$1::int8 AND uuid=$2::bytea AND current=0",
    "INSERT INTO links VALUES ($1::int8, $2::bytea, $3::bytea) ON CONFLICT DO NOTHING",
    "DELETE FROM links WHERE repo=$1::int8 AND a=$2::bytea AND b=$3::bytea",
    "SELECT uuid, hash, current FROM versions WHERE repo=$1::int8 ORDER BY uuid, hash",
    "SELECT uuid, hash, current, header, body FROM versions WHERE repo=$1::int8 ORDER BY uuid, hash",
    "SELECT a, b FROM links WHERE repo=$1::int8 ORDER BY a, b",
    // the request's entries in order; a zero hash takes every version of the uuid
    "SELECT v.uuid, v.hash, v.current, v.header, v.body FROM generate_series(0, octet_length($2::bytea) / 36 - 1) "
    "AS i JOIN versions v ON v.repo=$1::int8 AND v.uuid=substr($2::bytea, i * 36 + 1, 16) AND "
    "(substr($2::bytea, i * 36 + 17, 20)='\\x0000000000000000000000000000000000000000'::bytea OR "
    "v.hash=substr($2::bytea, i * 36 + 17, 20)) ORDER BY i, v.hash",
    "SELECT count(*) FROM password_failures WHERE key=$1::bytea AND at>$2::int8",
    "INSERT INTO password_failures VALUES ($1::bytea, $2::int8)",
    "DELETE FROM password_failures WHERE at<=$1::int8",
    "INSERT INTO traces VALUES ($1::int8, $2::int8, $3::bytea, $4::bytea) "
    "ON CONFLICT (account, stamp, name) DO UPDATE SET data=excluded.data",
    // the newest first within the cap
    "DELETE FROM traces t USING (SELECT stamp, name, sum(octet_length(data)) OVER (ORDER BY stamp DESC, name DESC) "
    "AS total FROM traces WHERE account=$1::int8) k WHERE t.account=$1::int8 AND t.stamp=k.stamp AND "
    "t.name=k.name AND k.total>$2::int8",
    "SELECT data FROM updates WHERE name=$1::text",
};

// The files of an update offer.
const char* const kUpdateFiles[] = {"version", "notes", "lin64", "lin32", "lin64.sig", "lin32.sig"};

// Writes sent ahead before their results are read.
constexpr int kPipelineMax = 256;
constexpr size_t kPipelineBytes = 8u << 20;

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, ResultFree>;

struct ConnFree {
  void operator()(PGconn* c) const { PQfinish(c); }
};
using PgConnHandle = std::unique_ptr<PGconn, ConnFree>;

// Parameters of one statement, all in binary.
struct Params {
  static constexpr int kMax = 6;
  const char* values[kMax] = {};
  int lengths[kMax] = {};
  int formats[kMax] = {};
  char ints[kMax][8] = {};
  int n = 0;
  size_t bytes = 0;

  Params& i64(int64_t v) {
    for (int i = 0; i < 8; ++i) ints[n][i] = static_cast<char>(static_cast<uint64_t>(v) >> (56 - 8 * i));
    return raw(ints[n], 8);
  }
  Params& data(const void* p, size_t size) { return raw(p ? (size ? p : "") : nullptr, size); }
  Params& blob(const Blob& b) { return data(b.data, b.size); }
  // A name as SQLite binds it: up to its first NUL.
  Params& name(const std::string& s) { return raw(s.c_str(), std::strlen(s.c_str())); }
  // Text (update file names).
  Params& text(const std::string& s) {
    values[n] = s.c_str();
    formats[n] = 0;
    ++n;
    return *this;
  }

 private:
  Params& raw(const void* p, size_t size) {
    values[n] = static_cast<const char*>(p);
    lengths[n] = static_cast<int>(size);
    formats[n] = 1;
    bytes += size;
    ++n;
    return *this;
  }
};

int64_t get_int(const PGresult* r, int row, int col) {
  const auto* p = reinterpret_cast<const uint8_t*>(PQgetvalue(r, row, col));
  int len = PQgetlength(r, row, col);
  uint64_t v = 0;
  for (int i = 0; i < len; ++i) v = (v << 8) | p[i];
  if (len == 2) return static_cast<int16_t>(v);
  if (len == 4) return static_cast<int32_t>(v);
  return static_cast<int64_t>(v);
}

const uint8_t* get_fixed(const PGresult* r, int row, int col, int size) {
  if (PQgetisnull(r, row, col) || PQgetlength(r, row, col) != size) return nullptr;
  return reinterpret_cast<const uint8_t*>(PQgetvalue(r, row, col));
}

std::string get_bytes(const PGresult* r, int row, int col) {
  return std::string(PQgetvalue(r, row, col), static_cast<size_t>(PQgetlength(r, row, col)));
}

Blob get_blob(const PGresult* r, int row, int col) {
  Blob b;
  if (PQgetisnull(r, row, col)) return b;
  b.data = PQgetvalue(r, row, col);
  b.size = static_cast<size_t>(PQgetlength(r, row, col));
  return b;
}

int repo_of(const PGresult* r, int row, int first, RepoRow* out) {
  out->id = get_int(r, row, first);
  const uint8_t* kc = get_fixed(r, row, first + 1, 64);
  const uint8_t* st = get_fixed(r, row, first + 2, 20);
  if (!kc || !st) return -1;
  std::memcpy(out->key_check, kc, 64);
  std::memcpy(out->state, st, 20);
  return 0;
}

// A lock name as the 64-bit key of an advisory lock.
int64_t lock_key(const std::string& name) {
  uint8_t h[32];
  sha256(h, name.data(), name.size());
  uint64_t k = 0;
  for (int i = 0; i < 8; ++i) k = (k << 8) | h[i];
  return static_cast<int64_t>(k);
}

void quiet_notices(void*, const char*) {}

// The primary message of a failure and its code, never its detail (which
// may quote values).
std::string describe(PGconn* c, const PGresult* r) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string text = primary ? primary : PQerrorMessage(c);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return (state ? std::string(state) + " " : std::string()) + text;
}

PgConnHandle connect_db(const ServerConfig& cfg, std::string* error) {
  // Earlier entries are defaults the connection string may override; the
  // password from the environment overrides it.
  std::vector<const char*> keys = {"connect_timeout", "application_name", "dbname"};
  std::vector<const char*> values = {"10", "ordika-server", cfg.database.c_str()};
  const char* password = std::getenv("ORDIKA_DATABASE_PASSWORD");
  if (password && *password) {
    keys.push_back("password");
    values.push_back(password);
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PgConnHandle c(PQconnectdbParams(keys.data(), values.data(), 1));
  if (!c || PQstatus(c.get()) != CONNECTION_OK) {
    *error = "cannot connect to the database: " + (c ? describe(c.get(), nullptr) : std::string("out of memory"));
    return nullptr;
  }
  PQsetNoticeProcessor(c.get(), quiet_notices, nullptr);
  return c;
}

// Runs SQL text without parameters; the result of its last statement.
PgResult exec_text(PGconn* c, const std::string& sql, std::string* error) {
  PgResult r(PQexec(c, sql.c_str()));
  ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    *error = describe(c, r.get());
    return nullptr;
  }
  return r;
}

class PgConn : public StoreConn {
 public:
  PgConn(Store* s, PgConnHandle c) : s_(s), c_(std::move(c)), cancel_(PQgetCancel(c_.get())) {}
  ~PgConn() override {
    if (cancel_) PQfreeCancel(cancel_);
  }

  // Settings of the session and the prepared statements.
  int setup() {
    std::string error;
    int limit = std::max(1, s_->cfg.work_limit);
    std::string sql = "SET statement_timeout = '" + std::to_string(limit) +
                      "s'; SET idle_in_transaction_session_timeout = '" + std::to_string(limit + 30) + "s'";
    if (!exec_text(c_.get(), sql, &error)) return fail("setup", error);
    for (int i = 0; i < kSqlCount; ++i) {
      PgResult r(PQprepare(c_.get(), name(static_cast<Sql>(i)), kSql[i], 0, nullptr));
      if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) return fail("prepare", describe(c_.get(), r.get()));
    }
    return 0;
  }

  int begin_read() override { return begin("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"); }

  int begin_write(const std::vector<std::string>& locks) override {
    std::vector<int64_t> keys;
    for (const std::string& l : locks) keys.push_back(lock_key(l));
    std::sort(keys.begin(), keys.end());  // one order everywhere: no deadlock
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::string sql = "BEGIN";
    for (int64_t k : keys) sql += "; SELECT pg_advisory_xact_lock(" + std::to_string(k) + ")";
    return begin(sql);
  }

  int commit() override {
    int rc = sync_pipeline();
    if (rc == 0) {
      PgResult r(PQexec(c_.get(), "COMMIT"));
      // A transaction that failed earlier answers COMMIT with ROLLBACK.
      if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK || std::strcmp(PQcmdStatus(r.get()), "COMMIT") != 0)
        rc = fail("commit", describe(c_.get(), r.get()));
    }
    if (rc != 0) rollback();
    return rc;
  }

  void rollback() override {
    sync_pipeline();
    if (PQstatus(c_.get()) == CONNECTION_OK && PQtransactionStatus(c_.get()) != PQTRANS_IDLE)
      PgResult(PQexec(c_.get(), "ROLLBACK"));
  }

  int login_hash(uint32_t id, const std::string& name, uint8_t hash[32]) override {
    Params p;
    return one_hash(exec(kLogin, p.i64(id).name(name)), hash);
  }

  int account_by_name(const std::string& name, uint32_t* id, uint8_t hash[32]) override {
    Params p;
    PgResult r = exec(kAccountByName, p.name(name));
    int rc = one_hash(r.get(), hash);
    if (rc == 0) *id = static_cast<uint32_t>(get_int(r.get(), 0, 1));
    return rc;
  }

  int set_account_hash(uint32_t id, const uint8_t hash[32]) override {
    Params p;
    return write(kSetHash, p.i64(id).data(hash, 32));
  }

  int add_account(uint32_t id, const std::string& name, const uint8_t hash[32]) override {
    Params p;
    PgResult r = exec(kAddAccount, p.i64(id).name(name).data(hash, 32));
    if (!r) return -1;
    if (PQntuples(r.get()) == 1) return 0;
    Params q;
    PgResult taken = exec(kAccountExists, q.name(name));
    if (!taken) return -1;
    return PQntuples(taken.get()) ? 1 : 2;
  }

  int delete_account(uint32_t id) override {
    for (Sql sql : {kDeleteAccountVersions, kDeleteAccountLinks, kDeleteAccountRepos, kDeleteAccountTraces,
                    kDeleteAccount}) {
      Params p;
      if (write(sql, p.i64(id)) != 0) return -1;
    }
    return 0;
  }

  int accounts(std::vector<ServerUser>* out) override {
    Params p;
    PgResult r = exec(kAccounts, p);
    if (!r) return -1;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      ServerUser u;
      u.id = static_cast<int32_t>(get_int(r.get(), i, 0));
      u.name = get_bytes(r.get(), i, 1);
      u.repos = static_cast<int>(get_int(r.get(), i, 2));
      out->push_back(u);
    }
    return 0;
  }

  int each_repo(uint32_t account, const RepoFn& fn) override {
    Params p;
    PgResult r = exec(kRepos, p.i64(account));
    if (!r) return -1;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      RepoRow row;
      if (repo_of(r.get(), i, 1, &row) != 0) return -1;
      if (int stop = fn(get_bytes(r.get(), i, 0), row)) return stop;
    }
    return 0;
  }

  int find_repo(uint32_t account, const std::string& name, RepoRow* row) override {
    Params p;
    PgResult r = exec(kFindRepo, p.i64(account).name(name));
    if (!r) return -1;
    if (PQntuples(r.get()) == 0) return 1;
    return repo_of(r.get(), 0, 0, row);
  }

  int insert_repo(uint32_t account, const std::string& name, const uint8_t key_check[64], const uint8_t state[20],
                  int64_t* id) override {
    Params p;
    PgResult r = exec(kInsertRepo, p.i64(account).name(name).data(key_check, 64).data(state, 20));
    if (!r || PQntuples(r.get()) != 1) return -1;
    *id = get_int(r.get(), 0, 0);
    return 0;
  }

  int set_state(int64_t repo, const uint8_t state[20]) override {
    Params p;
    return write(kSetState, p.i64(repo).data(state, 20));
  }

  int delete_repo(int64_t repo, bool keep_record) override {
    for (Sql sql : {kDeleteVersions, kDeleteLinks, kDeleteRepo}) {
      if (keep_record && sql == kDeleteRepo) break;
      Params p;
      if (write(sql, p.i64(repo)) != 0) return -1;
    }
    return 0;
  }

  int usage(uint32_t account, int64_t except, uint64_t* bytes) override {
    Params p;
    PgResult r = exec(kUsage, p.i64(account).i64(except));
    if (!r || PQntuples(r.get()) != 1) return -1;
    *bytes = static_cast<uint64_t>(get_int(r.get(), 0, 0));
    return 0;
  }

  int put_version(int64_t repo, const VersionRow& v) override {
    Params p;
    p.i64(repo).data(v.uuid, 16).data(v.hash, 20);
    char current[2] = {0, static_cast<char>(v.current)};
    p.data(current, 2);
    return write(kPutVersion, p.blob(v.header).blob(v.body));
  }

  int delete_version(int64_t repo, const uint8_t uuid[16], const uint8_t hash[20]) override {
    Params p;
    return write(kDeleteVersion, p.i64(repo).data(uuid, 16).data(hash, 20));
  }

  int demote_current(int64_t repo, const uint8_t uuid[16]) override {
    Params p;
    return write(kDemote, p.i64(repo).data(uuid, 16));
  }

  int add_link(int64_t repo, const uint8_t a[16], const uint8_t b[16]) override {
    Params p;
    return write(kAddLink, p.i64(repo).data(a, 16).data(b, 16));
  }

  int delete_link(int64_t repo, const uint8_t a[16], const uint8_t b[16]) override {
    Params p;
    return write(kDeleteLink, p.i64(repo).data(a, 16).data(b, 16));
  }

  int each_version(int64_t repo, bool bodies, const VersionFn& fn) override {
    Params p;
    return rows(bodies ? kVersionsWithBodies : kVersions, p.i64(repo), [&](const PGresult* r) {
      return version_of(r, bodies, fn);
    });
  }

  int each_link(int64_t repo, const LinkFn& fn) override {
    Params p;
    return rows(kLinks, p.i64(repo), [&](const PGresult* r) {
      const uint8_t* a = get_fixed(r, 0, 0, 16);
      const uint8_t* b = get_fixed(r, 0, 1, 16);
      return a && b ? fn(a, b) : -1;
    });
  }

  int versions_for(int64_t repo, const std::string& request, const VersionFn& fn) override {
    std::set<std::string> seen;
    Params p;
    return rows(kVersionsFor, p.i64(repo).data(request.data(), request.size()), [&](const PGresult* r) {
      if (!seen.insert(get_bytes(r, 0, 0) + get_bytes(r, 0, 1)).second) return 0;
      return version_of(r, true, fn);
    });
  }

  int failures(const std::string& key, time_t now, int window, int* count) override {
    Params p;
    PgResult r = exec(kFailures, p.data(key.data(), key.size()).i64(now - window));
    if (!r || PQntuples(r.get()) != 1) return -1;
    *count = static_cast<int>(get_int(r.get(), 0, 0));
    return 0;
  }

  int add_failure(const std::string& key, time_t now, int window) override {
    Params p, q;
    if (write(kAddFailure, p.data(key.data(), key.size()).i64(now)) != 0) return -1;
    return write(kExpireFailures, q.i64(now - window));
  }

  int put_trace(uint32_t account, time_t stamp, const std::string& name, const std::string& data,
                uint64_t cap) override {
    StoreTx tx(this, true, {"traces " + std::to_string(account)});
    Params p, q;
    int rc = tx.status();
    if (rc == 0) rc = write(kPutTrace, p.i64(account).i64(stamp).name(name).data(data.data(), data.size()));
    if (rc == 0) rc = write(kPruneTraces, q.i64(account).i64(static_cast<int64_t>(cap)));
    return rc == 0 ? tx.commit() : rc;
  }

  int update_file(const std::string& name, const std::string& scratch, std::string* path) override {
    Params p;
    PgResult r = exec(kUpdateFile, p.text(name));
    if (!r) return -1;
    if (PQntuples(r.get()) == 0) return 1;
    *path = join(scratch, name);
    FILE* f = std::fopen(path->c_str(), "wb");
    if (!f) return -1;
    size_t n = static_cast<size_t>(PQgetlength(r.get(), 0, 0));
    bool ok = std::fwrite(PQgetvalue(r.get(), 0, 0), 1, n, f) == n;
    return std::fclose(f) == 0 && ok ? 0 : -1;
  }

  void cancel() override {
    char err[256];
    if (cancel_) PQcancel(cancel_, err, sizeof err);
  }

  // A connection idle in the pool learns of a lost server only when it
  // reads: data (a termination notice) or the end of the stream waiting
  // on an idle connection means it is gone.
  bool usable() override {
    PGconn* c = c_.get();
    if (broken_ || PQstatus(c) != CONNECTION_OK || PQtransactionStatus(c) != PQTRANS_IDLE) return false;
    pollfd p{PQsocket(c), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
      if (!PQconsumeInput(c) || PQstatus(c) != CONNECTION_OK) return false;
      while (PGnotify* n = PQnotifies(c)) PQfreemem(n);
      if (PQisBusy(c)) return false;
    }
    return true;
  }

  // Migrations and administration run text directly.
  PGconn* raw() const { return c_.get(); }

 private:
  static const char* name(Sql sql) {
    static char names[kSqlCount][8];
    static bool made = [] {
      for (int i = 0; i < kSqlCount; ++i) std::snprintf(names[i], sizeof names[i], "o%d", i);
      return true;
    }();
    (void)made;
    return names[sql];
  }

  int fail(const char* what, const std::string& error) {
    if (PQstatus(c_.get()) != CONNECTION_OK) broken_ = true;
    log_message(LOG_ERROR, "pg_store: %s: %s", what, error.c_str());
    return -1;
  }

  int begin(const std::string& sql) {
    std::string error;
    if (sync_pipeline() != 0) return -1;
    if (!exec_text(c_.get(), sql, &error)) {
      int rc = fail("begin", error);
      if (PQstatus(c_.get()) == CONNECTION_OK && PQtransactionStatus(c_.get()) != PQTRANS_IDLE)
        PgResult(PQexec(c_.get(), "ROLLBACK"));
      return rc;
    }
    return 0;
  }

  // A statement whose rows the caller reads; nullptr when it failed.
  PgResult exec(Sql sql, const Params& p) {
    if (sync_pipeline() != 0) return nullptr;
    PgResult r(PQexecPrepared(c_.get(), name(sql), p.n, p.values, p.lengths, p.formats, 1));
    ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) {
      fail(kSql[sql], describe(c_.get(), r.get()));
      return nullptr;
    }
    return r;
  }

  // 0 with the 32-byte hash of the first column, 1 without a row.
  static int one_hash(const PgResult& r, uint8_t hash[32]) { return one_hash(r.get(), hash); }
  static int one_hash(const PGresult* r, uint8_t hash[32]) {
    if (!r) return -1;
    if (PQntuples(r) == 0) return 1;
    const uint8_t* h = get_fixed(r, 0, 0, 32);
    if (!h) return -1;
    std::memcpy(hash, h, 32);
    return 0;
  }

  // A change: inside a transaction sent ahead in a pipeline, its result
  // read at the next read, at commit, or when the pipeline is full.
  int write(Sql sql, const Params& p) {
    if (PQtransactionStatus(c_.get()) == PQTRANS_IDLE && !pipe_) return exec(sql, p) ? 0 : -1;
    if (!pipe_) {
      if (PQenterPipelineMode(c_.get()) != 1) return fail("pipeline", describe(c_.get(), nullptr));
      pipe_ = true;
    }
    if (PQsendQueryPrepared(c_.get(), name(sql), p.n, p.values, p.lengths, p.formats, 1) != 1) {
      sync_pipeline();
      return fail(kSql[sql], describe(c_.get(), nullptr));
    }
    ++queued_;
    queued_bytes_ += p.bytes;
    if (queued_ >= kPipelineMax || queued_bytes_ >= kPipelineBytes) return sync_pipeline();
    return 0;
  }

  // Reads the results of the changes sent ahead and leaves the pipeline.
  // 0 when every one succeeded.
  int sync_pipeline() {
    if (!pipe_) return 0;
    PGconn* c = c_.get();
    int rc = 0;
    std::string error;
    if (PQpipelineSync(c) != 1) {
      // no sync point to read up to: the connection is of no further use
      broken_ = true;
      queued_ = 0;
      queued_bytes_ = 0;
      pipe_ = false;
      return fail("pipeline", describe(c, nullptr));
    }
    for (int i = 0; i < queued_ && rc == 0; ++i) {
      while (PGresult* raw = PQgetResult(c)) {
        PgResult r(raw);
        ExecStatusType st = PQresultStatus(raw);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK && rc == 0) {
          rc = -1;
          error = describe(c, raw);
        }
      }
    }
    // Up to the sync point (everything after a failure was skipped): each
    // query left ends with one null result at most.
    for (int ends = 0;;) {
      PgResult r(PQgetResult(c));
      if (!r) {
        if (PQstatus(c) != CONNECTION_OK || ++ends > queued_ + 1) {
          broken_ = true;
          break;
        }
        continue;
      }
      if (PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC) break;
    }
    queued_ = 0;
    queued_bytes_ = 0;
    pipe_ = false;
    if (PQexitPipelineMode(c) != 1) broken_ = true;
    return rc == 0 ? 0 : fail("pipeline", error);
  }

  // Streams the rows of a statement to fn (one row per result).
  template <typename Fn>
  int rows(Sql sql, const Params& p, Fn fn) {
    PGconn* c = c_.get();
    if (sync_pipeline() != 0) return -1;
    if (PQsendQueryPrepared(c, name(sql), p.n, p.values, p.lengths, p.formats, 1) != 1)
      return fail(kSql[sql], describe(c, nullptr));
    PQsetSingleRowMode(c);
    int rc = 0;
    std::string error;
    while (PGresult* raw = PQgetResult(c)) {
      PgResult r(raw);
      ExecStatusType st = PQresultStatus(raw);
      if (st == PGRES_SINGLE_TUPLE) {
        if (rc == 0) rc = fn(raw);  // after a stop the rest is only read
      } else if (st != PGRES_TUPLES_OK && rc == 0) {
        rc = -1;
        error = describe(c, raw);
      }
    }
    if (rc == -1 && !error.empty()) return fail(kSql[sql], error);
    return rc;
  }

  int version_of(const PGresult* r, bool bodies, const VersionFn& fn) {
    VersionRow v;
    v.uuid = get_fixed(r, 0, 0, 16);
    v.hash = get_fixed(r, 0, 1, 20);
    v.current = static_cast<int>(get_int(r, 0, 2));
    if (!v.uuid || !v.hash) return -1;
    if (bodies) {
      v.header = get_blob(r, 0, 3);
      v.body = get_blob(r, 0, 4);
    }
    return fn(v);
  }

  Store* s_;
  PgConnHandle c_;
  PGcancel* cancel_ = nullptr;
  bool broken_ = false;
  bool pipe_ = false;
  int queued_ = 0;
  size_t queued_bytes_ = 0;
};

}  // namespace

int pg_prepare_store(const ServerConfig& cfg, std::string* error) {
  PgConnHandle c = connect_db(cfg, error);
  if (!c) return -1;
  PQsetNoticeProcessor(c.get(), quiet_notices, nullptr);
  // One process at a time brings the schema up to date.
  if (!exec_text(c.get(), "SELECT pg_advisory_lock(" + std::to_string(lock_key("schema")) + ")", error) ||
      !exec_text(c.get(), "CREATE TABLE IF NOT EXISTS ordika_schema(version integer NOT NULL)", error))
    return -1;
  PgResult r = exec_text(c.get(), "SELECT coalesce(max(version), 0) FROM ordika_schema", error);
  if (!r) return -1;
  int version = std::atoi(PQgetvalue(r.get(), 0, 0));
  if (version > kSchemaVersion) {
    *error = "the database holds schema version " + std::to_string(version) + ", newer than this server's " +
             std::to_string(kSchemaVersion);
    return -1;
  }
  for (int v = version; v < kSchemaVersion; ++v) {
    std::string sql = std::string("BEGIN;") + kMigrations[v] + "DELETE FROM ordika_schema; INSERT INTO ordika_schema VALUES (" +
                      std::to_string(v + 1) + "); COMMIT";
    if (!exec_text(c.get(), sql, error)) {
      *error = "schema version " + std::to_string(v + 1) + ": " + *error;
      PgResult(PQexec(c.get(), "ROLLBACK"));
      return -1;
    }
    log_message(LOG_NOTICE, "pg_store: schema version %d", v + 1);
  }
  return 0;
}

std::unique_ptr<StoreConn> pg_connect(Store* s, std::string* error) {
  PgConnHandle c = connect_db(s->cfg, error);
  if (!c) return nullptr;
  auto conn = std::make_unique<PgConn>(s, std::move(c));
  if (conn->setup() != 0) {
    *error = "cannot prepare the database connection";
    return nullptr;
  }
  return conn;
}

int pg_publish_updates(Store* s, const std::string& dir) {
  StoreLease db(s, nullptr);
  if (!db) return -1;
  PGconn* c = static_cast<PgConn*>(db.get())->raw();
  std::string error;
  if (!exec_text(c, "BEGIN; DELETE FROM updates", &error)) {
    log_message(LOG_ERROR, "pg_publish_updates: %s", error.c_str());
    PgResult(PQexec(c, "ROLLBACK"));
    return -1;
  }
  for (const char* name : kUpdateFiles) {
    std::string path = join(dir, name);
    if (!file_exists(path)) continue;
    std::string data = read_small_file(path, 1ull << 30);
    const char* values[2] = {name, data.data()};
    int lengths[2] = {0, static_cast<int>(data.size())};
    int formats[2] = {0, 1};
    PgResult r(PQexecParams(c, "INSERT INTO updates VALUES ($1::text, $2::bytea)", 2, nullptr, values, lengths,
                            formats, 1));
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
      log_message(LOG_ERROR, "pg_publish_updates: %s: %s", name, describe(c, r.get()).c_str());
      PgResult(PQexec(c, "ROLLBACK"));
      return -1;
    }
    log_message(LOG_NOTICE, "publish: %s (%zu bytes)", name, data.size());
  }
  if (!exec_text(c, "COMMIT", &error)) {
    log_message(LOG_ERROR, "pg_publish_updates: %s", error.c_str());
    return -1;
  }
  return 0;
}

int pg_export_traces(Store* s, const std::string& out_dir) {
  StoreLease db(s, nullptr);
  if (!db) return -1;
  PGconn* c = static_cast<PgConn*>(db.get())->raw();
  PgResult r(PQexecParams(c, "SELECT account, stamp, name, data FROM traces ORDER BY account, stamp, name", 0,
                          nullptr, nullptr, nullptr, nullptr, 1));
  if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
    log_message(LOG_ERROR, "pg_export_traces: %s", describe(c, r.get()).c_str());
    return -1;
  }
  ::mkdir(out_dir.c_str(), 0700);
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    std::string dir = join(out_dir, std::to_string(get_int(r.get(), i, 0)));
    std::string name = get_bytes(r.get(), i, 2);
    if (name.find('/') != std::string::npos) continue;
    ::mkdir(dir.c_str(), 0700);
    std::string path = join(dir, std::to_string(get_int(r.get(), i, 1)) + "-" + name);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return -1;
    size_t n = static_cast<size_t>(PQgetlength(r.get(), i, 3));
    bool ok = std::fwrite(PQgetvalue(r.get(), i, 3), 1, n, f) == n;
    if (std::fclose(f) != 0 || !ok) return -1;
  }
  return 0;
}

}  // namespace srv
