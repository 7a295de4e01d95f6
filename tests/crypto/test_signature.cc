// SPDX-License-Identifier: GPL-3.0-or-later
// Ed25519 verification against keys and signatures made by libcrypto here.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "crypto/signature.h"

namespace {

struct TestKey {
  EVP_PKEY* key = nullptr;
  uint8_t pub[32] = {};
  TestKey() {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    EVP_PKEY_keygen_init(ctx);
    EVP_PKEY_keygen(ctx, &key);
    EVP_PKEY_CTX_free(ctx);
    size_t n = sizeof pub;
    EVP_PKEY_get_raw_public_key(key, pub, &n);
  }
  ~TestKey() { EVP_PKEY_free(key); }
  std::vector<uint8_t> sign(const std::string& msg) const {
    std::vector<uint8_t> sig(64);
    size_t n = sig.size();
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    EVP_DigestSignInit(c, nullptr, nullptr, nullptr, key);
    EVP_DigestSign(c, sig.data(), &n, reinterpret_cast<const uint8_t*>(msg.data()), msg.size());
    EVP_MD_CTX_free(c);
    return sig;
  }
};

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

TEST(Signature, AcceptsOnlyTheSignedMessageUnderItsKey) {
  TestKey k, other;
  std::string msg = "package bytes \x01\x02";
  std::vector<uint8_t> sig = k.sign(msg);
  EXPECT_EQ(0, ed25519_verify(k.pub, bytes(msg), msg.size(), sig.data()));
  EXPECT_EQ(-1, ed25519_verify(other.pub, bytes(msg), msg.size(), sig.data()));

  std::string changed = msg;
  changed.back() ^= 1;
  EXPECT_EQ(-1, ed25519_verify(k.pub, bytes(changed), changed.size(), sig.data()));
  EXPECT_EQ(-1, ed25519_verify(k.pub, bytes(msg), msg.size() - 1, sig.data()));

  sig[10] ^= 0x40;
  EXPECT_EQ(-1, ed25519_verify(k.pub, bytes(msg), msg.size(), sig.data()));

  std::vector<uint8_t> zero(64, 0);
  EXPECT_EQ(-1, ed25519_verify(k.pub, bytes(msg), msg.size(), zero.data()));
  EXPECT_EQ(-1, ed25519_verify(nullptr, bytes(msg), msg.size(), sig.data()));
}

TEST(Signature, EmptyMessage) {
  TestKey k;
  std::vector<uint8_t> sig = k.sign("");
  EXPECT_EQ(0, ed25519_verify(k.pub, nullptr, 0, sig.data()));
  EXPECT_EQ(-1, ed25519_verify(k.pub, bytes("x"), 1, sig.data()));
}
