// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the crypto tests: hex parsing and reference primitives
// computed directly with libcrypto, independent of the code under test.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/crypto.h"

inline std::vector<uint8_t> from_hex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string to_hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

inline std::string to_hex(const std::vector<uint8_t>& v) { return to_hex(v.data(), v.size()); }

inline std::vector<uint8_t> ref_sha256(const uint8_t* data, size_t len) {
  std::vector<uint8_t> out(32);
  unsigned int n = 0;
  EVP_Digest(data, len, out.data(), &n, EVP_sha256(), nullptr);
  return out;
}

// AES-256 in ECB or CBC over whole blocks, straight through libcrypto.
inline std::vector<uint8_t> ref_aes256(const uint8_t* key, const uint8_t* iv, const uint8_t* in, size_t len,
                                       bool encrypt) {
  std::vector<uint8_t> out(len + 16);
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(c, iv ? EVP_aes_256_cbc() : EVP_aes_256_ecb(), nullptr, key, iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(c, 0);
  int n = 0;
  EVP_CipherUpdate(c, out.data(), &n, in, int(len));
  EVP_CIPHER_CTX_free(c);
  out.resize(size_t(n));
  return out;
}

// Fixture of cipher tests that must hold on both paths of CipherContext: the
// CPU's AES instructions (where present) and libcrypto. `native` tells which
// path contexts keyed in the test take.
class CipherPaths : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    aes_use_native(true);
    native = aes_use_native(GetParam()) && GetParam();
  }
  void TearDown() override { aes_use_native(true); }
  bool native = false;
};

inline std::string cipher_path_name(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "native" : "libcrypto";
}

#define CIPHER_PATHS(suite)                  \
  class suite : public CipherPaths {};       \
  INSTANTIATE_TEST_SUITE_P(Paths, suite, ::testing::Bool(), cipher_path_name)
