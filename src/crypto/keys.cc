// SPDX-License-Identifier: GPL-3.0-or-later
// Our constructions on top of the primitives: the password-to-key function,
// the page and object ciphers and the key check record.
#include <openssl/crypto.h>

#include <cstring>

#include "crypto/crypto.h"
#include "support/log.h"

uint8_t* master_key() {
  static uint8_t key[kMasterKeySize];
  return key;
}

namespace {

// Per-thread context for the short-lived seed ciphers, so that keying one
// stored object allocates nothing. Wiped (or re-keyed with zeros) after each
// use so no schedule outlives the call.
CipherContext& scratch_context() {
  thread_local CipherContext ctx;
  return ctx;
}

void scratch_release() {
  CipherContext& sc = scratch_context();
  if (sc.native) {
    // The schedule lives in the context: wiping it is enough.
    OPENSSL_cleanse(sc.round_keys, sizeof sc.round_keys);
    sc.key_len = 0;
    return;
  }
  static const uint8_t zero_key[32] = {};
  aes_set_key(&sc, zero_key, 32, nullptr, CIPHER_ENCRYPT);
}

// K = AES-256-ECB(key) under `seed`: the key of one object or key check.
int object_key(const uint8_t seed[32], const uint8_t key[32], uint8_t out[32]) {
  CipherContext& sc = scratch_context();
  int rc = -1;
  if (aes_set_key(&sc, seed, 32, nullptr, CIPHER_ENCRYPT) == 0 && aes_encrypt(&sc, key, out, 32, MODE_ECB) == 32)
    rc = 0;
  scratch_release();
  return rc;
}

}  // namespace

void derive_key_continue(Sha256Context* ctx, const uint8_t* salt, size_t salt_len, int rounds, uint8_t* out) {
  if (!ctx) return;
  uint8_t* dst = out ? out : master_key();
  if (salt && salt_len) sha256_update(ctx, salt, salt_len);
  uint8_t h[32];
  sha256_final(ctx, h);
  memcpy(dst, h, sizeof h);
  if (rounds > 0) {
    CipherContext c;
    if (aes_set_key(&c, h, 32, nullptr, CIPHER_ENCRYPT) != 0) {
      log_message(LOG_ERROR, "derive_key_continue: %d", rounds);
    } else {
      for (int i = 0; i < rounds; i++) aes_encrypt(&c, dst, dst, 32, MODE_ECB);
    }
  }
  OPENSSL_cleanse(h, sizeof h);
}

void derive_key_salted(const char* password, const uint8_t* salt, size_t salt_len, int rounds, uint8_t* out) {
  Sha256Context c;
  sha256_init(&c);
  if (password) sha256_update(&c, password, strlen(password));
  derive_key_continue(&c, salt, salt_len, rounds, out);
}

void derive_key(const char* password, uint8_t* out) { derive_key_salted(password, nullptr, 0, 1000, out); }

int page_cipher(CipherContext* ctx, const uint8_t* key, int direction) {
  if (!ctx) return -1;
  uint8_t k[32];
  sha256(k, key ? key : master_key(), 32);
  int rc = aes_set_key(ctx, k, 32, nullptr, direction);
  OPENSSL_cleanse(k, sizeof k);
  return rc;
}

namespace {

// The seed of a version's object key: its hash, then bytes 2..13 of its uuid.
void object_seed(const uint8_t uuid[16], const uint8_t hash[20], uint8_t seed[32]) {
  memcpy(seed, hash, 20);
  memcpy(seed + 20, uuid + 2, 12);
}

}  // namespace

int object_cipher(CipherContext* ctx, const uint8_t* key, const uint8_t uuid[16], const uint8_t hash[20],
                  int direction) {
  if (!ctx) return -1;
  ctx->key_len = 0;
  if (!uuid || !hash) return -1;
  // The seed is the stored hash and uuid, nothing secret.
  uint8_t seed[1][32];
  object_seed(uuid, hash, seed[0]);
  const uint8_t* iv[1] = {hash + 2};
  if (aes_set_derived_keys(&ctx, seed, key ? key : master_key(), iv, 1, direction)) return 0;
  uint8_t k[32];
  int rc = object_key(seed[0], key ? key : master_key(), k);
  if (rc == 0) rc = aes_set_key(ctx, k, 32, hash + 2, direction);
  if (rc != 0) log_message(LOG_ERROR, "object_cipher: %d", direction);
  OPENSSL_cleanse(k, sizeof k);
  return rc;
}

int object_ciphers(CipherContext* const ctx[], const uint8_t* key, const uint8_t* const uuid[],
                   const uint8_t* const hash[], int n, int direction) {
  int rc = 0;
  for (int done = 0; done < n;) {
    // Every stored version has its own key: a mount keys thousands, and
    // the schedules overlap when made together.
    int m = n - done < kDerivedKeysAtOnce ? n - done : kDerivedKeysAtOnce;
    uint8_t seeds[kDerivedKeysAtOnce][32];
    const uint8_t* iv[kDerivedKeysAtOnce];
    bool ok = true;
    for (int j = 0; j < m; j++) {
      ok = ok && ctx[done + j] && uuid[done + j] && hash[done + j];
      if (!ok) break;
      ctx[done + j]->key_len = 0;
      object_seed(uuid[done + j], hash[done + j], seeds[j]);
      iv[j] = hash[done + j] + 2;
    }
    if (!ok || !aes_set_derived_keys(ctx + done, seeds, key ? key : master_key(), iv, m, direction)) {
      for (int j = 0; j < m; j++)
        if (object_cipher(ctx[done + j], key, uuid[done + j], hash[done + j], direction) != 0) rc = -1;
    }
    done += m;
  }
  return rc;
}

void key_check_make(const uint8_t* key, uint8_t record[64]) {
  if (!record) return;
  uint8_t* secret = record + 32;
  memset(secret, 0, 32);
  if (random_bytes(secret, 32) != 0) log_message(LOG_ERROR, "key_check_make: no random source");
  sha256(record, secret, 32);
  uint8_t k[32];
  CipherContext c;
  if (object_key(record, key ? key : master_key(), k) != 0 || aes_set_key(&c, k, 32, record + 2, CIPHER_ENCRYPT) != 0 ||
      cbc_encrypt_inplace(&c, secret, 32) != 32) {
    log_message(LOG_ERROR, "key_check_make: cipher");
    // A record that can never verify rather than one holding the secret.
    memset(record, 0, 64);
  }
  OPENSSL_cleanse(k, sizeof k);
}

int key_check_verify(const uint8_t* key, uint8_t record[64]) {
  if (!record) return -1;
  uint8_t* secret = record + 32;
  uint8_t k[32];
  CipherContext c;
  int rc = -1;
  if (object_key(record, key ? key : master_key(), k) == 0 && aes_set_key(&c, k, 32, record + 2, CIPHER_DECRYPT) == 0 &&
      cbc_decrypt_inplace(&c, secret, 32) == 32) {
    uint8_t h[32];
    sha256(h, secret, 32);
    memcpy(secret, h, 32);
    OPENSSL_cleanse(h, sizeof h);
    rc = CRYPTO_memcmp(record, secret, 32) == 0 ? 0 : 1;
  } else {
    log_message(LOG_ERROR, "key_check_verify: cipher");
  }
  OPENSSL_cleanse(k, sizeof k);
  return rc;
}
