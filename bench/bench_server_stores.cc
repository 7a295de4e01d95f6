// SPDX-License-Identifier: GPL-3.0-or-later
// The account server on its two stores. Syncs per second and the latency of
// one sync with 20 and 100 clients at once (each an account of its own with
// a repository of 100 items, changing 10 of them and syncing, every round),
// against server processes of the built executable: one on SQLite, one on
// PostgreSQL, and one and two on PostgreSQL behind haproxy. Then the store
// phase alone (a sync's changes applied to the store in one transaction)
// on one and two connections, which shows what a second process can add
// when the machine's processors are not all taken by the clients.
// PostgreSQL runs durable (fsync, synchronous commit), as SQLite does.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_repo.h"
#include "pg_cluster.h"
#include "server.h"
#include "server_internal.h"
#include "server_process.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string scratch(const std::string& name) {
  std::string d = "/tmp/ordika-bench-stores-" + std::to_string(::getpid()) + "-" + name;
  if (std::system(("rm -rf '" + d + "'").c_str()) != 0) {
  }
  ::mkdir(d.c_str(), 0700);
  return d;
}

PgCluster* cluster() {
  static PgCluster c(true);
  static bool up = [] {
    std::string error;
    if (!PgCluster::available() || c.start(&error) != 0) {
      std::fprintf(stderr, "PostgreSQL: %s\n", error.empty() ? "not installed" : error.c_str());
      return false;
    }
    return true;
  }();
  return up ? &c : nullptr;
}

enum Setup { kSqlite, kPostgres, kPostgresBalanced, kPostgresTwoBalanced };
constexpr int kClientsMax = 100;

// Server processes on a fresh store with kClientsMax accounts, each with a
// repository cloned for its client.
struct Deployment {
  Setup setup;
  std::string dir;
  ServerConfig cfg;
  std::vector<std::unique_ptr<ChildProcess>> servers;
  ChildProcess balancer;
  std::vector<ServerLogin> logins;
  std::vector<std::string> clients;
  bool ok = false;

  explicit Deployment(Setup s) : setup(s), dir(scratch("d" + std::to_string(s))) {
    cfg.data_dir = dir + "/admin";
    if (s != kSqlite) {
      std::string error;
      if (!cluster() || (cfg.database = cluster()->create_database(&error)).empty()) return;
    } else {
      cfg.data_dir = dir + "/data";
    }
    for (int i = 0; i < kClientsMax; ++i) {
      int32_t id = 0;
      std::string user = "user" + std::to_string(i);
      if (server_user_add(cfg, user, "pw-" + user, &id) != 0) return;
      ServerLogin l;
      l.account_id = static_cast<uint32_t>(id);
      l.user = user;
      sha256(l.user_hash, ("pw-" + user).data(), user.size() + 3);
      logins.push_back(l);
    }
    int processes = s == kPostgresTwoBalanced ? 2 : 1;
    std::vector<int> ports;
    for (int p = 0; p < processes; ++p) {
      servers.push_back(std::make_unique<ChildProcess>());
      std::string data = s == kSqlite ? cfg.data_dir : dir + "/p" + std::to_string(p);
      std::vector<std::string> extra = {"--max-clients", "256", "--proxy", kBalancerAddress};
      if (!start_server_process(servers.back().get(), data, cfg.database, logins[0], extra)) return;
      ports.push_back(servers.back()->port());
    }
    std::string host = servers[0]->host();
    if (s == kPostgresBalanced || s == kPostgresTwoBalanced) {
      if (!start_haproxy(&balancer, dir, ports)) return;
      host = balancer.host();
    }
    for (int i = 0; i < kClientsMax; ++i) {
      logins[i].host = host;
      std::string seed = dir + "/seed" + std::to_string(i), c = dir + "/c" + std::to_string(i);
      ::mkdir(seed.c_str(), 0700);
      ::mkdir(c.c_str(), 0700);
      if (make_local_repo(seed, 100) != 0 || server_create_repo(logins[i], "r", seed.c_str(), repo_key()) != 0 ||
          server_clone_repo(logins[i], "r", "bench-repo-pw", c.c_str(), never_there) != 0)
        return;
      clients.push_back(c);
    }
    ok = true;
  }
  ~Deployment() {
    servers.clear();
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
    }
  }
};

// One deployment at a time: the benchmarks of a setup run one after another.
Deployment* deployment(Setup s) {
  static std::unique_ptr<Deployment> current;
  if (!current || current->setup != s) {
    current.reset();
    current = std::make_unique<Deployment>(s);
  }
  return current->ok ? current.get() : nullptr;
}

