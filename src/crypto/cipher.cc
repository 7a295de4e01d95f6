// SPDX-License-Identifier: GPL-3.0-or-later
// AES in CBC and ECB modes on a context whose chaining value carries across
// calls. With the CPU's AES instructions, 128- and 256-bit keys are scheduled
// and run here: libcrypto's re-initialisation costs far more than the key
// schedule itself, and every stored object has a key of its own. Otherwise
// the block work is done by libcrypto's AES-CBC. The chaining value is ours
// and lives in the context; libcrypto's running IV is reset to it whenever
// the two differ, which keeps the partial-block rule (the chaining value does
// not advance) in our hands.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <atomic>
#include <climits>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "crypto/crypto.h"
#include "support/log.h"

namespace {

#if defined(__x86_64__)

#define ORDIKA_AESNI __attribute__((target("aes,sse4.1")))

bool cpu_has_aes_ni() {
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_AES) && (c & bit_SSE4_1);
}

// A static initialiser that keys a context before this is set merely gets
// libcrypto.
const bool kHaveAesNi = cpu_has_aes_ni();

ORDIKA_AESNI inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
ORDIKA_AESNI inline void store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// w ^ (w << 32) ^ (w << 64) ^ (w << 96): the running XOR of a schedule row.
ORDIKA_AESNI inline __m128i prefix_xor(__m128i w) {
  w = _mm_xor_si128(w, _mm_slli_si128(w, 4));
  w = _mm_xor_si128(w, _mm_slli_si128(w, 4));
  return _mm_xor_si128(w, _mm_slli_si128(w, 4));
}

// SubWord(RotWord(w3)) ^ rcon, or SubWord(w3) without rotation and rcon, in
// every word: a byte shuffle broadcasts the word, and AESENCLAST on four equal
// columns is SubBytes alone (ShiftRows has no effect) followed by the XOR.
// Much cheaper than AESKEYGENASSIST, whose latency dominates a schedule.
ORDIKA_AESNI inline __m128i sub_rot_word(__m128i w, int rcon) {
  const __m128i rot = _mm_set1_epi32(0x0c0f0e0d);
  return _mm_aesenclast_si128(_mm_shuffle_epi8(w, rot), _mm_set1_epi32(rcon));
}

ORDIKA_AESNI inline __m128i sub_word(__m128i w) {
  const __m128i last = _mm_set1_epi32(0x0f0e0d0c);
  return _mm_aesenclast_si128(_mm_shuffle_epi8(w, last), _mm_setzero_si128());
}

// FIPS-197 key expansion; rk receives rounds + 1 round keys.
ORDIKA_AESNI void expand_128(const uint8_t* key, __m128i* rk) {
  static const int rcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};
  __m128i k = load(key);
  rk[0] = k;
  for (int i = 1; i <= 10; i++) {
    k = _mm_xor_si128(prefix_xor(k), sub_rot_word(k, rcon[i - 1]));
    rk[i] = k;
  }
}

ORDIKA_AESNI inline void expand_256(__m128i a, __m128i b, __m128i* rk) {
  rk[0] = a;
  rk[1] = b;
  int rcon = 1;
  for (int i = 2; i < 14; i += 2, rcon <<= 1) {
    a = _mm_xor_si128(prefix_xor(a), sub_rot_word(b, rcon));
    rk[i] = a;
    b = _mm_xor_si128(prefix_xor(b), sub_word(a));
    rk[i + 1] = b;
  }
  rk[14] = _mm_xor_si128(prefix_xor(a), sub_rot_word(b, rcon));
}

// The decryption schedule (equivalent inverse cipher) from the encryption one.
ORDIKA_AESNI inline void invert_schedule(__m128i* rk, int rounds) {
  for (int i = 0, j = rounds; i < j; i++, j--) {
    __m128i t = rk[i];
    rk[i] = rk[j];
    rk[j] = t;
  }
  for (int i = 1; i < rounds; i++) rk[i] = _mm_aesimc_si128(rk[i]);
}

