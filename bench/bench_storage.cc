// SPDX-License-Identifier: GPL-3.0-or-later
// Object rows through the storage layer on an encrypted repository database
// against the same work on an unkeyed one (same page layer, no page cipher).
// The row cipher runs in both, so the ratio is the cost of page encryption.
//
// Write: 50,000 object_write calls in journal groups of 1000 (50 commits).
// Load: objects_load_current over the 50,000 current rows on a freshly opened
// connection, deciphering every header.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/page_vfs.h"

namespace {

constexpr int kRows = 50000;
constexpr int kGroup = 1000;

const uint8_t kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

std::string bench_dir() {
  static std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ordika-bench-XXXXXX").string();
    char* p = mkdtemp(tmpl.data());
    return std::string(p ? p : ".");
  }();
  return dir;
}

// An empty repository database; keyed or plain.
sqlite3* make_db(const std::string& file, bool encrypted) {
  std::filesystem::remove(file);
  if (encrypted) return db_create_repo(file.c_str(), kKey);
  sqlite3* db = nullptr;
  if (page_db_open(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) != SQLITE_OK) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  db_exec(db,
          "CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1, c2, c3 INT, c4, c5, PRIMARY KEY(c1, c2, c3));CREATE TABLE "
          "t2(c1, c2, PRIMARY KEY(c1, c2));CREATE TABLE t3(c1, c2, c3 INT, PRIMARY KEY(c1, c2, c3));CREATE TABLE "
          "t4(c1, c2, c3 INT, PRIMARY KEY(c1, c2, c3));CREATE TABLE t5(c1, c2, c3 INT, c4, c5, c6 INT, c7 INT);CREATE "
          "INDEX t2_i ON t2(c2);INSERT INTO t5 (c6,c7) VALUES (1,1);");
  return db;
}

sqlite3* open_db(const std::string& file, bool encrypted) {
  sqlite3* db = db_open(file.c_str());
  if (db && encrypted) page_db_key(db, kKey, 32);
  return db;
}

int write_rows(sqlite3* db) {
  RepoDb r{db, kKey, false};
  std::string header(64, '\0'), body(256, '\0');
  uint8_t uuid[16] = {0xA5}, hash[20];
  for (int i = 0; i < kRows; i += kGroup) {
    if (journal_begin(db) != 0) return -1;
    for (int j = i; j < i + kGroup; ++j) {
      std::snprintf(header.data(), header.size(), "2:0:1:0:0:0;0:0;0:1700000000:1700000000:note %d", j);
      std::snprintf(body.data(), body.size(), "body of note %d\r\nwith a second line of some length\r\n", j);
      std::memcpy(uuid + 4, &j, sizeof j);
      sha1(hash, header.data(), header.size());
      if (object_write(r, uuid, hash, reinterpret_cast<const uint8_t*>(header.data()), header.size(),
                       reinterpret_cast<const uint8_t*>(body.data()), body.size(), false) != 0) {
        journal_rollback(db);
        return -1;
      }
    }
    if (journal_commit(db) != 0) return -1;
  }
  return 0;
}

long load_rows(sqlite3* db) {
  RepoDb r{db, kKey, false};
  long bytes = 0;
  std::string text;
  objects_load_current(r, 0, [&](int, const uint8_t* uuid, const uint8_t* hash, const uint8_t* c4, size_t n) {
    if (row_decipher_header(kKey, uuid, hash, c4, n, &text) == 0) bytes += static_cast<long>(text.size());
  });
  return bytes;
}

// Mean wall and CPU seconds per iteration, by benchmark name, for the
// ratios at the end. Wall time includes the fsyncs of the commits, which
// the shared disk makes noisy; CPU time shows the cipher cost itself.
std::map<std::string, double> g_mean, g_cpu;

double thread_cpu() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void record(const std::string& name, double seconds, double cpu, int iterations) {
  g_mean[name] = iterations ? seconds / iterations : 0;
  g_cpu[name] = iterations ? cpu / iterations : 0;
}

void BM_Write(benchmark::State& state) {
  bool encrypted = state.range(0) != 0;
  std::string file = bench_dir() + (encrypted ? "/write_enc" : "/write_plain");
  double total = 0, cpu = 0;
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3* db = make_db(file, encrypted);
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    double c0 = thread_cpu();
    if (!db || write_rows(db) != 0) state.SkipWithError("write failed");
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += thread_cpu() - c0;
    ++n;
    state.PauseTiming();
    db_close(db);
    state.ResumeTiming();
  }
  record(encrypted ? "write_enc" : "write_plain", total, cpu, n);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRows);
}

void BM_Load(benchmark::State& state) {
  bool encrypted = state.range(0) != 0;
  std::string file = bench_dir() + (encrypted ? "/load_enc" : "/load_plain");
  {
    sqlite3* db = make_db(file, encrypted);
    if (!db || write_rows(db) != 0) {
      state.SkipWithError("setup failed");
      db_close(db);
      return;
    }
    db_close(db);
  }
  double total = 0, cpu = 0;
  int n = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    double c0 = thread_cpu();
    sqlite3* db = open_db(file, encrypted);
    long bytes = db ? load_rows(db) : 0;
    db_close(db);
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += thread_cpu() - c0;
    ++n;
    if (bytes == 0) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(bytes);
  }
  record(encrypted ? "load_enc" : "load_plain", total, cpu, n);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRows);
}

BENCHMARK(BM_Write)->Arg(0)->Arg(1)->ArgNames({"encrypted"})->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Load)->Arg(0)->Arg(1)->ArgNames({"encrypted"})->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\n%d rows, object_write in journal groups of %d; load on a fresh connection\n", kRows, kGroup);
  for (const char* what : {"write", "load"}) {
    std::string plain = std::string(what) + "_plain", enc = std::string(what) + "_enc";
    double wp = g_mean[plain], we = g_mean[enc], cp = g_cpu[plain], ce = g_cpu[enc];
    std::printf("%-5s wall: plain %8.1f ms, encrypted %8.1f ms, ratio %.2f | cpu: plain %8.1f ms, encrypted %8.1f ms, "
                "ratio %.2f (target <= 1.5)\n",
                what, wp * 1e3, we * 1e3, wp > 0 ? we / wp : 0.0, cp * 1e3, ce * 1e3, cp > 0 ? ce / cp : 0.0);
  }
  std::error_code ec;
  std::filesystem::remove_all(bench_dir(), ec);
  return 0;
}
