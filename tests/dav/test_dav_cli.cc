// SPDX-License-Identifier: GPL-3.0-or-later
// ordika-cli dav against Radicale: the four commands' output as documented,
// a self-signed server refused and then trusted by its fingerprint, and the
// refusal of notes in an account's repository.
#include <gtest/gtest.h>

#include <regex>

#include "cli/cli_runner.h"
#include "dav/dav_suite.h"
#include "sync/dav_items.h"

namespace {

using namespace dav_test;

class DavCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!have_module("radicale") || !have_module("caldav")) return;
    plain_ = std::make_unique<Radicale>();
    tls_ = std::make_unique<Radicale>();
    if (!plain_->start() || !tls_->start(true)) {
      plain_.reset();
      tls_.reset();
      return;
    }
    auto c = open_client(plain_->url(), Radicale::kUser, Radicale::kPassword);
    made_ = c && make_collection(c.get(), plain_->url() + "alice/home/", true, "Home", "VEVENT") == 0 &&
            make_collection(c.get(), plain_->url() + "alice/chores/", true, "Chores", "VTODO") == 0 &&
            make_collection(c.get(), plain_->url() + "alice/people/", false, "People") == 0;
    auto t = open_client(tls_->url(), Radicale::kUser, Radicale::kPassword, tls_->certificate().fingerprint);
    made_ = made_ && t && make_collection(t.get(), tls_->url() + "alice/cal/", true, "Cal", "VEVENT,VTODO") == 0;
  }
  static void TearDownTestSuite() {
    plain_.reset();
    tls_.reset();
  }
  void SetUp() override {
    if (!made_) GTEST_SKIP() << "Radicale is not available";
    ASSERT_EQ(0, home.run({"init"}).status);
    home.set_env("ORDIKA_DAV_PASSWORD", Radicale::kPassword);
  }
  CliHome home;
  static inline std::unique_ptr<Radicale> plain_, tls_;
  static inline bool made_ = false;
};

TEST_F(DavCli, AddPrintsTheIndexThenOneLinePerCollection) {
  CliResult r = home.run({"dav", "add", plain_->host(), "--user", "alice", "--only", "Home", "--only", "People"});
  // A bare host means https; this server speaks http only.
  EXPECT_EQ(1, r.status);
  r = home.run({"dav", "add", plain_->url(), "--user", "alice", "--only", "Home", "--only", "People"});
  ASSERT_EQ(0, r.status) << r.err;
  auto lines = r.lines();
  ASSERT_EQ(3u, lines.size()) << r.out;
  EXPECT_EQ("1", lines[0]);
  struct Want {
    const char* kind;
    const char* name;
    const char* path;
  } want[] = {{"events", "Home", "alice/home/"}, {"contacts", "People", "alice/people/"}};
  for (size_t i = 0; i < 2; i++) {
    auto f = split_tabs(lines[i + 1]);
    ASSERT_EQ(4u, f.size()) << lines[i + 1];
    EXPECT_TRUE(std::regex_match(f[0], std::regex("[0-9a-f]{32}"))) << f[0];
    EXPECT_EQ(want[i].kind, f[1]);
    EXPECT_EQ(want[i].name, f[2]);
    EXPECT_EQ(plain_->url() + want[i].path, f[3]);
  }
  r = home.run({"repos"});
  EXPECT_NE(std::string::npos, r.line(1).find("alice on 127.0.0.1")) << r.out;
  r = home.run({"dav", "add", plain_->url(), "--user", "alice", "--only", "Nope"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Nope")) << r.err;
}

TEST_F(DavCli, LsSyncAndRmKeepTheirFormats) {
  home.write("pw", std::string(Radicale::kPassword) + "\n");
  home.unset_env("ORDIKA_DAV_PASSWORD");
  CliResult r = home.run({"dav", "add", plain_->url(), "--user", "alice", "--only", "Chores", "--password-file",
                          home.path("pw")});
  ASSERT_EQ(0, r.status) << r.err;
  r = home.run({"dav", "ls"});
  ASSERT_EQ(0, r.status);
  EXPECT_EQ("1\t" + plain_->url() + "\talice\tnever", r.line(0));
  r = home.run({"dav", "sync"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(std::regex_match(r.line(0), std::regex("1 pulled [0-9]+, pushed 0, deleted here 0, deleted there 0, "
                                                     "conflicts 0")))
      << r.out;
  r = home.run({"dav", "sync", "1"});
  EXPECT_EQ("1 pulled 0, pushed 0, deleted here 0, deleted there 0, conflicts 0", r.line(0));
  r = home.run({"dav", "ls"});
  EXPECT_TRUE(std::regex_match(r.line(0), std::regex(".*\talice\t[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}")))
      << r.out;
  // Notes have no place on the server.
  std::string tag;
  for (const std::string& line : home.run({"tags"}).lines())
    if (split_tabs(line).back() == "Chores") tag = split_tabs(line)[0];
  ASSERT_FALSE(tag.empty());
  r = home.run({"add", "note", tag, "--title", "n"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Notes and keys cannot be put")) << r.err;
  r = home.run({"dav", "sync", "0"});
  EXPECT_EQ(1, r.status);
  r = home.run({"dav", "rm", "1"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", home.run({"dav", "ls"}).out);
  EXPECT_EQ(2u, home.run({"repos"}).lines().size());
  EXPECT_EQ(0, home.run({"add", "note", tag, "--title", "n"}).status);
}

TEST_F(DavCli, ASyncThatFailsSaysWhyAndExitsOne) {
  auto c = open_client(plain_->url(), Radicale::kUser, Radicale::kPassword);
  std::string gone = plain_->url() + "alice/gone-" + std::to_string(::getpid()) + "/";
  ASSERT_EQ(0, make_collection(c.get(), gone, true, "Gone"));
  ASSERT_EQ(0, home.run({"dav", "add", plain_->url(), "--user", "alice", "--only", "Gone"}).status);
  ASSERT_EQ(0, home.run({"dav", "add", plain_->url(), "--user", "alice", "--only", "Home"}).status);
  ASSERT_EQ(0, dav_delete(c.get(), gone, ""));
  CliResult r = home.run({"dav", "sync"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("ordika-cli: 1: ")) << r.err;
  // The other account synced all the same.
  EXPECT_EQ("2 pulled 0, pushed 0, deleted here 0, deleted there 0, conflicts 0", r.line(0));
  r = home.run({"dav", "ls"});
  EXPECT_NE(std::string::npos, r.line(0).find("\tnever")) << r.out;
  home.set_env("ORDIKA_DAV_PASSWORD", "wrong");
  EXPECT_EQ(1, home.run({"dav", "add", plain_->url(), "--user", "alice"}).status);
  EXPECT_EQ(2u, home.run({"dav", "ls"}).lines().size());
}

TEST_F(DavCli, ASelfSignedServerIsRefusedThenTrustedByItsFingerprint) {
  CliResult r = home.run({"dav", "add", tls_->url(), "--user", "alice"});
  EXPECT_EQ(1, r.status);
  const std::string& fp = tls_->certificate().fingerprint;
  EXPECT_NE(std::string::npos, r.err.find(fp)) << r.err;
  r = home.run({"dav", "add", tls_->url(), "--user", "alice", "--trust-fingerprint", fp});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(0, home.run({"dav", "sync"}).status);
  r = home.run({"dav", "add", tls_->url(), "--user", "alice", "--trust-fingerprint", std::string(64, 'a')});
  EXPECT_EQ(1, r.status);
}

}  // namespace
