// SPDX-License-Identifier: GPL-3.0-or-later
// The strength estimate shown as a password is typed.
#include <gtest/gtest.h>

#include "crypto/crypto.h"
#include "crypto/password_strength.h"

namespace {

TEST(PasswordStrength, GrowsWithLengthAndClassesNotWithRepeats) {
  EXPECT_EQ(0, password_bits(nullptr));
  EXPECT_EQ(0, password_bits(""));
  // Eight small letters: 8 * log2(26) = 37.6.
  EXPECT_EQ(37, password_bits("abcdefgh"));
  EXPECT_GT(password_bits("abcdEFG1"), password_bits("abcdefgh"));
  EXPECT_GT(password_bits("abcdefghijkl"), password_bits("abcdefgh"));
  // A run of one character counts once.
  EXPECT_EQ(password_bits("a"), password_bits("aaaaaaaaaaaa"));
  // Characters outside ASCII count as one character each, from a large pool.
  EXPECT_EQ(password_bits("\xc3\xa9\xc3\xa8"), static_cast<int>(2 * 6.643856));
  EXPECT_EQ(0, password_level(password_bits("abc")));
  EXPECT_EQ(4, password_level(128));
  // What the generator gives for new repositories reads as strong.
  char buf[21];
  password_generate(buf, 20, 15);
  EXPECT_GE(password_level(password_bits(buf)), 3);
}

}  // namespace
