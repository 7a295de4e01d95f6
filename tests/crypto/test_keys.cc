// SPDX-License-Identifier: GPL-3.0-or-later
// Our key constructions, each recomputed step by step with plain libcrypto
// calls so that the byte layout of keys, seeds and chaining values is pinned.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "test_util.h"

namespace {

CIPHER_PATHS(DeriveKey);
CIPHER_PATHS(PageCipher);
CIPHER_PATHS(ObjectCipher);
CIPHER_PATHS(KeyCheck);

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++) v[i] = uint8_t(seed * 3 + i * 13 + (i >> 2));
  return v;
}

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Saves and restores master_key around tests that rely on it.
struct MasterKeyGuard {
  uint8_t saved[48];
  MasterKeyGuard() { memcpy(saved, master_key(), 48); }
  ~MasterKeyGuard() { memcpy(master_key(), saved, 48); }
};

std::vector<uint8_t> ref_derive(const std::string& password, const std::vector<uint8_t>& salt, int rounds) {
  auto h = ref_sha256(cat(std::vector<uint8_t>(password.begin(), password.end()), salt).data(),
                      password.size() + salt.size());
  std::vector<uint8_t> x = h;
  for (int i = 0; i < rounds; i++) x = ref_aes256(h.data(), nullptr, x.data(), 32, true);
  return x;
}

TEST_P(DeriveKey, ZeroRoundsIsSha256OfPasswordAndSalt) {
  const std::vector<uint8_t> salt = pattern(16, 1);
  uint8_t out[32];
  derive_key_salted("secret", salt.data(), salt.size(), 0, out);
  EXPECT_EQ(to_hex(out, 32), to_hex(ref_derive("secret", salt, 0)));
  // A zero-length salt is no salt.
  derive_key_salted("secret", salt.data(), 0, 0, out);
  EXPECT_EQ(to_hex(out, 32), "2bb80d537b1da3e38bd30361aa855686bde0eacd7162fef6a25fe97bf527a25b");
}

TEST_P(DeriveKey, RoundsAreEcbUnderTheFixedHash) {
  const std::vector<uint8_t> salt = pattern(7, 2);
  uint8_t out[32];
  derive_key_salted("pässword", salt.data(), salt.size(), 5, out);
  EXPECT_EQ(to_hex(out, 32), to_hex(ref_derive("pässword", salt, 5)));

  derive_key("repository password", out);
  EXPECT_EQ(to_hex(out, 32), to_hex(ref_derive("repository password", {}, 1000)));
}

TEST_P(DeriveKey, ContinueResumesAStartedHash) {
  const std::vector<uint8_t> salt = pattern(16, 3);
  Sha256Context c;
  sha256_init(&c);
  sha256_update(&c, "user", 4);
  sha256_update(&c, "name", 4);
  uint8_t out[32], want[32];
  derive_key_continue(&c, salt.data(), salt.size(), 3, out);
  derive_key_salted("username", salt.data(), salt.size(), 3, want);
  EXPECT_EQ(to_hex(out, 32), to_hex(want, 32));
}

TEST_P(DeriveKey, AbsentOutputWritesMasterKey) {
  MasterKeyGuard guard;
  memset(master_key(), 0x5a, 48);
  derive_key("master", nullptr);
  EXPECT_EQ(to_hex(master_key(), 32), to_hex(ref_derive("master", {}, 1000)));
  EXPECT_EQ(std::vector<uint8_t>(master_key() + 32, master_key() + 48), std::vector<uint8_t>(16, 0x5a))
      << "the salt half is not touched";
}

TEST_P(PageCipher, KeyIsSha256OfKeyWithZeroIv) {
  auto key = pattern(32, 4);
  auto page = pattern(1024, 5);
  auto aes_key = ref_sha256(key.data(), 32);
  auto want = ref_aes256(aes_key.data(), std::vector<uint8_t>(16, 0).data(), page.data(), 1024, true);

  CipherContext ctx;
  ASSERT_EQ(0, page_cipher(&ctx, key.data(), CIPHER_ENCRYPT));
  auto buf = page;
  ASSERT_EQ(1024, cbc_encrypt_inplace(&ctx, buf.data(), buf.size()));
  EXPECT_EQ(buf, want);

  // Re-keying the same context per page starts each page from a zero IV.
  ASSERT_EQ(0, page_cipher(&ctx, key.data(), CIPHER_DECRYPT));
  ASSERT_EQ(1024, cbc_decrypt_inplace(&ctx, buf.data(), buf.size()));
  EXPECT_EQ(buf, page);
  ASSERT_EQ(0, page_cipher(&ctx, key.data(), CIPHER_ENCRYPT));
  ASSERT_EQ(1024, cbc_encrypt_inplace(&ctx, buf.data(), buf.size()));
  EXPECT_EQ(buf, want);
}

