// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "test_util.h"

namespace {

CIPHER_PATHS(Aes);
CIPHER_PATHS(Cbc);
CIPHER_PATHS(Ecb);

const char* const kPlain = "00112233445566778899aabbccddeeff";

struct Fips197Case {
  const char* key;
  const char* cipher;
};

const Fips197Case kFips197[] = {
    {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
};

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++) v[i] = uint8_t(seed + i * 31 + (i >> 3));
  return v;
}

// One context re-keyed across all key lengths and both directions, so that
// re-keying in place is exercised together with the known answers.
TEST_P(Aes, Fips197EcbAndCbcOnOneContext) {
  CipherContext ctx;
  for (int mode : {MODE_ECB, MODE_CBC}) {
    for (const auto& tc : kFips197) {
      auto key = from_hex(tc.key);
      auto plain = from_hex(kPlain);
      uint8_t buf[16];
      ASSERT_EQ(0, aes_set_key(&ctx, key.data(), int(key.size()), nullptr, CIPHER_ENCRYPT));
      EXPECT_EQ(ctx.rounds, int(key.size()) / 4 + 6);
      EXPECT_EQ(ctx.native, native && key.size() != 24);
      ASSERT_EQ(16, aes_encrypt(&ctx, plain.data(), buf, 16, mode));
      EXPECT_EQ(to_hex(buf, 16), tc.cipher) << key.size() << " mode " << mode;
      ASSERT_EQ(0, aes_set_key(&ctx, key.data(), int(key.size()), nullptr, CIPHER_DECRYPT));
      ASSERT_EQ(16, aes_decrypt(&ctx, buf, buf, 16, mode));
      EXPECT_EQ(to_hex(buf, 16), kPlain);
    }
  }
}

// NIST SP 800-38A F.2.1/F.2.2: four-block CBC with an IV, through the
// in-place helpers.
TEST_P(Aes, Sp80038aCbc) {
  auto key = from_hex("2b7e151628aed2a6abf7158809cf4f3c");
  auto iv = from_hex("000102030405060708090a0b0c0d0e0f");
  const std::string plain =
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17"
      "ad2b417be66c3710";
  const std::string cipher =
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09"
      "120eca307586e1a7";
  auto buf = from_hex(plain);
  CipherContext ctx;
  ASSERT_EQ(0, aes_set_key(&ctx, key.data(), 16, iv.data(), CIPHER_ENCRYPT));
  ASSERT_EQ(64, cbc_encrypt_inplace(&ctx, buf.data(), buf.size()));
  EXPECT_EQ(to_hex(buf), cipher);
  EXPECT_EQ(to_hex(ctx.chain, 16), cipher.substr(96));
  ASSERT_EQ(0, aes_set_key(&ctx, key.data(), 16, iv.data(), CIPHER_DECRYPT));
  ASSERT_EQ(64, cbc_decrypt_inplace(&ctx, buf.data(), buf.size()));
  EXPECT_EQ(to_hex(buf), plain);
}

TEST_P(Aes, MisuseIsRefused) {
  CipherContext ctx;
  uint8_t key[32] = {}, buf[32] = {};
  EXPECT_EQ(-1, aes_encrypt(&ctx, buf, buf, 16, MODE_CBC)) << "unset context";
  EXPECT_EQ(-1, aes_set_key(nullptr, key, 32, nullptr, CIPHER_ENCRYPT));
  EXPECT_EQ(-1, aes_set_key(&ctx, nullptr, 32, nullptr, CIPHER_ENCRYPT));
  EXPECT_EQ(-1, aes_set_key(&ctx, key, 20, nullptr, CIPHER_ENCRYPT));
  EXPECT_EQ(-1, aes_set_key(&ctx, key, 32, nullptr, 2));

  ASSERT_EQ(0, aes_set_key(&ctx, key, 32, nullptr, CIPHER_ENCRYPT));
  EXPECT_EQ(0, aes_encrypt(&ctx, buf, buf, 0, MODE_CBC));
  EXPECT_EQ(-1, aes_encrypt(&ctx, nullptr, buf, 16, MODE_CBC));
  EXPECT_EQ(-1, aes_encrypt(&ctx, buf, nullptr, 16, MODE_CBC));
  EXPECT_EQ(-1, aes_encrypt(&ctx, buf, buf, 16, 2));
  EXPECT_EQ(-1, aes_decrypt(&ctx, buf, buf, 16, MODE_CBC)) << "context keyed for the other direction";

  // A failed re-key leaves the context unusable rather than on its old key.
  EXPECT_EQ(-1, aes_set_key(&ctx, key, 17, nullptr, CIPHER_ENCRYPT));
  EXPECT_EQ(-1, aes_encrypt(&ctx, buf, buf, 16, MODE_CBC));
}

