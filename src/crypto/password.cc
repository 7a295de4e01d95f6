// SPDX-License-Identifier: GPL-3.0-or-later
// Password policy check and random password generator over four classes.
#include <openssl/crypto.h>

#include <cstring>
#include <string>

#include "crypto/crypto.h"
#include "support/log.h"

namespace {

// Digits and punctuation repeat characters on purpose: it weights the draw.
const char* const kClasses[4] = {
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
    "abcdefghijklmnopqrstuvwxyz",
    "012345678901234567891459",
    ".,?!'-/:;()$&@\",/;()$&@\"",
};

constexpr int kMaxLength = 128;  // passwords are shorter than this

// Enough for any length that can pass: even length 4 with all four classes
// passes about one draw in eleven.
constexpr int kMaxDraws = 100000;

int class_count(int flags) {
  int n = 0;
  for (int i = 0; i < 4; i++) n += (flags >> i) & 1;
  return n;
}

}  // namespace

int password_check(const char* text, int min_len, int flags) {
  if (!text) return -1;
  size_t len = strlen(text);
  if (len >= size_t(kMaxLength) || (min_len > 0 && len < size_t(min_len))) return -1;
  for (int i = 0; i < 4; i++) {
    if (!(flags & (1 << i))) continue;
    if (strpbrk(text, kClasses[i]) == nullptr) return -1;
  }
  return 0;
}

void password_generate(char* buf, int len, int flags) {
  if (!buf) return;
  buf[0] = '\0';
  flags &= 15;
  if (len <= 0 || len >= kMaxLength || flags == 0) return;
  // Every selected class needs a character of its own; a shorter password
  // can never pass, so leave it empty instead of drawing forever.
  if (len < class_count(flags)) {
    log_message(LOG_WARNING, "password_generate: %d %d", len, flags);
    return;
  }
  std::string alphabet;
  for (int i = 0; i < 4; i++)
    if (flags & (1 << i)) alphabet += kClasses[i];
  const uint64_t n = alphabet.size();
  for (int draw = 0; draw < kMaxDraws; draw++) {
    if (random_bytes(buf, size_t(len)) != 0) break;
    for (int i = 0; i < len; i++) {
      // The byte is read as signed and widened to 64 bits, so a negative byte
      // indexes as 2^64 minus its magnitude: the established draw weighting.
      uint64_t v = uint64_t(int64_t(int8_t(uint8_t(buf[i]))));
      buf[i] = alphabet[size_t(v % n)];
    }
    buf[len] = '\0';
    if (password_check(buf, len, flags) == 0) return;
  }
  log_message(LOG_ERROR, "password_generate: %d %d", len, flags);
  OPENSSL_cleanse(buf, size_t(len) + 1);
  buf[0] = '\0';
}
