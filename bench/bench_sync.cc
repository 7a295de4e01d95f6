// Sync throughput: file objects through encrypted frames over loopback TCP
// (plain and page mode, 4 MiB per transfer), the handshake with login, and
// the record-set merges of stage 1 on 100,000 version records.
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
#include "sync/conn.h"
#include "sync/record_set.h"

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

}  // namespace

BENCHMARK_MAIN();