TEST_P(Cbc, PartialBlockIsZeroFilledAndKeepsChain) {
  auto key = pattern(32, 1);
  auto iv = pattern(16, 99);
  CipherContext enc, dec;
  ASSERT_EQ(0, aes_set_key(&enc, key.data(), 32, iv.data(), CIPHER_ENCRYPT));
  uint8_t buf[16];
  memcpy(buf, "hello", 5);
  ASSERT_EQ(16, aes_encrypt(&enc, buf, buf, 5, MODE_CBC));
  EXPECT_EQ(0, memcmp(enc.chain, iv.data(), 16)) << "chain must not advance on a partial block";

  // Work block = (iv ^ "hello") followed by zeros, encrypted alone.
  uint8_t work[16] = {};
  for (int i = 0; i < 5; i++) work[i] = uint8_t(iv[i] ^ "hello"[i]);
  EXPECT_EQ(to_hex(buf, 16), to_hex(ref_aes256(key.data(), nullptr, work, 16, true)));

  ASSERT_EQ(0, aes_set_key(&dec, key.data(), 32, iv.data(), CIPHER_DECRYPT));
  ASSERT_EQ(16, cbc_decrypt_inplace(&dec, buf, 16));
  EXPECT_EQ(0, memcmp(buf, "hello", 5));
  EXPECT_EQ(0, memcmp(buf + 5, iv.data() + 5, 11)) << "tail holds the chaining value";
}

TEST_P(Cbc, PartialBlockAfterWholeBlocksUsesRunningChain) {
  auto key = pattern(16, 5);
  auto data = pattern(37, 40);
  CipherContext ctx;
  ASSERT_EQ(0, aes_set_key(&ctx, key.data(), 16, nullptr, CIPHER_ENCRYPT));
  std::vector<uint8_t> out(48);
  ASSERT_EQ(48, aes_encrypt(&ctx, data.data(), out.data(), 37, MODE_CBC));
  EXPECT_EQ(0, memcmp(ctx.chain, out.data() + 16, 16)) << "chain is the last whole ciphertext block";

  CipherContext dec;
  ASSERT_EQ(0, aes_set_key(&dec, key.data(), 16, nullptr, CIPHER_DECRYPT));
  ASSERT_EQ(48, cbc_decrypt_inplace(&dec, out.data(), 48));
  EXPECT_EQ(0, memcmp(out.data(), data.data(), 37));
  // Bytes 5..15 of the last block: the chaining value before that block.
  uint8_t c1[16];
  CipherContext again;
  ASSERT_EQ(0, aes_set_key(&again, key.data(), 16, nullptr, CIPHER_ENCRYPT));
  std::vector<uint8_t> first(32);
  aes_encrypt(&again, data.data(), first.data(), 32, MODE_CBC);
  memcpy(c1, first.data() + 16, 16);
  EXPECT_EQ(0, memcmp(out.data() + 37, c1 + 5, 11));
}

