// SPDX-License-Identifier: GPL-3.0-or-later
// A throw-away Ed25519 release key for tests: signs packages the way the
// release process does and hands out the public key the client checks with.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

struct ReleaseSigner {
  EVP_PKEY* key = nullptr;
  uint8_t pub[32] = {};
  ReleaseSigner() {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    EVP_PKEY_keygen_init(ctx);
    EVP_PKEY_keygen(ctx, &key);
    EVP_PKEY_CTX_free(ctx);
    size_t n = sizeof pub;
    EVP_PKEY_get_raw_public_key(key, pub, &n);
  }
  ~ReleaseSigner() { EVP_PKEY_free(key); }
  ReleaseSigner(const ReleaseSigner&) = delete;
  ReleaseSigner& operator=(const ReleaseSigner&) = delete;

  std::string sign(const std::string& msg) const {
    std::string sig(64, '\0');
    size_t n = sig.size();
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    EVP_DigestSignInit(c, nullptr, nullptr, nullptr, key);
    EVP_DigestSign(c, reinterpret_cast<uint8_t*>(&sig[0]), &n, reinterpret_cast<const uint8_t*>(msg.data()),
                   msg.size());
    EVP_MD_CTX_free(c);
    return sig;
  }
  // Writes dir/package and, unless signature is null, dir/package.sig.
  static void publish(const std::string& dir, const std::string& package, const std::string& bytes,
                      const std::string* signature) {
    std::ofstream(dir + "/" + package, std::ios::binary) << bytes;
    if (signature) std::ofstream(dir + "/" + package + ".sig", std::ios::binary) << *signature;
  }
};
