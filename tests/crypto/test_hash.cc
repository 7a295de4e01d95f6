// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "test_util.h"

namespace {

const std::string kMsg448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

std::string sha1_hex(const std::string& s) {
  uint8_t d[20];
  sha1(d, s.data(), s.size());
  return to_hex(d, 20);
}

std::string sha256_hex(const std::string& s) {
  uint8_t d[32];
  sha256(d, s.data(), s.size());
  return to_hex(d, 32);
}

TEST(Sha, Sha1KnownAnswers) {
  EXPECT_EQ(sha1_hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(sha1_hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1_hex(kMsg448), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  // One million 'a', fed in uneven pieces to cross block boundaries.
  Sha1Context c;
  sha1_init(&c);
  std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left) {
    size_t n = std::min(left, chunk.size());
    sha1_update(&c, chunk.data(), n);
    left -= n;
  }
  uint8_t d[20];
  sha1_final(&c, d);
  EXPECT_EQ(to_hex(d, 20), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha, Sha256KnownAnswers) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex(kMsg448), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  Sha256Context c;
  sha256_init(&c);
  std::string chunk(1001, 'a');
  size_t left = 1000000;
  while (left) {
    size_t n = std::min(left, chunk.size());
    sha256_update(&c, chunk.data(), n);
    left -= n;
  }
  uint8_t d[32];
  sha256_final(&c, d);
  EXPECT_EQ(to_hex(d, 32), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Every length around the padding boundaries, hashed whole and byte by byte,
// against libcrypto's digests.
void check_every_length_and_split() {
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); i++) data[i] = uint8_t(i * 7 + 3);
  for (size_t len = 0; len <= data.size(); len++) {
    uint8_t want1[20], want256[32];
    unsigned int n = 0;
    EVP_Digest(data.data(), len, want1, &n, EVP_sha1(), nullptr);
    EVP_Digest(data.data(), len, want256, &n, EVP_sha256(), nullptr);

    uint8_t got1[20], got256[32];
    sha1(got1, data.data(), len);
    sha256(got256, data.data(), len);
    ASSERT_EQ(0, memcmp(got1, want1, 20)) << len;
    ASSERT_EQ(0, memcmp(got256, want256, 32)) << len;

    // The contexts, fed the whole buffer at once after a 3-byte start, and
    // then byte by byte.
    Sha1Context c1;
    Sha256Context c256;
    size_t head = std::min<size_t>(len, 3);
    sha1_init(&c1);
    sha256_init(&c256);
    sha1_update(&c1, data.data(), head);
    sha256_update(&c256, data.data(), head);
    sha1_update(&c1, data.data() + head, len - head);
    sha256_update(&c256, data.data() + head, len - head);
    sha1_final(&c1, got1);
    sha256_final(&c256, got256);
    ASSERT_EQ(0, memcmp(got1, want1, 20)) << len;
    ASSERT_EQ(0, memcmp(got256, want256, 32)) << len;

    sha1_init(&c1);
    sha256_init(&c256);
    for (size_t i = 0; i < len; i++) {
      sha1_update(&c1, &data[i], 1);
      sha256_update(&c256, &data[i], 1);
    }
    sha1_final(&c1, got1);
    sha256_final(&c256, got256);
    ASSERT_EQ(0, memcmp(got1, want1, 20)) << len;
    ASSERT_EQ(0, memcmp(got256, want256, 32)) << len;
  }
}

// Both SHA-256 block functions (hardware extensions and portable).
class ShaPaths : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    bool have_ni = sha256_use_portable(GetParam());
    if (!GetParam() && !have_ni) GTEST_SKIP() << "no SHA extensions on this CPU";
  }
  void TearDown() override { sha256_use_portable(false); }
};

TEST_P(ShaPaths, MatchesLibcryptoAtEveryLengthAndSplit) { check_every_length_and_split(); }

TEST_P(ShaPaths, Sha256MillionA) {
  EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(sha256_hex(kMsg448), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

INSTANTIATE_TEST_SUITE_P(BlockFunction, ShaPaths, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Portable" : "Hardware"; });

std::string hmac_hex(const std::vector<uint8_t>& key, const std::string& data) {
  HmacSha256Context c;
  hmac_sha256_init(&c, key.data(), key.size());
  hmac_sha256_update(&c, data.data(), data.size());
  uint8_t tag[32];
  hmac_sha256_final(&c, tag);
  return to_hex(tag, 32);
}

TEST(Hmac, Rfc4231) {
  EXPECT_EQ(hmac_hex(std::vector<uint8_t>(20, 0x0b), "Hi There"),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(hmac_hex({'J', 'e', 'f', 'e'}, "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(hmac_hex(std::vector<uint8_t>(20, 0xaa), std::string(50, '\xdd')),
            "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
  EXPECT_EQ(hmac_hex(from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd')),
            "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
  EXPECT_EQ(hmac_hex(std::vector<uint8_t>(20, 0x0c), "Test With Truncation").substr(0, 32),
            "a3b6167473100ee06e0c796c2955552b");
  // Keys longer than the block are hashed first.
  EXPECT_EQ(hmac_hex(std::vector<uint8_t>(131, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First"),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  EXPECT_EQ(hmac_hex(std::vector<uint8_t>(131, 0xaa),
                     "This is a test using a larger than block-size key and a larger than block-size data. The key "
                     "needs to be hashed before being used by the HMAC algorithm."),
            "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
}

TEST(Pbkdf2, Rfc7914FirstBlock) {
  uint8_t out[32];
  const std::string salt1 = "salt";
  pbkdf2_sha256("passwd", reinterpret_cast<const uint8_t*>(salt1.data()), salt1.size(), 1, out);
  EXPECT_EQ(to_hex(out, 32), "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc");
  const std::string salt2 = "NaCl";
  pbkdf2_sha256("Password", reinterpret_cast<const uint8_t*>(salt2.data()), salt2.size(), 80000, out);
  EXPECT_EQ(to_hex(out, 32), "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56");
}

TEST(Pbkdf2, OneIterationIsFirstHmacAndMatchesLibcrypto) {
  const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  uint8_t out[32];
  pbkdf2_sha256("master password", salt, sizeof salt, 1, out);

  HmacSha256Context c;
  const char* pw = "master password";
  hmac_sha256_init(&c, pw, strlen(pw));
  hmac_sha256_update(&c, salt, sizeof salt);
  const uint8_t index[4] = {0, 0, 0, 1};
  hmac_sha256_update(&c, index, 4);
  uint8_t u1[32];
  hmac_sha256_final(&c, u1);
  EXPECT_EQ(to_hex(out, 32), to_hex(u1, 32));

  // The configuration database's iteration count, against libcrypto.
  pbkdf2_sha256(pw, salt, sizeof salt, 20002, out);
  uint8_t want[32];
  PKCS5_PBKDF2_HMAC(pw, int(strlen(pw)), salt, sizeof salt, 20002, EVP_sha256(), 32, want);
  EXPECT_EQ(to_hex(out, 32), to_hex(want, 32));
}

}  // namespace
