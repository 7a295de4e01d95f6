// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/version.h"

namespace {

// The build fills the version in from the project version: three numbers.
TEST(Version, IsTheProjectVersion) {
  std::string v = program_version();
  int dots = 0;
  for (char c : v) {
    if (c == '.') dots++;
    else EXPECT_TRUE(c >= '0' && c <= '9') << v;
  }
  EXPECT_EQ(dots, 2) << v;
  EXPECT_EQ(v, "1.3.3");
  EXPECT_GT(program_build_number(), 0);
}

}  // namespace