TEST_P(PageCipher, AbsentKeyMeansMasterKey) {
  MasterKeyGuard guard;
  auto key = pattern(32, 6);
  memcpy(master_key(), key.data(), 32);
  auto data = pattern(64, 7);
  auto a = data, b = data;
  CipherContext ca, cb;
  ASSERT_EQ(0, page_cipher(&ca, nullptr, CIPHER_ENCRYPT));
  ASSERT_EQ(0, page_cipher(&cb, key.data(), CIPHER_ENCRYPT));
  cbc_encrypt_inplace(&ca, a.data(), a.size());
  cbc_encrypt_inplace(&cb, b.data(), b.size());
  EXPECT_EQ(a, b);
}

TEST_P(ObjectCipher, ConstructionAndChainAcrossBlobs) {
  auto repo_key = pattern(32, 8);
  auto uuid = pattern(16, 9);
  auto hash = pattern(20, 10);
  auto body = pattern(48, 11);
  auto extra = pattern(32, 12);

  // seed = hash || uuid[2..13]; K = ECB_seed(repo key); IV = hash[2..17].
  std::vector<uint8_t> seed(hash.begin(), hash.end());
  seed.insert(seed.end(), uuid.begin() + 2, uuid.begin() + 14);
  ASSERT_EQ(32u, seed.size());
  auto k = ref_aes256(seed.data(), nullptr, repo_key.data(), 32, true);
  std::vector<uint8_t> iv(hash.begin() + 2, hash.begin() + 18);
  auto joined = cat(body, extra);
  auto want = ref_aes256(k.data(), iv.data(), joined.data(), joined.size(), true);

  CipherContext enc;
  ASSERT_EQ(0, object_cipher(&enc, repo_key.data(), uuid.data(), hash.data(), CIPHER_ENCRYPT));
  auto b1 = body, b2 = extra;
  ASSERT_EQ(48, cbc_encrypt_inplace(&enc, b1.data(), b1.size()));
  ASSERT_EQ(32, cbc_encrypt_inplace(&enc, b2.data(), b2.size()));
  EXPECT_EQ(cat(b1, b2), want) << "second blob continues the chain of the first";

  // Deterministic: the same inputs give the same key and stream.
  CipherContext again;
  ASSERT_EQ(0, object_cipher(&again, repo_key.data(), uuid.data(), hash.data(), CIPHER_ENCRYPT));
  auto c1 = body;
  cbc_encrypt_inplace(&again, c1.data(), c1.size());
  EXPECT_EQ(c1, b1);

  CipherContext dec;
  ASSERT_EQ(0, object_cipher(&dec, repo_key.data(), uuid.data(), hash.data(), CIPHER_DECRYPT));
  ASSERT_EQ(48, cbc_decrypt_inplace(&dec, b1.data(), b1.size()));
  ASSERT_EQ(32, cbc_decrypt_inplace(&dec, b2.data(), b2.size()));
  EXPECT_EQ(b1, body);
  EXPECT_EQ(b2, extra);

  // Uuid bytes outside 2..13 do not enter the key; those inside do.
  auto uuid_outer = uuid;
  uuid_outer[0] ^= 1;
  uuid_outer[15] ^= 1;
  auto uuid_inner = uuid;
  uuid_inner[13] ^= 1;
  for (auto* u : {&uuid_outer, &uuid_inner}) {
    CipherContext c;
    ASSERT_EQ(0, object_cipher(&c, repo_key.data(), u->data(), hash.data(), CIPHER_ENCRYPT));
    auto x = body;
    cbc_encrypt_inplace(&c, x.data(), x.size());
    EXPECT_EQ(x == std::vector<uint8_t>(want.begin(), want.begin() + 48), u == &uuid_outer);
  }
}

// Keyed together (up to several groups at once), each version gets exactly
// the cipher it gets alone, in both directions.
TEST_P(ObjectCipher, KeyedTogetherAsAlone) {
  auto repo_key = pattern(32, 20);
  auto body = pattern(64, 21);
  for (int n : {1, 2, 3, 4, 5, 9}) {
    SCOPED_TRACE(n);
    for (int direction : {CIPHER_ENCRYPT, CIPHER_DECRYPT}) {
      std::vector<std::vector<uint8_t>> uuids, hashes;
      for (int j = 0; j < n; j++) {
        uuids.push_back(pattern(16, uint8_t(30 + j)));
        hashes.push_back(pattern(20, uint8_t(60 + j)));
      }
      std::vector<CipherContext> together(static_cast<size_t>(n));
      std::vector<CipherContext*> ctx;
      std::vector<const uint8_t*> u, h;
      for (int j = 0; j < n; j++) {
        ctx.push_back(&together[size_t(j)]);
        u.push_back(uuids[size_t(j)].data());
        h.push_back(hashes[size_t(j)].data());
      }
      ASSERT_EQ(0, object_ciphers(ctx.data(), repo_key.data(), u.data(), h.data(), n, direction));
      for (int j = 0; j < n; j++) {
        CipherContext alone;
        ASSERT_EQ(0, object_cipher(&alone, repo_key.data(), u[size_t(j)], h[size_t(j)], direction));
        auto x = body, y = body;
        if (direction == CIPHER_ENCRYPT) {
          cbc_encrypt_inplace(ctx[size_t(j)], x.data(), x.size());
          cbc_encrypt_inplace(&alone, y.data(), y.size());
        } else {
          cbc_decrypt_inplace(ctx[size_t(j)], x.data(), x.size());
          cbc_decrypt_inplace(&alone, y.data(), y.size());
        }
        EXPECT_EQ(x, y) << j;
      }
    }
  }
}

