// SPDX-License-Identifier: GPL-3.0-or-later
// Big-endian integers in byte buffers: frame lengths on the wire, page
// header fields, hash words.
#pragma once

#include <cstdint>

inline uint32_t get_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void put_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

inline void put_be64(uint8_t* p, uint64_t v) {
  put_be32(p, uint32_t(v >> 32));
  put_be32(p + 4, uint32_t(v));
}
