// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the page transform (AES-256-CBC of one 1024-byte page, zero
// chaining value), as run on every database page read or written; and of
// whole pages going through the encrypted VFS.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/page_codec.h"
#include "storage/page_vfs.h"

namespace {

constexpr int kPage = PAGE_VFS_PAGE_SIZE;

std::vector<uint8_t> make_bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++) v[i] = uint8_t(seed + i * 31);
  return v;
}

void BM_PageEncrypt(benchmark::State& state) {
  auto key = make_bytes(32, 1);
  auto page = make_bytes(kPage, 2);
  int skip = int(state.range(0));
  for (auto _ : state) {
    page_transform(key.data(), page.data(), kPage, skip, 0);
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (kPage - skip));
}
BENCHMARK(BM_PageEncrypt)->Arg(0)->Arg(16);

void BM_PageDecrypt(benchmark::State& state) {
  auto key = make_bytes(32, 1);
  auto page = make_bytes(kPage, 2);
  int skip = int(state.range(0));
  for (auto _ : state) {
    page_transform(key.data(), page.data(), kPage, skip, 1);
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (kPage - skip));
}
BENCHMARK(BM_PageDecrypt)->Arg(0)->Arg(16);

// The codec a database file keeps: key schedule prepared once; argument 1
// on the CPU's AES instructions (where present), 0 on libcrypto.
void BM_PageCodecRoundTrip(benchmark::State& state) {
  auto key = make_bytes(32, 1);
  auto page = make_bytes(kPage, 2);
  std::vector<uint8_t> out(kPage);
  PageCodec codec;
  bool was_native = aes_use_native(state.range(0) != 0);
  codec.set_key(key.data());
  aes_use_native(was_native);
  for (auto _ : state) {
    codec.encrypt(page.data(), out.data(), kPage);
    codec.decrypt(out.data(), out.data(), kPage);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2 * kPage);
}
BENCHMARK(BM_PageCodecRoundTrip)->Arg(1)->Arg(0);

// Full table scan of a 4 MB database whose pages are all in the OS cache but
// not in the engine's: every page is read and decrypted through the VFS.
void BM_VfsScan(benchmark::State& state) {
  char dir[] = "/tmp/bench_page_XXXXXX";
  if (!mkdtemp(dir)) {
    state.SkipWithError("mkdtemp");
    return;
  }
  std::string path = std::string(dir) + "/data";
  auto key = make_bytes(32, 3);
  sqlite3* db = nullptr;
  page_db_open(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  page_db_key(db, key.data(), 32);
  sqlite3_exec(db,
               "CREATE TABLE t(v); WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i<4000) "
               "INSERT INTO t SELECT randomblob(900) FROM c;",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA cache_size=10", nullptr, nullptr, nullptr);
  sqlite3_int64 pages = 0;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &st, nullptr);
  if (sqlite3_step(st) == SQLITE_ROW) pages = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_prepare_v2(db, "SELECT sum(length(substr(v, 850, 10))) FROM t", -1, &st, nullptr);
  for (auto _ : state) {
    sqlite3_reset(st);
    sqlite3_step(st);
    benchmark::DoNotOptimize(sqlite3_column_int64(st, 0));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  unlink(path.c_str());
  rmdir(dir);
  state.SetBytesProcessed(int64_t(state.iterations()) * pages * kPage);
}
BENCHMARK(BM_VfsScan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