// Schedules the key into ctx->round_keys, for decryption in the order and
// form (InvMixColumns) of the equivalent inverse cipher. Works in the context
// itself so that no copy of the schedule is left elsewhere.
ORDIKA_AESNI void native_set_key(CipherContext* ctx, const uint8_t* key, int key_len, int direction) {
  int rounds = key_len / 4 + 6;
  __m128i* rk = reinterpret_cast<__m128i*>(ctx->round_keys);
  if (key_len == 16)
    expand_128(key, rk);
  else
    expand_256(load(key), load(key + 16), rk);
  if (direction == CIPHER_DECRYPT) invert_schedule(rk, rounds);
}

// Schedules E_seed(secret), two AES-256 blocks, as a 256-bit key into each
// of N contexts. The seeds' round keys are made as the blocks use them, so
// neither they nor the derived keys are ever stored; the N schedules run side
// by side, which hides most of the latency of one (a chain of dependent
// steps).
template <int N>
ORDIKA_AESNI void native_set_derived_keys(CipherContext* const* ctx, const uint8_t (*seeds)[32],
                                          const uint8_t* secret, int direction) {
  __m128i a[N], b[N], x0[N], x1[N];
  const __m128i s0 = load(secret), s1 = load(secret + 16);
  for (int j = 0; j < N; j++) {
    a[j] = load(seeds[j]);
    b[j] = load(seeds[j] + 16);
    x0[j] = _mm_aesenc_si128(_mm_xor_si128(s0, a[j]), b[j]);
    x1[j] = _mm_aesenc_si128(_mm_xor_si128(s1, a[j]), b[j]);
  }
  int rcon = 1;
  for (int i = 2; i < 14; i += 2, rcon <<= 1) {
    for (int j = 0; j < N; j++) {
      a[j] = _mm_xor_si128(prefix_xor(a[j]), sub_rot_word(b[j], rcon));
      x0[j] = _mm_aesenc_si128(x0[j], a[j]);
      x1[j] = _mm_aesenc_si128(x1[j], a[j]);
      b[j] = _mm_xor_si128(prefix_xor(b[j]), sub_word(a[j]));
      x0[j] = _mm_aesenc_si128(x0[j], b[j]);
      x1[j] = _mm_aesenc_si128(x1[j], b[j]);
    }
  }
  for (int j = 0; j < N; j++) {
    a[j] = _mm_xor_si128(prefix_xor(a[j]), sub_rot_word(b[j], rcon));
    x0[j] = _mm_aesenclast_si128(x0[j], a[j]);
    x1[j] = _mm_aesenclast_si128(x1[j], a[j]);
  }
  // The derived keys' own schedules, side by side in the same way.
  __m128i* rk[N];
  for (int j = 0; j < N; j++) {
    rk[j] = reinterpret_cast<__m128i*>(ctx[j]->round_keys);
    rk[j][0] = x0[j];
    rk[j][1] = x1[j];
  }
  rcon = 1;
  for (int i = 2; i < 14; i += 2, rcon <<= 1) {
    for (int j = 0; j < N; j++) {
      x0[j] = _mm_xor_si128(prefix_xor(x0[j]), sub_rot_word(x1[j], rcon));
      rk[j][i] = x0[j];
      x1[j] = _mm_xor_si128(prefix_xor(x1[j]), sub_word(x0[j]));
      rk[j][i + 1] = x1[j];
    }
  }
  for (int j = 0; j < N; j++) {
    rk[j][14] = _mm_xor_si128(prefix_xor(x0[j]), sub_rot_word(x1[j], rcon));
    if (direction == CIPHER_DECRYPT) invert_schedule(rk[j], 14);
  }
}

