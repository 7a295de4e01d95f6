// SPDX-License-Identifier: GPL-3.0-or-later
// The strength estimate of a typed password.
#include "crypto/password_strength.h"

#include <cmath>
#include <cstdint>

int password_bits(const char* text) {
  if (!text || !*text) return 0;
  bool upper = false, lower = false, digit = false, punct = false, other = false;
  int chars = 0;
  uint32_t prev = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
    uint32_t c = *p;
    int n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    for (int i = 1; i < n && p[i]; i++) c = (c << 8) | p[i];
    for (int i = 0; i < n && *p; i++) p++;
    if (c >= 'A' && c <= 'Z') upper = true;
    else if (c >= 'a' && c <= 'z') lower = true;
    else if (c >= '0' && c <= '9') digit = true;
    else if (c >= 0x20 && c < 0x7F) punct = true;
    else other = true;
    // "aaaaaaaa" is barely stronger than "a".
    if (chars == 0 || c != prev) chars++;
    prev = c;
  }
  int pool = (upper ? 26 : 0) + (lower ? 26 : 0) + (digit ? 10 : 0) + (punct ? 33 : 0) + (other ? 100 : 0);
  return static_cast<int>(chars * std::log2(static_cast<double>(pool)));
}

int password_level(int bits) {
  if (bits < 28) return 0;
  if (bits < 36) return 1;
  if (bits < 60) return 2;
  if (bits < 128) return 3;
  return 4;
}
