// The administration commands of the ordika-server executable.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "server_fixture.h"

namespace {

std::string binary() { return std::string(ORDIKA_BINARY_DIR) + "/server/ordika-server"; }

// Runs a shell command; returns the exit status and its standard output.
int run(const std::string& cmd, std::string* out) {
  out->clear();
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[256];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  int st = ::pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace

TEST(AdminCli, UserAddListDelete) {
  struct stat st;
  if (::stat(binary().c_str(), &st) != 0) GTEST_SKIP() << "ordika-server not built";
  ScratchDir dir("admin");
  std::string data = dir.file("data");
  std::string out;
  std::string base = "ORDIKA_ACCOUNT_PASSWORD=pw '" + binary() + "' ";
  ASSERT_EQ(0, run(base + "useradd carol --data '" + data + "' 2>/dev/null", &out));
  long id = std::strtol(out.c_str(), nullptr, 10);
  EXPECT_GT(id, 0);
  EXPECT_LT(id, 1L << 30);
  EXPECT_EQ(1, run(base + "useradd carol --data '" + data + "' 2>/dev/null", &out));
  ASSERT_EQ(0, run(base + "users --data '" + data + "'", &out));
  EXPECT_EQ(std::to_string(id) + "\tcarol\t0\n", out);
  std::vector<ServerUser> users;
  ASSERT_EQ(0, server_users(data, &users));
  ASSERT_EQ(1u, users.size());
  EXPECT_EQ(0, run(base + "userdel carol --data '" + data + "' 2>/dev/null", &out));
  EXPECT_EQ(1, run(base + "userdel carol --data '" + data + "' 2>/dev/null", &out));
  EXPECT_EQ(2, run(base + "frobnicate --data '" + data + "' 2>/dev/null", &out));
  EXPECT_EQ(2, run(base + "serve --listen nowhere:x --data '" + data + "' 2>/dev/null", &out));
}