ORDIKA_AESNI inline __m128i encrypt_block(const uint8_t* rk, int rounds, __m128i x) {
  x = _mm_xor_si128(x, load(rk));
  for (int i = 1; i < rounds; i++) x = _mm_aesenc_si128(x, load(rk + 16 * i));
  return _mm_aesenclast_si128(x, load(rk + 16 * rounds));
}

ORDIKA_AESNI inline __m128i decrypt_block(const uint8_t* rk, int rounds, __m128i x) {
  x = _mm_xor_si128(x, load(rk));
  for (int i = 1; i < rounds; i++) x = _mm_aesdec_si128(x, load(rk + 16 * i));
  return _mm_aesdeclast_si128(x, load(rk + 16 * rounds));
}

// CBC encryption of whole blocks from ctx->chain, which it advances.
ORDIKA_AESNI void native_cbc_encrypt(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len) {
  __m128i v = load(ctx->chain);
  for (size_t off = 0; off < len; off += 16) {
    v = encrypt_block(ctx->round_keys, ctx->rounds, _mm_xor_si128(v, load(in + off)));
    store(out + off, v);
  }
  store(ctx->chain, v);
}

#define ORDIKA_VAES __attribute__((target("aes,sse4.1,avx2,vaes")))

// VAES is read from CPUID itself: not every compiler knows it by name.
bool cpu_has_vaes() {
  __builtin_cpu_init();
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__builtin_cpu_supports("avx2") || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (c & (1u << 9)) != 0;
}

const bool kHaveVaes = cpu_has_vaes();

// CBC decryption of the leading 256-byte pieces two blocks to a register:
// the wide instructions decipher twice the blocks in the same time. Returns
// the bytes done; ctx->chain is left at the last ciphertext block done.
ORDIKA_VAES size_t vaes_cbc_decrypt(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len) {
  constexpr int kLanes = 8;  // of two blocks
  const uint8_t* rk = ctx->round_keys;
  const int rounds = ctx->rounds;
  __m256i prev = _mm256_castsi128_si256(load(ctx->chain));  // low half
  size_t off = 0;
  for (; off + 32 * kLanes <= len; off += 32 * kLanes) {
    __m256i c[kLanes], x[kLanes], chain[kLanes];
    __m256i k = _mm256_broadcastsi128_si256(load(rk));
    for (int j = 0; j < kLanes; j++) {
      c[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + off + 32 * j));
      x[j] = _mm256_xor_si256(c[j], k);
    }
    // Each block is XORed with the ciphertext block before it: the high
    // half of the previous register and the low half of its own.
    chain[0] = _mm256_permute2x128_si256(prev, c[0], 0x20);
    for (int j = 1; j < kLanes; j++) chain[j] = _mm256_permute2x128_si256(c[j - 1], c[j], 0x21);
    for (int i = 1; i < rounds; i++) {
      k = _mm256_broadcastsi128_si256(load(rk + 16 * i));
      for (int j = 0; j < kLanes; j++) x[j] = _mm256_aesdec_epi128(x[j], k);
    }
    k = _mm256_broadcastsi128_si256(load(rk + 16 * rounds));
    for (int j = 0; j < kLanes; j++)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + off + 32 * j),
                          _mm256_xor_si256(_mm256_aesdeclast_epi128(x[j], k), chain[j]));
    prev = _mm256_permute2x128_si256(c[kLanes - 1], c[kLanes - 1], 0x11);
  }
  if (off) store(ctx->chain, _mm256_castsi256_si128(prev));
  return off;
}

