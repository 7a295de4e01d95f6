// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crypto/crypto.h"

namespace {

const std::string kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::string kLower = "abcdefghijklmnopqrstuvwxyz";
const std::string kDigits = "012345678901234567891459";
const std::string kPunct = ".,?!'-/:;()$&@\",/;()$&@\"";

bool has_any(const std::string& s, const std::string& cls) { return s.find_first_of(cls) != std::string::npos; }

TEST(PasswordCheck, LengthAndClasses) {
  EXPECT_EQ(-1, password_check(nullptr, 0, 0));
  EXPECT_EQ(0, password_check("", 0, 0));
  EXPECT_EQ(0, password_check("Abcdefgh12", 10, 7));
  EXPECT_EQ(-1, password_check("Abcdefgh1", 10, 7)) << "too short";
  EXPECT_EQ(-1, password_check("abcdefgh12", 10, 7)) << "no upper case";
  EXPECT_EQ(-1, password_check("ABCDEFGH12", 10, 7)) << "no lower case";
  EXPECT_EQ(-1, password_check("Abcdefghij", 10, 7)) << "no digit";
  EXPECT_EQ(-1, password_check("Abcdefgh12", 10, 15)) << "no punctuation";
  EXPECT_EQ(0, password_check("Abcdefgh1\"", 10, 15));
  EXPECT_EQ(0, password_check("Ab1@", 4, 15));
  EXPECT_EQ(-1, password_check("Ab1#", 4, 15)) << "# is not in the punctuation class";
  EXPECT_EQ(0, password_check(std::string(127, 'a').c_str(), 0, 2));
  EXPECT_EQ(-1, password_check(std::string(128, 'a').c_str(), 0, 0)) << "128 characters are refused";
  EXPECT_EQ(-1, password_check(("Aa1." + std::string(124, 'x')).c_str(), 20, 15));
}

TEST(PasswordGenerate, PassesItsOwnCheckWithOnlyAlphabetCharacters) {
  const std::string all = kUpper + kLower + kDigits + kPunct;
  for (int i = 0; i < 50; i++) {
    char buf[21];
    password_generate(buf, 20, 15);
    std::string s = buf;
    ASSERT_EQ(20u, s.size());
    EXPECT_EQ(0, password_check(buf, 20, 15));
    EXPECT_TRUE(has_any(s, kUpper) && has_any(s, kLower) && has_any(s, kDigits) && has_any(s, kPunct));
    EXPECT_EQ(std::string::npos, s.find_first_not_of(all)) << s;
  }
  // Only the selected classes are drawn from.
  for (int flags : {1, 2, 4, 8, 6, 9}) {
    std::string allowed;
    if (flags & 1) allowed += kUpper;
    if (flags & 2) allowed += kLower;
    if (flags & 4) allowed += kDigits;
    if (flags & 8) allowed += kPunct;
    char buf[128];
    password_generate(buf, 127, flags);
    std::string s = buf;
    EXPECT_EQ(127u, s.size());
    EXPECT_EQ(std::string::npos, s.find_first_not_of(allowed)) << flags << " " << s;
    EXPECT_EQ(0, password_check(buf, 127, flags));
  }
}

TEST(PasswordGenerate, ImpossibleRequestsLeaveAnEmptyString) {
  char buf[200];
  memset(buf, 'x', sizeof buf);
  password_generate(buf, 0, 15);
  EXPECT_STREQ("", buf);
  memset(buf, 'x', sizeof buf);
  password_generate(buf, 128, 15);
  EXPECT_STREQ("", buf);
  memset(buf, 'x', sizeof buf);
  password_generate(buf, 10, 0);
  EXPECT_STREQ("", buf);
  // Fewer characters than selected classes can never pass: it must end.
  memset(buf, 'x', sizeof buf);
  password_generate(buf, 3, 15);
  EXPECT_STREQ("", buf);
  memset(buf, 'x', sizeof buf);
  password_generate(buf, 1, 3);
  EXPECT_STREQ("", buf);
  // The smallest possible lengths do work.
  password_generate(buf, 4, 15);
  EXPECT_EQ(0, password_check(buf, 4, 15));
  password_generate(buf, 1, 8);
  EXPECT_EQ(0, password_check(buf, 1, 8));
}

}  // namespace
