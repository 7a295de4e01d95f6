// SPDX-License-Identifier: GPL-3.0-or-later
// The administration commands of the ordika-server executable.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
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
  ServerConfig cfg;
  cfg.data_dir = dir.file("data");
  cfg.database = test_database();
  // the store the commands name: the data directory, or the database alone
  std::string store = cfg.database.empty() ? "--data '" + cfg.data_dir + "'" : "--database '" + cfg.database + "'";
  std::string out;
  std::string base = "ORDIKA_ACCOUNT_PASSWORD=pw '" + binary() + "' ";
  ASSERT_EQ(0, run(base + "useradd carol " + store + " 2>/dev/null", &out));
  long id = std::strtol(out.c_str(), nullptr, 10);
  EXPECT_GT(id, 0);
  EXPECT_LT(id, 1L << 30);
  EXPECT_EQ(1, run(base + "useradd carol " + store + " 2>/dev/null", &out));
  ASSERT_EQ(0, run(base + "users " + store, &out));
  EXPECT_EQ(std::to_string(id) + "\tcarol\t0\n", out);
  std::vector<ServerUser> users;
  ASSERT_EQ(0, server_users(cfg, &users));
  ASSERT_EQ(1u, users.size());
  EXPECT_EQ(0, run(base + "userdel carol " + store + " 2>/dev/null", &out));
  EXPECT_EQ(1, run(base + "userdel carol " + store + " 2>/dev/null", &out));
  struct Case {
    std::string args;
    int status;
  } usage[] = {
      {"frobnicate " + store, 2},
      {"serve --listen nowhere:x --data '" + cfg.data_dir + "'", 2},
      {"users", 2},
      {"migrate --data '" + cfg.data_dir + "'", 2},
      {"publish " + dir.path() + " --data '" + cfg.data_dir + "'", 2},
      {"traces --database 'host=/nonexistent'", 2},
      // the update offer of a database is published into it, not read from a folder
      {"serve --listen 127.0.0.1:1 --data '" + cfg.data_dir + "' --database 'host=/nonexistent' --updates /tmp", 2},
      {"users --database 'host=/nonexistent dbname=none connect_timeout=1'", 1},
  };
  for (const Case& c : usage) EXPECT_EQ(c.status, run(base + c.args + " 2>/dev/null", &out)) << c.args;
}

// A database holds the update offer and the traces: published from a
// folder, written out to one.
TEST(DatabaseAdmin, PublishAndTraces) {
  struct stat st;
  if (::stat(binary().c_str(), &st) != 0) GTEST_SKIP() << "ordika-server not built";
  if (!test_on_postgres()) GTEST_SKIP() << "a data directory serves --updates and keeps traces/ itself";
  ScratchDir dir("publish");
  std::string db = test_database();
  std::string updates = dir.subdir("updates");
  std::ofstream(updates + "/version") << "2.0.0\n200\n";
  std::ofstream(updates + "/lin64", std::ios::binary) << std::string(70000, 'x');
  std::string out;
  std::string base = "'" + binary() + "' ";
  ASSERT_EQ(0, run(base + "publish '" + updates + "' --database '" + db + "' 2>/dev/null", &out));
  EXPECT_EQ("2", pg_query_value(db, "SELECT count(*) FROM updates"));
  EXPECT_EQ("70000", pg_query_value(db, "SELECT octet_length(data) FROM updates WHERE name='lin64'"));
  // a folder without the files withdraws the offer
  ASSERT_EQ(0, run(base + "publish '" + dir.subdir("empty") + "' --database '" + db + "' 2>/dev/null", &out));
  EXPECT_EQ("0", pg_query_value(db, "SELECT count(*) FROM updates"));

  ASSERT_EQ("", pg_query_value(db, "INSERT INTO traces VALUES (7, 1700000000, 'x.log', 'trace text') RETURNING ''"));
  std::string traces = dir.file("traces");
  ASSERT_EQ(0, run(base + "traces --database '" + db + "' --out '" + traces + "' 2>/dev/null", &out));
  std::ifstream f(traces + "/7/1700000000-x.log");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ("trace text", text);
}