TEST_P(ObjectCipher, AbsentKeyMeansMasterKeyAndMissingInputsFail) {
  MasterKeyGuard guard;
  auto key = pattern(32, 13);
  memcpy(master_key(), key.data(), 32);
  auto uuid = pattern(16, 14);
  auto hash = pattern(20, 15);
  CipherContext a, b;
  ASSERT_EQ(0, object_cipher(&a, nullptr, uuid.data(), hash.data(), CIPHER_ENCRYPT));
  ASSERT_EQ(0, object_cipher(&b, key.data(), uuid.data(), hash.data(), CIPHER_ENCRYPT));
  EXPECT_EQ(0, memcmp(a.chain, b.chain, 16));
  auto x = pattern(32, 16), y = x;
  cbc_encrypt_inplace(&a, x.data(), x.size());
  cbc_encrypt_inplace(&b, y.data(), y.size());
  EXPECT_EQ(x, y);

  EXPECT_EQ(-1, object_cipher(&a, key.data(), nullptr, hash.data(), CIPHER_ENCRYPT));
  EXPECT_EQ(-1, aes_encrypt(&a, x.data(), x.data(), 16, MODE_CBC)) << "a failed object_cipher leaves it unset";
  EXPECT_EQ(-1, object_cipher(&a, key.data(), uuid.data(), nullptr, CIPHER_ENCRYPT));
  EXPECT_EQ(-1, object_cipher(nullptr, key.data(), uuid.data(), hash.data(), CIPHER_ENCRYPT));
}

TEST_P(KeyCheck, RecordLayoutAndVerification) {
  auto key = pattern(32, 17);
  uint8_t record[64];
  key_check_make(key.data(), record);

  // Independent check: K = ECB_{record[0..31]}(key), R = CBC-decrypt under K
  // with IV record[2..17], and SHA-256(R) = record[0..31].
  auto k = ref_aes256(record, nullptr, key.data(), 32, true);
  auto r = ref_aes256(k.data(), record + 2, record + 32, 32, false);
  EXPECT_EQ(to_hex(ref_sha256(r.data(), 32)), to_hex(record, 32));

  uint8_t copy[64];
  memcpy(copy, record, 64);
  EXPECT_EQ(0, key_check_verify(key.data(), copy));
  EXPECT_EQ(to_hex(copy + 32, 32), to_hex(record, 32)) << "second half becomes SHA-256 of the secret";

  for (int byte : {0, 31}) {
    auto wrong = key;
    wrong[byte] ^= 0x80;
    memcpy(copy, record, 64);
    EXPECT_NE(0, key_check_verify(wrong.data(), copy));
  }
  // A damaged record does not verify either.
  memcpy(copy, record, 64);
  copy[40] ^= 1;
  EXPECT_NE(0, key_check_verify(key.data(), copy));

  // Two records for one key differ (fresh secret) and both verify.
  uint8_t other[64];
  key_check_make(key.data(), other);
  EXPECT_NE(to_hex(other, 64), to_hex(record, 64));
  EXPECT_EQ(0, key_check_verify(key.data(), other));
}

TEST_P(KeyCheck, AbsentKeyMeansMasterKey) {
  MasterKeyGuard guard;
  auto key = pattern(32, 18);
  memcpy(master_key(), key.data(), 32);
  uint8_t record[64];
  key_check_make(nullptr, record);
  uint8_t copy[64];
  memcpy(copy, record, 64);
  EXPECT_EQ(0, key_check_verify(key.data(), copy));
  memcpy(copy, record, 64);
  EXPECT_EQ(0, key_check_verify(nullptr, copy));
  master_key()[5] ^= 1;
  memcpy(copy, record, 64);
  EXPECT_NE(0, key_check_verify(nullptr, copy));
}

TEST(Random, FillsBuffersFromOneCloseOnExecDescriptor) {
  uint8_t a[64] = {}, b[64] = {};
  ASSERT_EQ(0, random_bytes(a, sizeof a));
  ASSERT_EQ(0, random_bytes(b, sizeof b));
  EXPECT_NE(0, memcmp(a, b, sizeof a));
  EXPECT_NE(std::vector<uint8_t>(a, a + 64), std::vector<uint8_t>(64, 0));
  EXPECT_EQ(0, random_bytes(a, 0));

  uint8_t u1[16], u2[16];
  ASSERT_EQ(0, random_uuid(u1));
  ASSERT_EQ(0, random_uuid(u2));
  EXPECT_NE(0, memcmp(u1, u2, 16));

  // Exactly one descriptor on the random device, kept open, close-on-exec.
  int found = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    char target[PATH_MAX] = {};
    if (readlink(entry.path().c_str(), target, sizeof target - 1) < 0) continue;
    std::string t = target;
    if (t != "/dev/urandom" && t != "/dev/random") continue;
    found++;
    int fd = std::stoi(entry.path().filename().string());
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  }
  EXPECT_EQ(1, found);
}

}  // namespace
