// SPDX-License-Identifier: GPL-3.0-or-later
// Sync throughput: file objects through encrypted frames over loopback TCP
// (plain and page mode, 4 MiB per transfer), the handshake with login, and
// the record-set merges of stage 1 on 100,000 version records; end to end
// through a server on loopback: create and clone of 10,000 items, syncs of
// 1,000 changed items, one loopback round trip (to weigh the round trips of
// a sync), and the throughput of the server with 20 clients.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/page_vfs.h"
#include "sync/conn.h"
#include "support/record_set.h"
#include "sync/requests.h"
#include "sync/sync_driver.h"
#include "bench_repo.h"

// The account server runs in this process.
#include "server.h"

namespace {

constexpr size_t kFileSize = 4u << 20;
const uint8_t kKey[32] = {7, 7, 7};

struct Listener {
  int fd = -1;
  int port = 0;
  Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 16);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd); }
  std::string host() const { return "127.0.0.1:" + std::to_string(port); }
};

std::string scratch_file(const char* name, bool paged) {
  std::string path = std::string("/tmp/ordika-bench-") + name + "-" + std::to_string(getpid());
  std::string data(kFileSize, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));
  if (paged) {
    for (size_t off = 0; off < data.size(); off += 1024) {
      CipherContext c;
      page_cipher(&c, kKey, CIPHER_ENCRYPT);
      cbc_encrypt_inplace(&c, reinterpret_cast<uint8_t*>(&data[off]), 1024);
    }
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
  return path;
}

const uint8_t kHash[32] = {1, 2, 3};

void accept_and(Listener* l, const std::function<void(Connection*)>& fn) {
  int fd = ::accept(l->fd, nullptr, nullptr);
  Connection c;
  bool anon = false;
  uint32_t id = 0;
  std::string user;
  auto lookup = [](uint32_t, const std::string&, uint8_t out[32]) {
    std::memcpy(out, kHash, 32);
    return 0;
  };
  if (conn_accept(&c, fd, lookup, &anon, &id, &user) == 0) fn(&c);
}

void Transfer(benchmark::State& state, bool paged) {
  Listener l;
  std::string src = scratch_file(paged ? "paged" : "plain", paged);
  std::string dir = src + ".in";
  ::mkdir(dir.c_str(), 0700);
  for (auto _ : state) {
    std::thread peer([&] {
      accept_and(&l, [&](Connection* c) {
        c->dir = dir;
        if (paged)
          recv_obj_paged(c, kKey);
        else
          recv_obj(c, nullptr, nullptr, 0);
      });
    });
    Connection c;
    conn_connect(&c, l.host().c_str(), 443, 1, "bench", kHash);
    if (paged)
      conn_send_file_paged(&c, src.c_str(), kKey, "copy");
    else
      conn_send_file(&c, src.c_str(), "copy");
    peer.join();
    conn_close(&c);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
  std::remove(src.c_str());
  std::remove((dir + "/copy").c_str());
  ::rmdir(dir.c_str());
}

void BM_TransferPlain(benchmark::State& state) { Transfer(state, false); }
void BM_TransferPaged(benchmark::State& state) { Transfer(state, true); }
BENCHMARK(BM_TransferPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TransferPaged)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HandshakeWithLogin(benchmark::State& state) {
  Listener l;
  for (auto _ : state) {
    std::thread peer([&] { accept_and(&l, [](Connection*) {}); });
    Connection c;
    conn_connect(&c, l.host().c_str(), 443, 1, "bench", kHash);
    conn_close(&c);
    peer.join();
  }
}
BENCHMARK(BM_HandshakeWithLogin)->Unit(benchmark::kMicrosecond)->UseRealTime();

RecordSet versions(size_t n, uint32_t seed) {
  RecordSet s;
  recordset_init(&s, REC_VERSION, n);
  uint8_t rec[REC_VERSION] = {};
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    std::memcpy(rec, &x, 4);
    rec[20] = static_cast<uint8_t>(i);
    recordset_append(&s, rec);
  }
  recordset_sort(&s);
  return s;
}

// The set arithmetic of stage 1 on 100,000 local and server versions.
void BM_StageOneSets(benchmark::State& state) {
  RecordSet t1 = versions(100000, 1), s3 = versions(100000, 1), a = versions(1000, 7), r = versions(1000, 9);
  for (auto _ : state) {
    RecordSet base = recordset_union(recordset_difference(t1, a), r);
    RecordSet fresh = recordset_difference(s3, base);
    RecordSet mod = recordset_intersection(recordset_uuids(a), recordset_uuids(base));
    RecordSet fetch = recordset_union(fresh, recordset_uuids(r));
    benchmark::DoNotOptimize(mod.count + fetch.count);
  }
}
BENCHMARK(BM_StageOneSets)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// End to end through a server on 127.0.0.1.

