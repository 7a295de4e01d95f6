// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the cipher on database pages and network frames, and of the key
// derivations run once per password entry.
#include <benchmark/benchmark.h>

#include <cstring>

#include "crypto/crypto.h"

namespace {

const uint8_t kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

// One database page written: key schedule from SHA-256 of the key, then CBC.
void BM_PageEncrypt1024(benchmark::State& state) {
  CipherContext ctx;
  uint8_t page[1024] = {};
  for (auto _ : state) {
    page_cipher(&ctx, kKey, CIPHER_ENCRYPT);
    cbc_encrypt_inplace(&ctx, page, sizeof page);
    benchmark::DoNotOptimize(page);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sizeof page));
}
BENCHMARK(BM_PageEncrypt1024);

void BM_PageDecrypt1024(benchmark::State& state) {
  CipherContext ctx;
  uint8_t page[1024] = {};
  for (auto _ : state) {
    page_cipher(&ctx, kKey, CIPHER_DECRYPT);
    cbc_decrypt_inplace(&ctx, page, sizeof page);
    benchmark::DoNotOptimize(page);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sizeof page));
}
BENCHMARK(BM_PageDecrypt1024);

// A connection's stream: one keyed context, 1024-byte buffers in sequence.
void BM_StreamEncrypt1024(benchmark::State& state) {
  CipherContext ctx;
  page_cipher(&ctx, kKey, CIPHER_ENCRYPT);
  uint8_t buf[1024] = {};
  for (auto _ : state) {
    cbc_encrypt_inplace(&ctx, buf, sizeof buf);
    benchmark::DoNotOptimize(buf);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sizeof buf));
}
BENCHMARK(BM_StreamEncrypt1024);

void BM_StreamDecrypt1024(benchmark::State& state) {
  CipherContext ctx;
  page_cipher(&ctx, kKey, CIPHER_DECRYPT);
  uint8_t buf[1024] = {};
  for (auto _ : state) {
    cbc_decrypt_inplace(&ctx, buf, sizeof buf);
    benchmark::DoNotOptimize(buf);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sizeof buf));
}
BENCHMARK(BM_StreamDecrypt1024);

// Keying one stored item version.
void BM_ObjectCipher(benchmark::State& state) {
  CipherContext ctx;
  uint8_t uuid[16] = {7}, hash[20] = {9};
  for (auto _ : state) benchmark::DoNotOptimize(object_cipher(&ctx, kKey, uuid, hash, CIPHER_DECRYPT));
}
BENCHMARK(BM_ObjectCipher);

void BM_Sha256_1024(benchmark::State& state) {
  uint8_t data[1024] = {}, digest[32];
  for (auto _ : state) {
    sha256(digest, data, sizeof data);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sizeof data));
}
BENCHMARK(BM_Sha256_1024);

// Repository key: 1000 AES rounds.
void BM_DeriveKey(benchmark::State& state) {
  uint8_t out[32];
  for (auto _ : state) {
    derive_key("correct horse battery staple", out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_DeriveKey)->Unit(benchmark::kMillisecond);

// Configuration database key: 20002 iterations.
void BM_Pbkdf2_20002(benchmark::State& state) {
  const uint8_t salt[16] = {};
  uint8_t out[32];
  for (auto _ : state) {
    pbkdf2_sha256("correct horse battery staple", salt, sizeof salt, 20002, out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Pbkdf2_20002)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