// CBC decryption of whole blocks (in may equal out), eight at a time so the
// independent blocks fill the pipeline (a page is 64 blocks); advances
// ctx->chain.
ORDIKA_AESNI void native_cbc_decrypt(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len) {
  constexpr int kLanes = 8;
  size_t off = kHaveVaes ? vaes_cbc_decrypt(ctx, in, out, len) : 0;
  const uint8_t* rk = ctx->round_keys;
  const int rounds = ctx->rounds;
  __m128i prev = load(ctx->chain);
  for (; off + 16 * kLanes <= len; off += 16 * kLanes) {
    __m128i c[kLanes], x[kLanes];
    __m128i k = load(rk);
    for (int j = 0; j < kLanes; j++) {
      c[j] = load(in + off + 16 * j);
      x[j] = _mm_xor_si128(c[j], k);
    }
    for (int i = 1; i < rounds; i++) {
      k = load(rk + 16 * i);
      for (int j = 0; j < kLanes; j++) x[j] = _mm_aesdec_si128(x[j], k);
    }
    k = load(rk + 16 * rounds);
    store(out + off, _mm_xor_si128(_mm_aesdeclast_si128(x[0], k), prev));
    for (int j = 1; j < kLanes; j++) store(out + off + 16 * j, _mm_xor_si128(_mm_aesdeclast_si128(x[j], k), c[j - 1]));
    prev = c[kLanes - 1];
  }
  for (; off < len; off += 16) {
    __m128i c = load(in + off);
    store(out + off, _mm_xor_si128(decrypt_block(rk, rounds, c), prev));
    prev = c;
  }
  store(ctx->chain, prev);
}

// ECB over whole blocks, two at a time so that they overlap in the pipeline.
ORDIKA_AESNI void native_ecb(const CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len) {
  const uint8_t* rk = ctx->round_keys;
  const int rounds = ctx->rounds;
  const bool enc = ctx->direction == CIPHER_ENCRYPT;
  size_t off = 0;
  for (; off + 32 <= len; off += 32) {
    __m128i k = load(rk);
    __m128i x0 = _mm_xor_si128(load(in + off), k), x1 = _mm_xor_si128(load(in + off + 16), k);
    for (int i = 1; i < rounds; i++) {
      k = load(rk + 16 * i);
      x0 = enc ? _mm_aesenc_si128(x0, k) : _mm_aesdec_si128(x0, k);
      x1 = enc ? _mm_aesenc_si128(x1, k) : _mm_aesdec_si128(x1, k);
    }
    k = load(rk + 16 * rounds);
    store(out + off, enc ? _mm_aesenclast_si128(x0, k) : _mm_aesdeclast_si128(x0, k));
    store(out + off + 16, enc ? _mm_aesenclast_si128(x1, k) : _mm_aesdeclast_si128(x1, k));
  }
  for (; off < len; off += 16) {
    __m128i x = load(in + off);
    store(out + off, enc ? encrypt_block(rk, rounds, x) : decrypt_block(rk, rounds, x));
  }
}

#else

const bool kHaveAesNi = false;

void native_set_key(CipherContext*, const uint8_t*, int, int) {}
template <int N>
void native_set_derived_keys(CipherContext* const*, const uint8_t (*)[32], const uint8_t*, int) {}
void native_cbc_encrypt(CipherContext*, const uint8_t*, uint8_t*, size_t) {}
void native_cbc_decrypt(CipherContext*, const uint8_t*, uint8_t*, size_t) {}
void native_ecb(const CipherContext*, const uint8_t*, uint8_t*, size_t) {}

#endif

const uint8_t kZeroBlock[16] = {};

// Cleared by tests so the libcrypto path runs on machines with AES instructions.
std::atomic<bool> allow_native{true};

bool use_native(int key_len) {
  return kHaveAesNi && key_len != 24 && allow_native.load(std::memory_order_relaxed);
}

// EVP_CipherUpdate takes an int length; larger buffers go in pieces of this
// size (a multiple of the block size).
constexpr size_t kMaxPiece = size_t(1) << 30;

// Fetched once: fetching per key would cost a lookup on every page.
const EVP_CIPHER* cbc_cipher(int key_len) {
  static const EVP_CIPHER* const ciphers[3] = {
      EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr),
      EVP_CIPHER_fetch(nullptr, "AES-192-CBC", nullptr),
      EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr),
  };
  switch (key_len) {
    case 16: return ciphers[0];
    case 24: return ciphers[1];
    case 32: return ciphers[2];
  }
  return nullptr;
}