struct BenchServer {
  std::string dir;
  Server* srv = nullptr;
  std::thread th;
  ServerLogin login;
  BenchServer() {
    char tmpl[] = "/tmp/ordika-bench-sync-XXXXXX";
    dir = ::mkdtemp(tmpl);
    ServerConfig cfg;
    cfg.data_dir = dir + "/data";
    cfg.listen_host = "127.0.0.1";
    cfg.port = 0;
    cfg.log_to_file = false;
    int32_t id = 0;
    ::mkdir(cfg.data_dir.c_str(), 0700);
    server_user_add(cfg, "bench", "bench-pw", &id);
    srv = server_create(cfg);
    th = std::thread([this] { server_run(srv); });
    login.host = "127.0.0.1:" + std::to_string(server_port(srv));
    login.account_id = static_cast<uint32_t>(id);
    login.user = "bench";
    sha256(login.user_hash, "bench-pw", 8);
  }
  ~BenchServer() {
    server_stop(srv);
    th.join();
    server_destroy(srv);
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
    }
  }
  std::string fresh_dir(const std::string& name) {
    std::string d = dir + "/" + name;
    if (std::system(("rm -rf '" + d + "'").c_str()) != 0) {
    }
    ::mkdir(d.c_str(), 0700);
    return d;
  }
};

BenchServer& bench_server() {
  static BenchServer s;
  return s;
}

