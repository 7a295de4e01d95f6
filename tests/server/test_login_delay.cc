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

TEST_F(LoginDelay, WrongPasswordIsAnsweredAfterTheDelay) {
  std::vector<std::string> ids;
  auto start = std::chrono::steady_clock::now();
  EXPECT_NE(0, server_list_repos(Login("alice", alice_id_, "wrong-password"), &ids));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_EQ(0, server_list_repos(alice_, &ids));
}

}  // namespace
