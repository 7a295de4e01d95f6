// SPDX-License-Identifier: GPL-3.0-or-later
// A failed login is answered only after the configured delay, which slows
// password guessing; the other server tests run without it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "server_fixture.h"

namespace {

class LoginDelay : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override { cfg->fail_delay_ms = 400; }
};

// An unknown name or number is refused as late as a wrong password, so
// that timing does not tell which accounts exist.
TEST_F(LoginDelay, EveryFailedLoginIsAnsweredAfterTheDelay) {
  struct Case {
    const char* what;
    ServerLogin login;
  } cases[] = {
      {"wrong password", Login("alice", alice_id_, "wrong-password")},
      {"unknown name", Login("mallory", alice_id_, "pw-alice")},
      {"unknown number", Login("alice", alice_id_ ^ 1, "pw-alice")},
  };
  std::vector<std::string> ids;
  for (const Case& c : cases) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(0, server_list_repos(c.login, &ids)) << c.what;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400)) << c.what;
  }
  EXPECT_EQ(0, server_list_repos(alice_, &ids));
}

}  // namespace
