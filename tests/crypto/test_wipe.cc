// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/wipe.h"

namespace {

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (p[i]) return false;
  return true;
}

TEST(Wipe, BuffersAreZeroedAndContainersEmptied) {
  uint8_t key[32];
  std::memset(key, 0xA5, sizeof key);
  wipe(key, sizeof key);
  EXPECT_TRUE(all_zero(key, sizeof key));
  wipe(nullptr, 8);  // allowed

  std::string pw = "correct horse battery staple";
  wipe(&pw);
  EXPECT_TRUE(pw.empty());
  std::vector<uint8_t> bytes(40, 0x5A);
  wipe(&bytes);
  EXPECT_TRUE(bytes.empty());
  std::vector<std::string> fields = {"user", "secret"};
  wipe(&fields);
  EXPECT_TRUE(fields.empty());
  wipe(static_cast<std::string*>(nullptr));
}

TEST(Wipe, ScopeGuardsWipeOnEveryExit) {
  uint8_t buf[48];
  std::memset(buf, 0x77, sizeof buf);
  auto early = [&](bool leave) {
    WipeOnExit guard(buf, sizeof buf);
    if (leave) return 1;
    return 0;
  };
  EXPECT_EQ(early(true), 1);
  EXPECT_TRUE(all_zero(buf, sizeof buf));

  std::memset(buf, 0x77, sizeof buf);
  {
    WipeOnExit guard(buf, 16);
  }
  EXPECT_TRUE(all_zero(buf, 16));
  EXPECT_EQ(buf[16], 0x77) << "only the given range";

  Secret<16> s;
  EXPECT_TRUE(all_zero(s.b, sizeof s.b)) << "starts zeroed";
}

}  // namespace