// Create on the server and clone a repository of 10,000 items.
void BM_CreateAndClone10k(benchmark::State& state) {
  BenchServer& bs = bench_server();
  std::string src = bs.fresh_dir("src10k");
  if (make_local_repo(src, 10000) != 0) {
    state.SkipWithError("local repository");
    return;
  }
  int n = 0;
  for (auto _ : state) {
    std::string id = "c" + std::to_string(n++);
    std::string dst = bs.fresh_dir("clone10k");
    if (server_create_repo(bs.login, id.c_str(), src.c_str(), repo_key()) != 0 ||
        server_clone_repo(bs.login, id.c_str(), "bench-repo-pw", dst.c_str(), never_there) != 0) {
      state.SkipWithError("create or clone");
      return;
    }
    state.PauseTiming();
    server_delete_repo(bs.login, id.c_str());
    state.ResumeTiming();
  }
  state.counters["items/s"] = benchmark::Counter(10000.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CreateAndClone10k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A repository of 10,000 items on the server and two clones: A changes
// 1,000 items and syncs them up, B syncs them down.
struct TwoClones {
  std::string a, b, id = "s10k";
  bool ok = false;
  TwoClones() {
    BenchServer& bs = bench_server();
    std::string src = bs.fresh_dir("seed-s10k");
    a = bs.fresh_dir("a-s10k");
    b = bs.fresh_dir("b-s10k");
    ok = make_local_repo(src, 10000) == 0 && server_create_repo(bs.login, id.c_str(), src.c_str(), repo_key()) == 0 &&
         server_clone_repo(bs.login, id.c_str(), "bench-repo-pw", a.c_str(), never_there) == 0 &&
         server_clone_repo(bs.login, id.c_str(), "bench-repo-pw", b.c_str(), never_there) == 0;
  }
};

TwoClones& two_clones() {
  static TwoClones t;
  return t;
}

int change_items(const std::string& dir, int round) {
  DbHandle db(db_open((dir + "/data").c_str()));
  if (!db || page_db_key(db.get(), repo_key(), 32) != 0) return -1;
  return write_items(db.get(), true, (round * 1000) % 10000, 1000, round, false);
}

int g_round = 1;

// Mean request/reply round trip on loopback inside an open connection, in
// seconds (1-byte frames, 2000 exchanges).
double measured_rtt() {
  static double rtt = [] {
    Listener l;
    std::thread peer([&] {
      accept_and(&l, [&](Connection* c) {
        while (conn_recv(c) == 0) {
          uint8_t b = 0;
          conn_put(c, &b, 1);
          if (conn_send(c) != 0) break;
        }
      });
    });
    Connection c;
    conn_connect(&c, l.host().c_str(), 443, 1, "bench", kHash);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000; ++i) {
      uint8_t b = 1;
      conn_put(&c, &b, 1);
      conn_send(&c);
      conn_recv(&c);
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / 2000;
    conn_close(&c);
    peer.join();
    return s;
  }();
  return rtt;
}

// Round trips of a sync that fetches and uploads: three connections of
// connect, first frame / salt and request / reply each, and the second
// reply of "put sync".
constexpr int kSyncRoundTrips = 3 * 3 + 1;

void report_rtt_share(benchmark::State& state, double seconds_per_sync) {
  state.counters["round_trips"] = kSyncRoundTrips;
  state.counters["rtt_us"] = measured_rtt() * 1e6;
  state.counters["rtt_share_%"] = 100.0 * kSyncRoundTrips * measured_rtt() / seconds_per_sync;
}

void BM_Sync1000ChangedUp(benchmark::State& state) {
  TwoClones& t = two_clones();
  if (!t.ok) {
    state.SkipWithError("setup");
    return;
  }
  double spent = 0;
  for (auto _ : state) {
    state.PauseTiming();
    change_items(t.a, g_round++);
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    if (run_sync(t.a, t.id, bench_server().login) != 0) state.SkipWithError("sync");
    spent += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.PauseTiming();
    run_sync(t.b, t.id, bench_server().login);  // keeps B one step behind only
    state.ResumeTiming();
  }
  report_rtt_share(state, spent / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Sync1000ChangedUp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_Sync1000ChangedDown(benchmark::State& state) {
  TwoClones& t = two_clones();
  if (!t.ok) {
    state.SkipWithError("setup");
    return;
  }
  double spent = 0;
  for (auto _ : state) {
    state.PauseTiming();
    change_items(t.a, g_round++);
    run_sync(t.a, t.id, bench_server().login);
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    if (run_sync(t.b, t.id, bench_server().login) != 0) state.SkipWithError("sync");
    spent += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  report_rtt_share(state, spent / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Sync1000ChangedDown)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// An unchanged repository of 10,000 items: one connection ("get list") and
// the local stage-1 work; what is left of a sync when nothing moves.
void BM_SyncUnchanged10k(benchmark::State& state) {
  TwoClones& t = two_clones();
  for (auto _ : state)
    if (run_sync(t.b, t.id, bench_server().login) != 0) state.SkipWithError("sync");
}
BENCHMARK(BM_SyncUnchanged10k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// One request/reply round trip on loopback inside an open connection (a
// 1-byte frame each way), the unit of the round-trip share.
void BM_LoopbackRoundTrip(benchmark::State& state) {
  Listener l;
  std::atomic<bool> done{false};
  std::thread peer([&] {
    accept_and(&l, [&](Connection* c) {
      while (conn_recv(c) == 0) {
        uint8_t b = 0;
        conn_put(c, &b, 1);
        if (conn_send(c) != 0) break;
      }
    });
  });
  Connection c;
  conn_connect(&c, l.host().c_str(), 443, 1, "bench", kHash);
  for (auto _ : state) {
    uint8_t b = 1;
    conn_put(&c, &b, 1);
    conn_send(&c);
    conn_recv(&c);
  }
  conn_close(&c);
  peer.join();
}
BENCHMARK(BM_LoopbackRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Server throughput: 20 clients, each with a repository of its own (100
// items), each changing 10 items and syncing, all at once.
void BM_Server20Clients(benchmark::State& state) {
  BenchServer& bs = bench_server();
  constexpr int kClients = 20;
  static std::vector<std::string> dirs;
  if (dirs.empty()) {
    for (int i = 0; i < kClients; ++i) {
      std::string seed = bs.fresh_dir("seed20-" + std::to_string(i));
      std::string d = bs.fresh_dir("c20-" + std::to_string(i));
      std::string id = "t" + std::to_string(i);
      if (make_local_repo(seed, 100) != 0 || server_create_repo(bs.login, id.c_str(), seed.c_str(), repo_key()) != 0 ||
          server_clone_repo(bs.login, id.c_str(), "bench-repo-pw", d.c_str(), never_there) != 0) {
        state.SkipWithError("setup");
        return;
      }
      dirs.push_back(d);
    }
  }
  int round = 0;
  int64_t syncs = 0;
  for (auto _ : state) {
    ++round;
    std::vector<std::thread> th;
    std::atomic<int> bad{0};
    for (int i = 0; i < kClients; ++i)
      th.emplace_back([&, i] {
        DbHandle db(db_open((dirs[i] + "/data").c_str()));
        if (!db || page_db_key(db.get(), repo_key(), 32) != 0 ||
            write_items(db.get(), true, (round * 10) % 100, 10, round, false) != 0) {
          bad++;
          return;
        }
        db.reset();
        if (run_sync(dirs[i], "t" + std::to_string(i), bs.login) != 0) bad++;
      });
    for (auto& t : th) t.join();
    if (bad) state.SkipWithError("sync");
    syncs += kClients;
  }
  state.counters["syncs/s"] = benchmark::Counter(static_cast<double>(syncs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Server20Clients)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