TEST_P(Cbc, ConsecutiveCallsFormOneStream) {
  auto key = pattern(32, 7);
  auto iv = pattern(16, 3);
  auto data = pattern(32, 11);
  CipherContext one, two;
  ASSERT_EQ(0, aes_set_key(&one, key.data(), 32, iv.data(), CIPHER_ENCRYPT));
  ASSERT_EQ(0, aes_set_key(&two, key.data(), 32, iv.data(), CIPHER_ENCRYPT));
  std::vector<uint8_t> whole(32), parts(32);
  ASSERT_EQ(32, aes_encrypt(&one, data.data(), whole.data(), 32, MODE_CBC));
  // Another context keyed in between must not disturb the stream.
  CipherContext other;
  ASSERT_EQ(0, aes_set_key(&other, iv.data(), 16, nullptr, CIPHER_ENCRYPT));
  ASSERT_EQ(16, aes_encrypt(&two, data.data(), parts.data(), 16, MODE_CBC));
  uint8_t scratch[16];
  ASSERT_EQ(16, aes_encrypt(&other, data.data(), scratch, 16, MODE_CBC));
  ASSERT_EQ(16, aes_encrypt(&two, data.data() + 16, parts.data() + 16, 16, MODE_CBC));
  EXPECT_EQ(whole, parts);
  EXPECT_EQ(to_hex(whole), to_hex(ref_aes256(key.data(), iv.data(), data.data(), 32, true)));

  // Decryption is a stream too, also in pieces.
  CipherContext dec;
  ASSERT_EQ(0, aes_set_key(&dec, key.data(), 32, iv.data(), CIPHER_DECRYPT));
  ASSERT_EQ(16, cbc_decrypt_inplace(&dec, parts.data(), 16));
  ASSERT_EQ(16, cbc_decrypt_inplace(&dec, parts.data() + 16, 16));
  EXPECT_EQ(parts, data);
}

// The chaining value alone decides what the next CBC call continues from:
// neither a partial block nor ECB work in between moves it.
TEST_P(Cbc, ChainSurvivesPartialBlocksAndEcbInBetween) {
  auto key = pattern(32, 23);
  auto iv = pattern(16, 29);
  auto data = pattern(48, 31);
  auto want = ref_aes256(key.data(), iv.data(), data.data(), 32, true);

  CipherContext ctx;
  ASSERT_EQ(0, aes_set_key(&ctx, key.data(), 32, iv.data(), CIPHER_ENCRYPT));
  std::vector<uint8_t> out(48), scratch(48);
  ASSERT_EQ(16, aes_encrypt(&ctx, data.data() + 32, scratch.data(), 5, MODE_CBC));
  ASSERT_EQ(16, aes_encrypt(&ctx, data.data(), out.data(), 16, MODE_CBC));
  ASSERT_EQ(32, aes_encrypt(&ctx, data.data() + 16, scratch.data(), 32, MODE_ECB));
  ASSERT_EQ(16, aes_encrypt(&ctx, data.data() + 16, out.data() + 16, 16, MODE_CBC));
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 32), want);

  CipherContext dec;
  ASSERT_EQ(0, aes_set_key(&dec, key.data(), 32, iv.data(), CIPHER_DECRYPT));
  ASSERT_EQ(16, cbc_decrypt_inplace(&dec, out.data(), 16));
  ASSERT_EQ(32, aes_decrypt(&dec, want.data(), scratch.data(), 32, MODE_ECB));
  ASSERT_EQ(16, cbc_decrypt_inplace(&dec, out.data() + 16, 16));
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 32), std::vector<uint8_t>(data.begin(), data.begin() + 32));

  // A caller may also set the chaining value directly.
  memcpy(ctx.chain, iv.data(), 16);
  ASSERT_EQ(32, aes_encrypt(&ctx, data.data(), out.data(), 32, MODE_CBC));
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 32), want);
}

TEST_P(Cbc, DecryptOfPartialLengthWritesNothing) {
  auto key = pattern(32, 2);
  CipherContext ctx;
  ASSERT_EQ(0, aes_set_key(&ctx, key.data(), 32, nullptr, CIPHER_DECRYPT));
  std::vector<uint8_t> in = pattern(20, 8), out(32, 0xee);
  uint8_t chain[16];
  memcpy(chain, ctx.chain, 16);
  EXPECT_EQ(-1, aes_decrypt(&ctx, in.data(), out.data(), 20, MODE_CBC));
  EXPECT_EQ(-1, aes_decrypt(&ctx, in.data(), out.data(), 20, MODE_ECB));
  EXPECT_EQ(std::vector<uint8_t>(32, 0xee), out);
  EXPECT_EQ(0, memcmp(chain, ctx.chain, 16));
  EXPECT_EQ(0, aes_decrypt(&ctx, in.data(), out.data(), 0, MODE_CBC));
}

