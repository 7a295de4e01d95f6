// SPDX-License-Identifier: GPL-3.0-or-later
// Wiping secrets: passwords, keys and plaintext bodies are overwritten in a
// way the compiler may not drop before their memory is released or reused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

void wipe(void* p, size_t n);
// Overwrites the characters, then empties the string.
void wipe(std::string* s);
void wipe(std::vector<uint8_t>* v);
void wipe(std::vector<std::string>* v);

// Wipes a caller's buffer when the scope ends, on every path.
struct WipeOnExit {
  void* p;
  size_t n;
  WipeOnExit(void* ptr, size_t size) : p(ptr), n(size) {}
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;
  ~WipeOnExit() { wipe(p, n); }
};

// A fixed secret buffer, zeroed at first and wiped when it goes.
template <size_t N>
struct Secret {
  uint8_t b[N] = {};
  Secret() = default;
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { wipe(b, N); }
};

// A plaintext byte buffer wiped when it goes.
struct WipedBytes {
  std::vector<uint8_t> v;
  WipedBytes() = default;
  explicit WipedBytes(std::vector<uint8_t> bytes) : v(std::move(bytes)) {}
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  ~WipedBytes() { wipe(&v); }
};
