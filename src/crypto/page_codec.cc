// SPDX-License-Identifier: GPL-3.0-or-later
// The page cipher: one key schedule per codec, every page from a zero
// chaining value.
#include "crypto/page_codec.h"

#include <openssl/crypto.h>

#include <cstring>

#include "support/log.h"

PageCodec::~PageCodec() { clear(); }

void PageCodec::clear() {
  // Unset, the contexts refuse to run; a libcrypto schedule goes with the
  // next key or the context.
  enc.key_len = 0;
  dec.key_len = 0;
  OPENSSL_cleanse(enc.round_keys, sizeof enc.round_keys);
  OPENSSL_cleanse(dec.round_keys, sizeof dec.round_keys);
  OPENSSL_cleanse(key, sizeof key);
  active = false;
}

int PageCodec::set_key(const uint8_t k[32]) {
  clear();
  if (page_cipher(&enc, k, CIPHER_ENCRYPT) != 0 || page_cipher(&dec, k, CIPHER_DECRYPT) != 0) {
    clear();
    log_message(LOG_ERROR, "page_codec_set_key: cipher");
    return -1;
  }
  memcpy(key, k, 32);
  active = true;
  return 0;
}

// Every page starts from a zero chaining value; the key schedule stays.
int PageCodec::encrypt(const uint8_t* in, uint8_t* out, int len) {
  if (!active || len < 0 || (len & 15)) return -1;
  memset(enc.chain, 0, sizeof enc.chain);
  return aes_encrypt(&enc, in, out, size_t(len), MODE_CBC) == len ? 0 : -1;
}

int PageCodec::decrypt(const uint8_t* in, uint8_t* out, int len) {
  if (!active || len < 0 || (len & 15)) return -1;
  memset(dec.chain, 0, sizeof dec.chain);
  return aes_decrypt(&dec, in, out, size_t(len), MODE_CBC) == len ? 0 : -1;
}

void page_transform(const uint8_t key[32], uint8_t* page, int page_size, int skip, int direction) {
  // One codec per thread, re-keyed only when the key changes.
  thread_local PageCodec codec;
  if (!key || !page || skip < 0 || page_size <= skip || ((page_size - skip) & 15)) {
    log_message(LOG_ERROR, "page_transform: %d %d", page_size, skip);
    return;
  }
  if (!codec.keyed() || CRYPTO_memcmp(codec.key, key, 32) != 0) {
    if (codec.set_key(key) != 0) return;
  }
  int rc = direction == 0 ? codec.encrypt(page + skip, page + skip, page_size - skip)
                          : codec.decrypt(page + skip, page + skip, page_size - skip);
  if (rc != 0) log_message(LOG_ERROR, "page_transform: cipher");
}