TEST_P(Ecb, BlocksAreIndependentAndChainUntouched) {
  auto key = pattern(32, 4);
  auto iv = pattern(16, 6);
  auto data = pattern(32, 9);
  CipherContext ctx;
  ASSERT_EQ(0, aes_set_key(&ctx, key.data(), 32, iv.data(), CIPHER_ENCRYPT));
  std::vector<uint8_t> out(32);
  ASSERT_EQ(32, aes_encrypt(&ctx, data.data(), out.data(), 32, MODE_ECB));
  EXPECT_EQ(to_hex(out), to_hex(ref_aes256(key.data(), nullptr, data.data(), 32, true)));
  EXPECT_EQ(0, memcmp(ctx.chain, iv.data(), 16));
  CipherContext dec;
  ASSERT_EQ(0, aes_set_key(&dec, key.data(), 32, nullptr, CIPHER_DECRYPT));
  ASSERT_EQ(32, aes_decrypt(&dec, out.data(), out.data(), 32, MODE_ECB));
  EXPECT_EQ(out, data);
}

// Large buffers against libcrypto, in place and out of place.
TEST_P(Cbc, LongBuffersMatchLibcrypto) {
  auto key = pattern(32, 13);
  auto iv = pattern(16, 17);
  auto data = pattern(1024 * 64, 21);
  auto want = ref_aes256(key.data(), iv.data(), data.data(), data.size(), true);
  CipherContext ctx;
  ASSERT_EQ(0, aes_set_key(&ctx, key.data(), 32, iv.data(), CIPHER_ENCRYPT));
  std::vector<uint8_t> out(data.size());
  ASSERT_EQ(long(data.size()), aes_encrypt(&ctx, data.data(), out.data(), data.size(), MODE_CBC));
  EXPECT_EQ(out, want);
  ASSERT_EQ(0, aes_set_key(&ctx, key.data(), 32, iv.data(), CIPHER_DECRYPT));
  ASSERT_EQ(long(out.size()), cbc_decrypt_inplace(&ctx, out.data(), out.size()));
  EXPECT_EQ(out, data);
}

bool native_available() {
  aes_use_native(true);
  return aes_use_native(true);
}