// Makes libcrypto's running IV equal `iv`, without touching the key schedule.
// Skipped when it already is (after a CBC call it is the chaining value).
bool sync_iv(CipherContext* ctx, const uint8_t* iv) {
  if (ctx->evp_iv_valid && memcmp(ctx->evp_iv, iv, 16) == 0) return true;
  ctx->evp_iv_valid = false;
  if (EVP_CipherInit_ex2(ctx->evp, nullptr, nullptr, iv, -1, nullptr) != 1) return false;
  memcpy(ctx->evp_iv, iv, 16);
  ctx->evp_iv_valid = true;
  return true;
}

// Runs whole blocks through the loaded CBC transform, continuing its IV.
// `next_iv` is the block libcrypto chains on afterwards (the last ciphertext
// block), which the caller saves before an in-place decryption.
bool run_blocks(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len, const uint8_t* next_iv) {
  ctx->evp_iv_valid = false;
  while (len) {
    size_t piece = len < kMaxPiece ? len : kMaxPiece;
    int outl = 0;
    if (EVP_CipherUpdate(ctx->evp, out, &outl, in, int(piece)) != 1 || size_t(outl) != piece) return false;
    in += piece;
    out += piece;
    len -= piece;
  }
  memcpy(ctx->evp_iv, next_iv, 16);
  ctx->evp_iv_valid = true;
  return true;
}

// One ECB block on the CBC transform. CBC with running IV v computes
// E(P ^ v) or D(C) ^ v; cancelling v here gives plain ECB without resetting
// libcrypto's IV for every block (derive_key runs two thousand of them).
bool run_single(CipherContext* ctx, const uint8_t* in, uint8_t* out) {
  if (!ctx->evp_iv_valid && !sync_iv(ctx, kZeroBlock)) return false;
  uint8_t v[16], block[16];
  memcpy(v, ctx->evp_iv, 16);
  bool ok;
  if (ctx->direction == CIPHER_ENCRYPT) {
    for (int i = 0; i < 16; i++) block[i] = in[i] ^ v[i];
    ok = run_blocks(ctx, block, out, 16, out);
  } else {
    memcpy(block, in, 16);
    ok = run_blocks(ctx, block, out, 16, block);
    if (ok)
      for (int i = 0; i < 16; i++) out[i] ^= v[i];
  }
  OPENSSL_cleanse(block, sizeof block);
  return ok;
}

bool usable(const CipherContext* ctx, int direction) {
  return ctx->key_len != 0 && (ctx->native || ctx->evp) && ctx->direction == direction;
}

// Before and after a native schedule goes into ctx.
void native_begin(CipherContext* ctx, const uint8_t* iv) {
  if (ctx->evp && ctx->evp_key_len) {
    // Over from libcrypto: its schedule of the previous key must not stay
    // behind either.
    EVP_CIPHER_CTX_reset(ctx->evp);
    ctx->evp_key_len = 0;
    ctx->evp_iv_valid = false;
  }
  if (iv) {
    memmove(ctx->chain, iv, sizeof ctx->chain);
  } else {
    memset(ctx->chain, 0, sizeof ctx->chain);
  }
}

void native_end(CipherContext* ctx, int key_len, int direction) {
  ctx->native = true;
  ctx->rounds = key_len / 4 + 6;
  ctx->direction = direction;
  ctx->key_len = key_len;
}

}  // namespace

CipherContext::CipherContext() = default;

CipherContext::~CipherContext() {
  // Freeing the libcrypto context clears its key schedule.
  EVP_CIPHER_CTX_free(evp);
  OPENSSL_cleanse(round_keys, sizeof round_keys);
  OPENSSL_cleanse(chain, sizeof chain);
  OPENSSL_cleanse(evp_iv, sizeof evp_iv);
}

