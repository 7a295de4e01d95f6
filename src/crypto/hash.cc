// SPDX-License-Identifier: GPL-3.0-or-later
// SHA-1 and SHA-256 (FIPS 180-4), HMAC-SHA-256 (RFC 2104) and one block of
// PBKDF2-HMAC-SHA-256 (RFC 8018). Written here because callers hold the
// contexts by value and resume them (derive_key_continue), which needs a
// plain, copyable state. The one-shot digests use the same code: libcrypto
// 3.0's one-shot SHA256() fetches and allocates on every call, and one runs
// for every page key.
#include <openssl/crypto.h>

#include <atomic>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "crypto/crypto.h"
#include "support/bytes.h"

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void sha1_compress(uint32_t h[5], const uint8_t* block) {
  uint32_t w[80];
  for (int t = 0; t < 16; t++) w[t] = get_be32(block + 4 * t);
  for (int t = 16; t < 80; t++) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int t = 0; t < 80; t++) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5a827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ed9eba1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d;
      k = 0xca62c1d6;
    }
    uint32_t temp = rotl(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = temp;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

const uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

void sha256_compress_portable(uint32_t h[8], const uint8_t* block) {
  uint32_t w[64];
  for (int t = 0; t < 16; t++) w[t] = get_be32(block + 4 * t);
  for (int t = 16; t < 64; t++) {
    uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
  for (int t = 0; t < 64; t++) {
    uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kSha256K[t] + w[t];
    uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    hh = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
  h[5] += f;
  h[6] += g;
  h[7] += hh;
}

#if defined(__x86_64__)
// The same block function on the SHA extensions: a page key and every PBKDF2
// iteration hash, and this is several times faster than the portable code.
__attribute__((target("sha,sse4.1,ssse3"))) void sha256_compress_ni(uint32_t h[8], const uint8_t* block) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4));
  tmp = _mm_shuffle_epi32(tmp, 0xb1);                // CDAB
  state1 = _mm_shuffle_epi32(state1, 0x1b);          // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xf0);       // CDGH
  const __m128i abef_save = state0;
  const __m128i cdgh_save = state1;

  __m128i w[4];
  for (int i = 0; i < 16; i++) {
    __m128i& cur = w[i & 3];
    if (i < 4) {
      cur = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i)), byte_swap);
    } else {
      // W[t..t+3] from W[t-16..t-13] (in cur), W[t-12..], W[t-7..t-4], W[t-4..t-1].
      const __m128i& prev1 = w[(i - 1) & 3];
      const __m128i& prev2 = w[(i - 2) & 3];
      const __m128i& prev3 = w[(i - 3) & 3];
      cur = _mm_sha256msg2_epu32(
          _mm_add_epi32(_mm_sha256msg1_epu32(cur, prev3), _mm_alignr_epi8(prev1, prev2, 4)), prev1);
    }
    __m128i msg = _mm_add_epi32(cur, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256K + 4 * i)));
    state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
    msg = _mm_shuffle_epi32(msg, 0x0e);
    state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
  }
  state0 = _mm_add_epi32(state0, abef_save);
  state1 = _mm_add_epi32(state1, cdgh_save);

  tmp = _mm_shuffle_epi32(state0, 0x1b);        // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xb1);     // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xf0);  // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);     // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), state1);
}

bool cpu_has_sha_ni() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3)) return false;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (b & bit_SHA) != 0;
}

// A static initialiser that hashes before this is set merely gets the
// portable code.
const bool kHaveShaNi = cpu_has_sha_ni();
#else
const bool kHaveShaNi = false;
#endif

std::atomic<bool> force_portable{false};

void sha256_compress(uint32_t h[8], const uint8_t* block) {
#if defined(__x86_64__)
  if (kHaveShaNi && !force_portable.load(std::memory_order_relaxed)) {
    sha256_compress_ni(h, block);
    return;
  }
#endif
  sha256_compress_portable(h, block);
}

// Shared Merkle-Damgard buffering for both hashes (64-byte blocks).
template <typename Ctx, void (*Compress)(uint32_t*, const uint8_t*)>
void md_update(Ctx* c, const void* data, size_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t used = size_t(c->count % 64);
  c->count += len;
  if (used) {
    size_t take = 64 - used < len ? 64 - used : len;
    memcpy(c->block + used, p, take);
    p += take;
    len -= take;
    if (used + take < 64) return;
    Compress(c->h, c->block);
  }
  for (; len >= 64; p += 64, len -= 64) Compress(c->h, p);
  if (len) memcpy(c->block, p, len);
}