// Both paths side by side on random work: keys of every length, IVs present
// or absent, lengths with and without a partial block, both modes, in place
// and not, several calls chained on one context. Outputs, return values and
// chaining values must be byte-identical.
TEST(CipherPathsAgree, RandomisedDifferential) {
  if (!native_available()) GTEST_SKIP() << "no AES instructions";
  std::mt19937 rng(20261207);
  auto bytes = [&](size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng());
    return v;
  };
  const int kLens[] = {16, 24, 32};
  for (int round = 0; round < 400; round++) {
    SCOPED_TRACE(round);
    int key_len = kLens[rng() % 3];
    int direction = int(rng() % 2);
    auto key = bytes(size_t(key_len));
    auto iv = bytes(16);
    const uint8_t* ivp = rng() % 8 ? iv.data() : nullptr;
    CipherContext a, b;
    aes_use_native(true);
    ASSERT_EQ(0, aes_set_key(&a, key.data(), key_len, ivp, direction));
    aes_use_native(false);
    ASSERT_EQ(0, aes_set_key(&b, key.data(), key_len, ivp, direction));
    aes_use_native(true);
    ASSERT_EQ(a.native, key_len != 24);
    ASSERT_FALSE(b.native);
    int calls = 1 + int(rng() % 6);
    for (int c = 0; c < calls; c++) {
      int mode = int(rng() % 2);
      bool in_place = rng() % 2;
      size_t len = rng() % 4 == 0 ? rng() % 5000 : rng() % 100;
      if (direction == CIPHER_DECRYPT) len &= ~size_t(15);
      auto in = bytes(len + 16);  // never empty: a null buffer is refused even for 0 bytes
      size_t out_len = (len + 15) & ~size_t(15);
      std::vector<uint8_t> out_a(out_len + 16, 0xa5), out_b(out_len + 16, 0xa5);
      long ra, rb;
      if (in_place) {
        std::copy(in.begin(), in.begin() + long(len), out_a.begin());
        std::copy(in.begin(), in.begin() + long(len), out_b.begin());
      }
      const uint8_t* src_a = in_place ? out_a.data() : in.data();
      const uint8_t* src_b = in_place ? out_b.data() : in.data();
      if (direction == CIPHER_ENCRYPT) {
        ra = aes_encrypt(&a, src_a, out_a.data(), len, mode);
        rb = aes_encrypt(&b, src_b, out_b.data(), len, mode);
      } else {
        ra = aes_decrypt(&a, src_a, out_a.data(), len, mode);
        rb = aes_decrypt(&b, src_b, out_b.data(), len, mode);
      }
      ASSERT_EQ(ra, long(out_len)) << "len " << len << " mode " << mode;
      ASSERT_EQ(ra, rb);
      ASSERT_EQ(to_hex(out_a), to_hex(out_b)) << "len " << len << " mode " << mode << " key " << key_len;
      ASSERT_EQ(to_hex(a.chain, 16), to_hex(b.chain, 16));
    }
  }
}

// The switch takes effect at a context's next aes_set_key: a context keyed
// on one path keeps it, so a stream in progress runs on unbroken, and a
// re-key that carries the chaining value over continues it on the new path.
TEST(CipherPathsAgree, SwitchingLeavesLiveContextsOnTheirPath) {
  if (!native_available()) GTEST_SKIP() << "no AES instructions";
  auto key = pattern(32, 41);
  auto iv = pattern(16, 43);
  auto data = pattern(128, 47);
  auto want = ref_aes256(key.data(), iv.data(), data.data(), data.size(), true);

  std::vector<uint8_t> out(128);
  CipherContext enc;
  ASSERT_EQ(0, aes_set_key(&enc, key.data(), 32, iv.data(), CIPHER_ENCRYPT));
  ASSERT_EQ(32, aes_encrypt(&enc, data.data(), out.data(), 32, MODE_CBC));
  aes_use_native(false);
  EXPECT_TRUE(enc.native);
  ASSERT_EQ(32, aes_encrypt(&enc, data.data() + 32, out.data() + 32, 32, MODE_CBC));
  ASSERT_EQ(0, aes_set_key(&enc, key.data(), 32, enc.chain, CIPHER_ENCRYPT));
  EXPECT_FALSE(enc.native);
  ASSERT_EQ(32, aes_encrypt(&enc, data.data() + 64, out.data() + 64, 32, MODE_CBC));
  aes_use_native(true);
  ASSERT_EQ(0, aes_set_key(&enc, key.data(), 32, enc.chain, CIPHER_ENCRYPT));
  EXPECT_TRUE(enc.native);
  ASSERT_EQ(32, aes_encrypt(&enc, data.data() + 96, out.data() + 96, 32, MODE_CBC));
  EXPECT_EQ(to_hex(out), to_hex(want));

  aes_use_native(false);
  CipherContext dec;
  ASSERT_EQ(0, aes_set_key(&dec, key.data(), 32, iv.data(), CIPHER_DECRYPT));
  aes_use_native(true);
  EXPECT_FALSE(dec.native);
  ASSERT_EQ(64, cbc_decrypt_inplace(&dec, out.data(), 64));
  ASSERT_EQ(0, aes_set_key(&dec, key.data(), 32, dec.chain, CIPHER_DECRYPT));
  EXPECT_TRUE(dec.native);
  ASSERT_EQ(64, cbc_decrypt_inplace(&dec, out.data() + 64, 64));
  EXPECT_EQ(out, data);
}

}  // namespace