int aes_set_key(CipherContext* ctx, const uint8_t* key, int key_len, const uint8_t* iv, int direction) {
  if (!ctx) return -1;
  ctx->key_len = 0;
  if (!key || (key_len != 16 && key_len != 24 && key_len != 32) ||
      (direction != CIPHER_ENCRYPT && direction != CIPHER_DECRYPT)) {
    log_message(LOG_ERROR, "aes_set_key: %d %d", key_len, direction);
    return -1;
  }
  if (use_native(key_len)) {
    native_begin(ctx, iv);
    native_set_key(ctx, key, key_len, direction);
    native_end(ctx, key_len, direction);
    return 0;
  }
  if (ctx->native) {
    // Over to libcrypto: the old schedule must not stay behind.
    ctx->native = false;
    OPENSSL_cleanse(ctx->round_keys, sizeof ctx->round_keys);
  }
  if (!ctx->evp) {
    ctx->evp = EVP_CIPHER_CTX_new();
    if (!ctx->evp) {
      log_message(LOG_ERROR, "aes_set_key: no cipher context");
      return -1;
    }
  }
  // Passing a cipher makes libcrypto rebuild its context, so it is passed only
  // when the key length changes; otherwise only the key schedule is redone.
  const EVP_CIPHER* cipher = nullptr;
  if (ctx->evp_key_len != key_len) {
    cipher = cbc_cipher(key_len);
    ctx->evp_key_len = 0;
    if (!cipher) {
      log_message(LOG_ERROR, "aes_set_key: AES-%d unavailable", key_len * 8);
      return -1;
    }
  }
  if (iv) {
    memmove(ctx->chain, iv, sizeof ctx->chain);
  } else {
    memset(ctx->chain, 0, sizeof ctx->chain);
  }
  ctx->evp_iv_valid = false;
  if (EVP_CipherInit_ex2(ctx->evp, cipher, key, ctx->chain, direction == CIPHER_ENCRYPT ? 1 : 0, nullptr) != 1) {
    ctx->evp_key_len = 0;
    log_message(LOG_ERROR, "aes_set_key: init %d", key_len);
    return -1;
  }
  memcpy(ctx->evp_iv, ctx->chain, 16);
  ctx->evp_iv_valid = true;
  if (cipher) {
    // Without this, decryption would hold back the last block for unpadding.
    EVP_CIPHER_CTX_set_padding(ctx->evp, 0);
    ctx->evp_key_len = key_len;
  }
  ctx->rounds = key_len / 4 + 6;
  ctx->direction = direction;
  ctx->key_len = key_len;
  return 0;
}

bool aes_set_derived_keys(CipherContext* const ctx[], const uint8_t (*seeds)[32], const uint8_t secret[32],
                          const uint8_t* const iv[], int n, int direction) {
  if (!ctx || !seeds || !secret || !iv || n < 1 || n > kDerivedKeysAtOnce || !use_native(32) ||
      (direction != CIPHER_ENCRYPT && direction != CIPHER_DECRYPT))
    return false;
  for (int j = 0; j < n; j++) {
    if (!ctx[j]) return false;
    native_begin(ctx[j], iv[j]);
  }
  switch (n) {
    case 1: native_set_derived_keys<1>(ctx, seeds, secret, direction); break;
    case 2: native_set_derived_keys<2>(ctx, seeds, secret, direction); break;
    case 3: native_set_derived_keys<3>(ctx, seeds, secret, direction); break;
    default: native_set_derived_keys<4>(ctx, seeds, secret, direction); break;
  }
  for (int j = 0; j < n; j++) native_end(ctx[j], 32, direction);
  return true;
}