template <typename Ctx, void (*Compress)(uint32_t*, const uint8_t*)>
void md_pad(Ctx* c) {
  uint64_t bits = c->count * 8;
  size_t used = size_t(c->count % 64);
  c->block[used++] = 0x80;
  if (used > 56) {
    memset(c->block + used, 0, 64 - used);
    Compress(c->h, c->block);
    used = 0;
  }
  memset(c->block + used, 0, 56 - used);
  put_be64(c->block + 56, bits);
  Compress(c->h, c->block);
}

}  // namespace

bool sha256_use_portable(bool portable) {
  force_portable.store(portable, std::memory_order_relaxed);
  return kHaveShaNi;
}

void sha1_init(Sha1Context* c) {
  static const uint32_t iv[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  memcpy(c->h, iv, sizeof iv);
  c->count = 0;
}

void sha1_update(Sha1Context* c, const void* data, size_t len) {
  if (len) md_update<Sha1Context, sha1_compress>(c, data, len);
}

void sha1_final(Sha1Context* c, uint8_t digest[20]) {
  md_pad<Sha1Context, sha1_compress>(c);
  for (int i = 0; i < 5; i++) put_be32(digest + 4 * i, c->h[i]);
  OPENSSL_cleanse(c, sizeof *c);
}

void sha1(uint8_t digest[20], const void* data, size_t len) {
  Sha1Context c;
  sha1_init(&c);
  sha1_update(&c, data, len);
  sha1_final(&c, digest);
}

void sha256_init(Sha256Context* c) {
  static const uint32_t iv[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(c->h, iv, sizeof iv);
  c->count = 0;
}

void sha256_update(Sha256Context* c, const void* data, size_t len) {
  if (len) md_update<Sha256Context, sha256_compress>(c, data, len);
}

void sha256_final(Sha256Context* c, uint8_t digest[32]) {
  md_pad<Sha256Context, sha256_compress>(c);
  for (int i = 0; i < 8; i++) put_be32(digest + 4 * i, c->h[i]);
  OPENSSL_cleanse(c, sizeof *c);
}

void sha256(uint8_t digest[32], const void* data, size_t len) {
  Sha256Context c;
  sha256_init(&c);
  sha256_update(&c, data, len);
  sha256_final(&c, digest);
}

void hmac_sha256_init(HmacSha256Context* c, const void* key, size_t key_len) {
  uint8_t k[64] = {};
  if (key_len > 64) {
    sha256(k, key, key_len);
  } else if (key_len) {
    memcpy(k, key, key_len);
  }
  uint8_t pad[64];
  for (int i = 0; i < 64; i++) pad[i] = k[i] ^ 0x36;
  sha256_init(&c->inner);
  sha256_update(&c->inner, pad, 64);
  for (int i = 0; i < 64; i++) pad[i] = k[i] ^ 0x5c;
  sha256_init(&c->outer);
  sha256_update(&c->outer, pad, 64);
  OPENSSL_cleanse(k, sizeof k);
  OPENSSL_cleanse(pad, sizeof pad);
}

void hmac_sha256_update(HmacSha256Context* c, const void* data, size_t len) {
  sha256_update(&c->inner, data, len);
}

void hmac_sha256_final(HmacSha256Context* c, uint8_t tag[32]) {
  uint8_t inner[32];
  sha256_final(&c->inner, inner);
  sha256_update(&c->outer, inner, sizeof inner);
  sha256_final(&c->outer, tag);
  OPENSSL_cleanse(inner, sizeof inner);
}

void pbkdf2_sha256(const char* password, const uint8_t* salt, size_t salt_len, uint32_t iterations,
                   uint8_t out[32]) {
  // The keyed state is computed once and copied for every HMAC, which halves
  // the work of the iterations.
  HmacSha256Context keyed;
  hmac_sha256_init(&keyed, password, password ? strlen(password) : 0);

  static const uint8_t block_index[4] = {0, 0, 0, 1};
  HmacSha256Context h = keyed;
  if (salt && salt_len) hmac_sha256_update(&h, salt, salt_len);
  hmac_sha256_update(&h, block_index, sizeof block_index);
  uint8_t u[32];
  hmac_sha256_final(&h, u);
  uint8_t t[32];
  memcpy(t, u, sizeof t);
  for (uint32_t i = 1; i < iterations; i++) {
    h = keyed;
    hmac_sha256_update(&h, u, sizeof u);
    hmac_sha256_final(&h, u);
    for (int j = 0; j < 32; j++) t[j] ^= u[j];
  }
  memcpy(out, t, sizeof t);
  OPENSSL_cleanse(&keyed, sizeof keyed);
  OPENSSL_cleanse(&h, sizeof h);
  OPENSSL_cleanse(u, sizeof u);
  OPENSSL_cleanse(t, sizeof t);
}
