// SPDX-License-Identifier: GPL-3.0-or-later
// The page cipher of encrypted databases: AES-256-CBC per page with a zero
// chaining value, as the storage layer's VFS and the password change apply it
// to every page of a file.
#pragma once

#include <cstdint>

#include "crypto/crypto.h"

// Transform of one page as stored: encrypt (direction 0) or decrypt (1)
// page_size bytes from `skip` on, AES-256-CBC keyed by SHA-256 of key, zero IV.
void page_transform(const uint8_t key[32], uint8_t* page, int page_size, int skip, int direction);

// AES-256-CBC with the key schedule of SHA-256(key) prepared once; every call
// starts again from a zero chaining value. Owns two cipher contexts (the key
// wiped on destruction); not copyable.
struct PageCodec {
  PageCodec() = default;
  ~PageCodec();
  PageCodec(const PageCodec&) = delete;
  PageCodec& operator=(const PageCodec&) = delete;

  // 0, or -1 when the cipher cannot be keyed (the codec is then unkeyed).
  int set_key(const uint8_t key[32]);
  void clear();
  bool keyed() const { return active; }
  // len a multiple of 16; in and out may be equal. 0, or -1.
  int encrypt(const uint8_t* in, uint8_t* out, int len);
  int decrypt(const uint8_t* in, uint8_t* out, int len);

  CipherContext enc;
  CipherContext dec;
  uint8_t key[32] = {};  // the database key as given (not its hash)
  bool active = false;
};