long aes_encrypt(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len, int mode) {
  if (!ctx || !in || !out || (mode != MODE_ECB && mode != MODE_CBC) || len > size_t(LONG_MAX) - 15) return -1;
  if (len == 0) return 0;
  if (!usable(ctx, CIPHER_ENCRYPT)) return -1;
  size_t whole = len & ~size_t(15);
  size_t rest = len - whole;
  uint8_t work[16];
  bool ok = true;
  if (ctx->native) {
    if (mode == MODE_CBC) {
      if (whole) native_cbc_encrypt(ctx, in, out, whole);
    } else if (whole) {
      native_ecb(ctx, in, out, whole);
    }
    if (rest) {
      // CBC: the tail XOR the chaining value, zero beyond it; the chaining
      // value does not advance. ECB: the tail zero-filled.
      memcpy(work, in + whole, rest);
      memset(work + rest, 0, 16 - rest);
      if (mode == MODE_CBC)
        for (size_t i = 0; i < rest; i++) work[i] ^= ctx->chain[i];
      native_ecb(ctx, work, out + whole, 16);
    }
  } else if (mode == MODE_CBC) {
    ok = sync_iv(ctx, ctx->chain);
    if (ok && whole) {
      ok = run_blocks(ctx, in, out, whole, out + whole - 16);
      if (ok) memcpy(ctx->chain, out + whole - 16, 16);
    }
    if (ok && rest) {
      // The work block must be chain ^ P over the tail and zero beyond it;
      // libcrypto XORs the chaining value in, so the tail is padded with the
      // chaining bytes themselves. The chaining value stays as it was.
      memcpy(work, in + whole, rest);
      memcpy(work + rest, ctx->chain + rest, 16 - rest);
      ok = run_blocks(ctx, work, out + whole, 16, out + whole);
    }
  } else {
    for (size_t off = 0; ok && off < whole; off += 16) ok = run_single(ctx, in + off, out + off);
    if (ok && rest) {
      memcpy(work, in + whole, rest);
      memset(work + rest, 0, 16 - rest);
      ok = run_single(ctx, work, out + whole);
    }
  }
  OPENSSL_cleanse(work, sizeof work);
  if (!ok) {
    log_message(LOG_ERROR, "aes_encrypt: %zu %d", len, mode);
    return -1;
  }
  return long(whole + (rest ? 16 : 0));
}

long aes_decrypt(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len, int mode) {
  if (!ctx || !in || !out || (mode != MODE_ECB && mode != MODE_CBC) || len % 16 != 0 ||
      len > size_t(LONG_MAX))
    return -1;
  if (len == 0) return 0;
  if (!usable(ctx, CIPHER_DECRYPT)) return -1;
  bool ok = true;
  if (ctx->native) {
    if (mode == MODE_CBC) {
      native_cbc_decrypt(ctx, in, out, len);
    } else {
      native_ecb(ctx, in, out, len);
    }
  } else if (mode == MODE_CBC) {
    // The next chaining value is the last ciphertext block, saved before an
    // in-place decryption overwrites it.
    uint8_t next[16];
    memcpy(next, in + len - 16, 16);
    ok = sync_iv(ctx, ctx->chain) && run_blocks(ctx, in, out, len, next);
    if (ok) memcpy(ctx->chain, next, 16);
  } else {
    for (size_t off = 0; ok && off < len; off += 16) ok = run_single(ctx, in + off, out + off);
  }
  if (!ok) {
    log_message(LOG_ERROR, "aes_decrypt: %zu %d", len, mode);
    return -1;
  }
  return long(len);
}

long cbc_encrypt_inplace(CipherContext* ctx, uint8_t* buf, size_t len) {
  return aes_encrypt(ctx, buf, buf, len, MODE_CBC);
}

long cbc_decrypt_inplace(CipherContext* ctx, uint8_t* buf, size_t len) {
  return aes_decrypt(ctx, buf, buf, len, MODE_CBC);
}

bool aes_use_native(bool use) {
  bool previous = kHaveAesNi && allow_native.load(std::memory_order_relaxed);
  allow_native.store(use, std::memory_order_relaxed);
  return previous;
}
