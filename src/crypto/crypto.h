// SPDX-License-Identifier: GPL-3.0-or-later
// AES-CBC/ECB, SHA-1, SHA-256, HMAC-SHA-256, PBKDF2, our key derivation and
// key checks, and the random source. Primitives come from libcrypto; the ways
// keys, chaining values and salts are put together are ours.
#pragma once

#include <cstddef>
#include <cstdint>

struct evp_cipher_ctx_st;

enum { CIPHER_ENCRYPT = 0, CIPHER_DECRYPT = 1 };
enum { MODE_ECB = 0, MODE_CBC = 1 };

// AES key and a chaining value that carries across calls, so consecutive CBC
// calls on one context form one stream. On CPUs with AES instructions 128- and
// 256-bit keys are scheduled into the context itself (re-keying costs a few
// dozen cycles, which matters when every stored object has its own key);
// otherwise a libcrypto context is allocated by the first aes_set_key and
// reused by every later one (re-keying with the same key length allocates
// nothing), so keep a context per long-lived owner (a page codec, a
// connection) rather than one per page. Released and the key wiped on
// destruction; not copyable.
struct CipherContext {
  CipherContext();
  ~CipherContext();
  CipherContext(const CipherContext&) = delete;
  CipherContext& operator=(const CipherContext&) = delete;

  alignas(16) uint8_t round_keys[240] = {};  // in the key's direction, when `native`
  bool native = false;                       // round_keys in use instead of evp
  evp_cipher_ctx_st* evp = nullptr;          // AES-CBC in the key's direction
  int evp_key_len = 0;               // key length of the cipher loaded in evp
  bool evp_iv_valid = false;         // evp_iv mirrors libcrypto's running IV
  uint8_t evp_iv[16] = {};           // (saves re-setting it on every call)
  int key_len = 0;                   // 0 while unset (cipher calls then fail)
  int rounds = 0;
  int direction = CIPHER_ENCRYPT;
  uint8_t chain[16] = {};
};

// key_len 16, 24 or 32; iv absent means 16 zero bytes. 0, or -1.
int aes_set_key(CipherContext* ctx, const uint8_t* key, int key_len, const uint8_t* iv, int direction);
// Keys ctx[j] (j < n, n at most kDerivedKeysAtOnce) with the AES-256 key
// that AES-256-ECB under seeds[j] makes of `secret` (two blocks), chaining
// value iv[j], without the derived keys ever being stored; the schedules run
// side by side. False, with the contexts untouched, when the CPU's AES
// instructions are not in use: the caller then derives the keys itself.
constexpr int kDerivedKeysAtOnce = 4;
bool aes_set_derived_keys(CipherContext* const ctx[], const uint8_t (*seeds)[32], const uint8_t secret[32],
                          const uint8_t* const iv[], int n, int direction);
// Output length (length rounded up to 16), 0 for 0, -1 on misuse. A partial
// last block is zero-filled and does not advance the chaining value.
long aes_encrypt(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len, int mode);
// len must be a multiple of 16. Returns len, 0 for 0, -1 on misuse.
long aes_decrypt(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len, int mode);
long cbc_encrypt_inplace(CipherContext* ctx, uint8_t* buf, size_t len);
long cbc_decrypt_inplace(CipherContext* ctx, uint8_t* buf, size_t len);
// With false, contexts keyed from then on use libcrypto even where the CPU
// has AES instructions, so tests can check both paths; a context keeps the
// path it was keyed on until its next aes_set_key. Returns whether the native
// path was in use before the call (always false without AES instructions).
bool aes_use_native(bool use);

struct Sha1Context {
  uint32_t h[5];
  uint64_t count;
  uint8_t block[64];
};
void sha1_init(Sha1Context* c);
void sha1_update(Sha1Context* c, const void* data, size_t len);
void sha1_final(Sha1Context* c, uint8_t digest[20]);
void sha1(uint8_t digest[20], const void* data, size_t len);

struct Sha256Context {
  uint32_t h[8];
  uint64_t count;
  uint8_t block[64];
};
void sha256_init(Sha256Context* c);
void sha256_update(Sha256Context* c, const void* data, size_t len);
void sha256_final(Sha256Context* c, uint8_t digest[32]);
void sha256(uint8_t digest[32], const void* data, size_t len);
// SHA-256 runs on the CPU's SHA extensions when present. Tests force the
// portable code with true so both paths get checked; returns whether the
// extensions are present.
bool sha256_use_portable(bool portable);

struct HmacSha256Context {
  Sha256Context inner;
  Sha256Context outer;
};
void hmac_sha256_init(HmacSha256Context* c, const void* key, size_t key_len);
void hmac_sha256_update(HmacSha256Context* c, const void* data, size_t len);
void hmac_sha256_final(HmacSha256Context* c, uint8_t tag[32]);

// One output block (32 bytes) of PBKDF2-HMAC-SHA-256.
void pbkdf2_sha256(const char* password, const uint8_t* salt, size_t salt_len, uint32_t iterations,
                   uint8_t out[32]);

// The process's master key, kMasterKeySize bytes: 0..31 the key derived from
// the master password, 32..47 the salt of the configuration database. Never
// written to disk as such.
constexpr size_t kMasterKeySize = 48;
uint8_t* master_key();

// Our password-to-key function: SHA-256(password || salt), then `rounds`
// AES-256-ECB encryptions of the 32 bytes under that hash. out absent = master_key.
void derive_key_salted(const char* password, const uint8_t* salt, size_t salt_len, int rounds, uint8_t* out);
void derive_key_continue(Sha256Context* ctx, const uint8_t* salt, size_t salt_len, int rounds, uint8_t* out);
// derive_key_salted without salt, 1000 rounds (repository keys).
void derive_key(const char* password, uint8_t* out);

// AES-256 keyed with SHA-256 of the 32 key bytes (absent = master_key), zero
// chaining value: database pages, config blobs, transfers, the connection.
int page_cipher(CipherContext* ctx, const uint8_t* key, int direction);
// The key of one stored version: object key from (hash, uuid) and the
// repository key, chaining value from the hash. 0, or -1.
int object_cipher(CipherContext* ctx, const uint8_t* key, const uint8_t uuid[16], const uint8_t hash[20],
                  int direction);
// object_cipher for n stored versions at once (a bulk read): 0 when every
// context is keyed, else -1.
int object_ciphers(CipherContext* const ctx[], const uint8_t* key, const uint8_t* const uuid[],
                   const uint8_t* const hash[], int n, int direction);

// 64-byte record proving a key without storing it.
void key_check_make(const uint8_t* key, uint8_t record[64]);
// 0 when the key matches; the second half of record is overwritten.
int key_check_verify(const uint8_t* key, uint8_t record[64]);

// Operating system randomness: 0, or -1 when no source can be opened or read.
int random_bytes(void* buf, size_t len);
int random_uuid(uint8_t uuid[16]);

// Password policy and generator; flags 1 upper, 2 lower, 4 digits, 8 punctuation.
int password_check(const char* text, int min_len, int flags);
void password_generate(char* buf, int len, int flags);
