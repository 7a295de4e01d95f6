// SPDX-License-Identifier: GPL-3.0-or-later
// Mounting a repository of 10,000 and 100,000 items with tags, links and
// reminders (open, key check, page decryption, row decryption, parsing into
// the model, reminder list) against a plain, unencrypted SQLite read of the
// same rows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "model/item.h"
#include "model/model.h"
#include "model/mount.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "support/log.h"

namespace {

constexpr int kTags = 100;

struct Fixture {
  std::string dir;
  std::string plain;  // plain SQLite file with the same rows in clear
  int items = 0;
  ~Fixture() {
    std::error_code ec;
    // ORDIKA_BENCH_KEEP leaves the files for profiling.
    if (!dir.empty() && !std::getenv("ORDIKA_BENCH_KEEP")) std::filesystem::remove_all(dir, ec);
  }
};

std::vector<uint8_t> padded(const std::string& text) {
  std::vector<uint8_t> p((text.size() + 16) & ~size_t{15}, 0);
  std::copy(text.begin(), text.end(), p.begin());
  return p;
}

void make_uuid(uint8_t uuid[16], int kind, int n) {
  std::memset(uuid, 0, 16);
  uuid[0] = static_cast<uint8_t>(kind);
  std::memcpy(uuid + 8, &n, sizeof n);
}

// One rows' worth of a repository: the tag strings, item headers and links.
struct Rows {
  struct Row {
    uint8_t uuid[16];
    uint8_t hash[20];
    std::vector<uint8_t> header;
  };
  std::vector<Row> objects;
  std::vector<std::pair<int, int>> links;  // (tag index, item index)
};

Rows build_rows(int items) {
  Rows rows;
  int64_t now = time(nullptr);
  uint8_t root[16];
  make_uuid(root, 1, 0);
  for (int t = 0; t <= kTags; t++) {
    Rows::Row r;
    make_uuid(r.uuid, 1, t);
    Tag tag;
    if (t > 0) std::memcpy(tag.parent, root, 16);
    tag.name = t == 0 ? "/" : "tag " + std::to_string(t);
    tag.modified = now;
    std::string text = tag_string_format(tag);
    sha1(r.hash, text.data(), text.size());
    r.header = padded(text);
    rows.objects.push_back(std::move(r));
  }
  for (int i = 0; i < items; i++) {
    Rows::Row r;
    make_uuid(r.uuid, 2, i);
    Item item;
    item.type = static_cast<int8_t>(i % 5);
    item.title = "Item number " + std::to_string(i) + " with a title of usual length";
    item.created = now - 86400;
    item.modified = now;
    if (item.type <= ITEM_EVENT) {
      item.due = now + (i % 1000) * 3600;
      item.end = item.type == ITEM_EVENT ? item.due + 3600 : 0;
      if (i % 4 == 0) {
        item.remind_offset = 900;
        item.next_remind = item.due - 900;
      }
      if (i % 10 == 0) item.recurrence.freq = FREQ_WEEKLY;
    }
    std::string text = item_header_format(item);
    sha1(r.hash, text.data(), text.size());
    r.header = padded(text);
    rows.objects.push_back(std::move(r));
    rows.links.emplace_back(1 + i % kTags, i);
    int second = 1 + (i * 7 + 13) % kTags;
    if (i % 3 == 0 && second != 1 + i % kTags) rows.links.emplace_back(second, i);
  }
  return rows;
}

int write_plain(const std::string& file, const Rows& rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return -1;
  db_exec(db, "CREATE TABLE t1(c1, c2, c3 INT, c4, c5, PRIMARY KEY(c1, c2, c3));"
              "CREATE TABLE t2(c1, c2, PRIMARY KEY(c1, c2));CREATE INDEX t2_i ON t2(c2);BEGIN;");
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t1 VALUES (?,?,0,?,NULL)", -1, &s, nullptr);
  for (const auto& r : rows.objects) {
    sqlite3_bind_blob(s, 1, r.uuid, 16, SQLITE_STATIC);
    sqlite3_bind_blob(s, 2, r.hash, 20, SQLITE_STATIC);
    sqlite3_bind_blob(s, 3, r.header.data(), static_cast<int>(r.header.size()), SQLITE_STATIC);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_prepare_v2(db, "INSERT INTO t2 VALUES (?,?)", -1, &s, nullptr);
  for (auto [t, i] : rows.links) {
    sqlite3_bind_blob(s, 1, rows.objects[t].uuid, 16, SQLITE_STATIC);
    sqlite3_bind_blob(s, 2, rows.objects[kTags + 1 + i].uuid, 16, SQLITE_STATIC);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  int rc = db_exec(db, "COMMIT;");
  sqlite3_close(db);
  return rc;
}

int write_repo(RepoEntry* e, const Rows& rows) {
  if (repo_open(e) != 0) return -1;
  RepoDb r{e->db, e->key, false};
  int rc = journal_begin(e->db);
  for (size_t k = 0; rc == 0 && k < rows.objects.size(); k++) {
    const auto& o = rows.objects[k];
    rc = object_write(r, o.uuid, o.hash, o.header.data(), o.header.size(), nullptr, 0, false);
  }
  for (size_t k = 0; rc == 0 && k < rows.links.size(); k++)
    rc = link_add(r, rows.objects[rows.links[k].first].uuid, rows.objects[kTags + 1 + rows.links[k].second].uuid);
  if (rc != 0) std::fprintf(stderr, "write_repo: %d\n", rc);
  if (rc == 0) rc = journal_commit(e->db);
  // A mounted repository starts with an empty journal.
  if (rc == 0) rc = db_exec(e->db, "BEGIN;");
  if (rc == 0) rc = journal_reset(e->db);
  if (rc == 0) rc = db_exec(e->db, "COMMIT;");
  repo_close(e);
  return rc;
}

Fixture& fixture(int items) {
  static std::map<int, Fixture> all;
  auto it = all.find(items);
  if (it != all.end()) return it->second;
  Fixture& f = all[items];
  f.items = items;
  std::string tmpl = (std::filesystem::temp_directory_path() / "ordika-bench-mount-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  f.dir = mkdtemp(buf.data());
  f.plain = f.dir + "/plain";
  Rows rows = build_rows(items);
  if (write_plain(f.plain, rows) != 0) std::fprintf(stderr, "plain database failed\n");

  std::string profile = f.dir + "/profile";
  std::filesystem::create_directories(profile);
  std::filesystem::create_directories(f.dir + "/repos");
  sqlite3* cfg = config_create(profile.c_str(), "Bench-Master-1");
  config_set(cfg, profile);
  RepoHooks hooks;  // the bench writes its own rows, root tag included
  repo_set_hooks(hooks);
  std::string path;
  repo_create_dir((f.dir + "/repos").c_str(), &path);
  RepoRecord rec;
  rec.name = "bench";
  rec.path = path;
  rec.password = "Bench-Repo-Password-1!";
  int index = -1;
  int rc = repo_register(rec, &index);
  if (rc == 0) rc = write_repo(&repo_table()[index], rows);
  if (rc != 0) std::fprintf(stderr, "repository failed: %d\n", rc);
  repo_state_reset();
  return f;
}

// Switches the process-wide repository table to the fixture's profile.
void use_fixture(Fixture& f) {
  std::string profile = f.dir + "/profile";
  config_set(nullptr, profile);
  repo_table_clear();
  if (config_unlock("Bench-Master-1") != 0) std::fprintf(stderr, "unlock failed\n");
  repo_table_load();
}

void BM_MountAll(benchmark::State& state) {
  log_set_level(LOG_WARNING);  // no per-mount notice lines in the measurement
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  use_fixture(f);
  int64_t items = 0;
  for (auto _ : state) {
    for (auto& e : repo_table()) repo_close(&e);
    repo_mount_all();
    items = slot_array_count(model().items);
  }
  if (items != f.items) state.SkipWithError("items missing after mount");
  state.counters["items"] = static_cast<double>(items);
  state.counters["links"] = static_cast<double>(slot_array_count(model().tag_links));
  state.counters["reminders"] = static_cast<double>(slot_array_count(model().reminders));
  state.SetItemsProcessed(state.iterations() * f.items);
  clean_data();
  repo_state_reset();
}
BENCHMARK(BM_MountAll)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The storage share of a mount: open with the key check, read every current
// version and link through the page decryption, and (with range(1) = 1)
// decipher each header with one reused context; no model work.
void BM_EncryptedRead(benchmark::State& state) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  bool decipher = state.range(1) != 0;
  use_fixture(f);
  RepoEntry& e = repo_table()[0];
  CipherContext ctx;
  std::vector<uint8_t> buf(4096);
  int64_t rows = 0;
  for (auto _ : state) {
    repo_close(&e);
    if (repo_open(&e) != 0) {
      state.SkipWithError("open failed");
      break;
    }
    RepoDb r{e.db, e.key, false};
    rows = 0;
    objects_load_current(r, 0, [&](int, const uint8_t* uuid, const uint8_t* hash, const uint8_t* c4, size_t len) {
      rows++;
      if (!decipher || len > buf.size()) return;
      std::memcpy(buf.data(), c4, len);
      object_cipher(&ctx, e.key, uuid, hash, CIPHER_DECRYPT);
      cbc_decrypt_inplace(&ctx, buf.data(), len);
      benchmark::DoNotOptimize(buf.data());
    });
    links_load(r, [&](const uint8_t* t, const uint8_t*) { benchmark::DoNotOptimize(t); });
  }
  repo_close(&e);
  state.counters["objects"] = static_cast<double>(rows);
  state.SetItemsProcessed(state.iterations() * f.items);
  repo_state_reset();
}
BENCHMARK(BM_EncryptedRead)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond);

// The same rows read from a plain database: open, step every row of t1 and
// t2 touching each column, close. Returns the rows of t1.
int64_t plain_read(const Fixture& f) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(f.plain.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  int64_t rows = 0;
  size_t bytes = 0;
  sqlite3_prepare_v2(db, "SELECT c1, c2, c4 FROM t1 WHERE c3=0", -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) {
    bytes += static_cast<size_t>(sqlite3_column_bytes(s, 0) + sqlite3_column_bytes(s, 1) + sqlite3_column_bytes(s, 2));
    benchmark::DoNotOptimize(sqlite3_column_blob(s, 2));
    rows++;
  }
  sqlite3_finalize(s);
  sqlite3_prepare_v2(db, "SELECT * FROM t2", -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) {
    benchmark::DoNotOptimize(sqlite3_column_blob(s, 0));
    benchmark::DoNotOptimize(sqlite3_column_blob(s, 1));
    bytes += static_cast<size_t>(sqlite3_column_bytes(s, 0));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  benchmark::DoNotOptimize(bytes);
  return rows;
}

void BM_PlainRead(benchmark::State& state) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  int64_t rows = 0;
  for (auto _ : state) rows = plain_read(f);
  state.counters["objects"] = static_cast<double>(rows);
  state.SetItemsProcessed(state.iterations() * f.items);
}
BENCHMARK(BM_PlainRead)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The target as one figure: each iteration reads the plain file and mounts
// back to back, so that a busy machine slows both alike; "ratio" is the
// mount's CPU time over the plain read's, from the best of each. The plain
// read runs twice and the second is timed, so that it does not pay for the
// caches the mount has just taken over.
void BM_MountOverPlain(benchmark::State& state) {
  log_set_level(LOG_WARNING);
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  use_fixture(f);
  double best_mount = 1e9, best_plain = 1e9;
  for (auto _ : state) {
    plain_read(f);
    double t0 = cpu_seconds();
    plain_read(f);
    double t1 = cpu_seconds();
    for (auto& e : repo_table()) repo_close(&e);
    repo_mount_all();
    double t2 = cpu_seconds();
    best_plain = std::min(best_plain, t1 - t0);
    best_mount = std::min(best_mount, t2 - t1);
  }
  state.counters["mount_ms"] = best_mount * 1e3;
  state.counters["plain_ms"] = best_plain * 1e3;
  state.counters["ratio"] = best_mount / best_plain;
  clean_data();
  repo_state_reset();
}
BENCHMARK(BM_MountOverPlain)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
