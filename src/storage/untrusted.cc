// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/untrusted.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#include "storage/db.h"
#include "storage/sqlite_util.h"
#include "support/log.h"

namespace {

struct SchemaRow {
  std::string type, name, table, sql;
  bool operator==(const SchemaRow&) const = default;
};

int schema_rows(sqlite3* db, const char* name, std::vector<SchemaRow>* out) {
  std::string sql = "SELECT type, name, tbl_name, sql FROM \"";
  for (const char* p = name; *p; ++p) {
    if (*p == '"') return -1;
    sql += *p;
  }
  sql += "\".sqlite_master ORDER BY name, type";
  Stmt s;
  int rc = stmt_prepare(db, sql.c_str(), &s);
  if (rc != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    SchemaRow r;
    for (int i = 0; i < 4; ++i) {
      std::string v = column_bytes(s.get(), i);
      if (sqlite3_column_type(s.get(), i) == SQLITE_NULL) v = std::string("\0null", 5);
      (i == 0 ? r.type : i == 1 ? r.name : i == 2 ? r.table : r.sql) = v;
    }
    out->push_back(std::move(r));
  }
  return rc == SQLITE_DONE ? 0 : rc;
}

// The schema rows of a fresh database of the kind, made once in memory.
const std::vector<SchemaRow>* reference(int kind) {
  static const std::vector<SchemaRow> repo = [] {
    std::vector<SchemaRow> rows;
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
      if (db_exec(raw, db_repo_schema()) == SQLITE_OK) schema_rows(raw, "main", &rows);
    sqlite3_close(raw);
    return rows;
  }();
  static const std::vector<SchemaRow> snapshot = [] {
    std::vector<SchemaRow> rows;
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
      if (db_exec(raw, db_snapshot_schema()) == SQLITE_OK) schema_rows(raw, "main", &rows);
    sqlite3_close(raw);
    return rows;
  }();
  if (kind == DB_SCHEMA_REPO) return &repo;
  if (kind == DB_SCHEMA_SNAPSHOT) return &snapshot;
  return nullptr;
}

}  // namespace

int db_distrust(sqlite3* db) {
  int rc = sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
  if (rc != SQLITE_OK) log_message(LOG_ERROR, "db_distrust: %d", rc);
  return rc;
}

int db_schema_exact(sqlite3* db, const char* name, int kind) {
  const std::vector<SchemaRow>* want = reference(kind);
  std::vector<SchemaRow> have;
  int rc = schema_rows(db, name, &have);
  if (!want || want->empty() || rc != 0 || have != *want) {
    log_message(LOG_WARNING, "db_schema_exact: %s is not a database of kind %d (%d)", name, kind, rc);
    return -1;
  }
  return 0;
}

int db_open_untrusted_check(sqlite3* db, const char* name, int kind) {
  if (db_distrust(db) != SQLITE_OK) return -1;
  return db_schema_exact(db, name, kind);
}
