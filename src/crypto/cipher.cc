// AES in CBC and ECB modes on a context whose chaining value carries across
// calls. The block work is done by libcrypto's AES-CBC (hardware accelerated).
// The chaining value is ours and lives in the context; libcrypto's running IV
// is reset to it whenever the two differ, which keeps the partial-block rule
// (the chaining value does not advance) in our hands.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>

#include "crypto/crypto.h"
#include "support/log.h"

namespace {

const uint8_t kZeroBlock[16] = {};

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
  return ctx->key_len != 0 && ctx->evp && ctx->direction == direction;
}

}  // namespace

CipherContext::CipherContext() = default;

CipherContext::~CipherContext() {
  // Freeing the libcrypto context clears its key schedule.
  EVP_CIPHER_CTX_free(evp);
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

long aes_encrypt(CipherContext* ctx, const uint8_t* in, uint8_t* out, size_t len, int mode) {
  if (!ctx || !in || !out || (mode != MODE_ECB && mode != MODE_CBC) || len > size_t(LONG_MAX) - 15) return -1;
  if (len == 0) return 0;
  if (!usable(ctx, CIPHER_ENCRYPT)) return -1;
  size_t whole = len & ~size_t(15);
  size_t rest = len - whole;
  uint8_t work[16];
  bool ok = true;
  if (mode == MODE_CBC) {
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
  if (mode == MODE_CBC) {
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