// A round: each client changes 10 items (not timed), then all sync at once
// (timed).
void Syncs(benchmark::State& state, Setup setup) {
  Deployment* d = deployment(setup);
  if (!d) {
    state.SkipWithError("deployment");
    return;
  }
  int n = static_cast<int>(state.range(0));
  static int round = 0;
  double spent = 0, latency = 0;
  int64_t syncs = 0;
  for (auto _ : state) {
    ++round;
    std::atomic<int> bad{0};
    {
      std::vector<std::thread> th;
      for (int i = 0; i < n; ++i)
        th.emplace_back([&, i] {
          DbHandle db(db_open((d->clients[i] + "/data").c_str()));
          if (!db || page_db_key(db.get(), repo_key(), 32) != 0 ||
              write_items(db.get(), true, (round * 10) % 100, 10, round, false) != 0)
            bad++;
        });
      for (auto& t : th) t.join();
    }
    std::vector<double> took(static_cast<size_t>(n));
    auto t0 = Clock::now();
    {
      std::vector<std::thread> th;
      for (int i = 0; i < n; ++i)
        th.emplace_back([&, i] {
          auto s0 = Clock::now();
          if (run_sync(d->clients[i], "r", d->logins[i]) != 0) bad++;
          took[i] = std::chrono::duration<double>(Clock::now() - s0).count();
        });
      for (auto& t : th) t.join();
    }
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(wall);
    if (bad) state.SkipWithError("sync");
    spent += wall;
    for (double t : took) latency += t;
    syncs += n;
  }
  state.counters["syncs/s"] = static_cast<double>(syncs) / spent;
  state.counters["latency_ms"] = 1000.0 * latency / static_cast<double>(syncs);
}

void BM_SyncsSqlite(benchmark::State& s) { Syncs(s, kSqlite); }
void BM_SyncsPostgres(benchmark::State& s) { Syncs(s, kPostgres); }
void BM_SyncsPostgresBalanced(benchmark::State& s) { Syncs(s, kPostgresBalanced); }
void BM_SyncsPostgresTwoBalanced(benchmark::State& s) { Syncs(s, kPostgresTwoBalanced); }
BENCHMARK(BM_SyncsSqlite)->Arg(1)->Arg(20)->Arg(100)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SyncsPostgres)->Arg(1)->Arg(20)->Arg(100)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SyncsPostgresBalanced)->Arg(20)->Arg(100)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SyncsPostgresTwoBalanced)->Arg(20)->Arg(100)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);

// The store phase alone: on `connections` connections at once, each for
// an account and repository of its own, a "put sync" of 10 changed items
// applied to the store in one write, 1000 times each.
void StorePhase(benchmark::State& state, bool postgres) {
  int connections = static_cast<int>(state.range(0));
  std::string dir = scratch(std::string("phase") + (postgres ? "pg" : "sqlite") + std::to_string(connections));
  ServerConfig cfg;
  cfg.data_dir = dir;
  std::string error;
  if (postgres && (!cluster() || (cfg.database = cluster()->create_database(&error)).empty())) {
    state.SkipWithError("database");
    return;
  }
  std::unique_ptr<srv::Store> store = srv::store_open(cfg, &error);
  if (!store) {
    state.SkipWithError(error.c_str());
    return;
  }
  // the snapshot: 10 changed items of about 300 bytes, as a client sends it
  std::string file = dir + "/sync_2";
  {
    DbHandle snap(db_create_snapshot(file.c_str(), nullptr));
    if (!snap || db_exec(snap.get(), "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r LIMIT 10) "
                                      "INSERT INTO s1 SELECT randomblob(16), randomblob(20), 0, randomblob(96), "
                                      "randomblob(208) FROM r; INSERT INTO s3 SELECT c1, c2, 1 FROM s1;") != SQLITE_OK) {
      state.SkipWithError("snapshot");
      return;
    }
  }
  std::vector<int64_t> repos;
  for (int t = 0; t < connections; ++t) {
    srv::StoreLease db(store.get(), nullptr);
    uint8_t hash[32] = {}, kc[64] = {}, st[20] = {};
    int64_t repo = 0;
    if (!db || db->add_account(static_cast<uint32_t>(t + 1), "a" + std::to_string(t), hash) != 0 ||
        db->insert_repo(static_cast<uint32_t>(t + 1), "r", kc, st, &repo) != 0) {
      state.SkipWithError("account");
      return;
    }
    repos.push_back(repo);
  }
  constexpr int kWrites = 1000;
  for (auto _ : state) {
    std::atomic<int> bad{0};
    auto t0 = Clock::now();
    std::vector<std::thread> th;
    for (int t = 0; t < connections; ++t)
      th.emplace_back([&, t] {
        for (int k = 0; k < kWrites; ++k) {
          srv::StoreLease db(store.get(), nullptr);
          srv::StoreTx tx(db.get(), true, {srv::account_lock(static_cast<uint32_t>(t + 1))});
          uint8_t state_id[20];
          random_bytes(state_id, sizeof state_id);
          if (tx.status() != 0 || srv::apply_sync(db.get(), file, repos[t], nullptr) != 0 ||
              db->set_state(repos[t], state_id) != 0 || tx.commit() != 0)
            bad++;
        }
      });
    for (auto& t : th) t.join();
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(wall);
    if (bad) state.SkipWithError("store phase");
    state.counters["writes/s"] = connections * kWrites / wall;
  }
  store.reset();
  if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
  }
}

void BM_StorePhaseSqlite(benchmark::State& s) { StorePhase(s, false); }
void BM_StorePhasePostgres(benchmark::State& s) { StorePhase(s, true); }
BENCHMARK(BM_StorePhaseSqlite)->Arg(1)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StorePhasePostgres)->Arg(1)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
