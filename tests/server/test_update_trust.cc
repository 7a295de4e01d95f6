// SPDX-License-Identifier: GPL-3.0-or-later
// Signed updates end to end against a server on loopback, the release key
// text, the self-replace test and signing in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "release_signer.h"
#include "server_fixture.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "sync/account_sign_in.h"
#include "sync/update_trust.h"

namespace {

bool file_there(const std::string& p) { return ::access(p.c_str(), F_OK) == 0; }

class SignedUpdates : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override {
    cfg->update_dir = dir_.subdir("updates");
    std::ofstream(cfg->update_dir + "/version") << "1.4.0\n92\n";
    std::string sig = signer_.sign(package_);
    ReleaseSigner::publish(cfg->update_dir, "lin64", package_, &sig);
    // lin32 is signed by someone else
    ReleaseSigner stranger;
    std::string bad = stranger.sign(package_);
    ReleaseSigner::publish(cfg->update_dir, "lin32", package_, &bad);
  }
  ReleaseSigner signer_;
  std::string package_ = std::string(3000, 'p') + "end";
};

}  // namespace

TEST_F(SignedUpdates, InstallsOnlyWhatTheReleaseKeySigned) {
  std::string dl = dir_.subdir("dl");
  std::string file;
  int last = -1;
  ASSERT_EQ(0, update_fetch_verified(alice_, "lin64", dl.c_str(), signer_.pub, [&](int p) { last = p; }, &file));
  EXPECT_EQ("ordika.gz", file);
  EXPECT_EQ(100, last);
  EXPECT_TRUE(file_there(dl + "/ordika.gz"));
  ::unlink((dl + "/ordika.gz").c_str());

  // another key's signature: the package is removed again
  EXPECT_EQ(UPDATE_BAD_SIGNATURE, update_fetch_verified(alice_, "lin32", dl.c_str(), signer_.pub, nullptr, &file));
  EXPECT_TRUE(file.empty());
  EXPECT_FALSE(file_there(dl + "/ordika.gz"));

  // a package changed after signing
  ReleaseSigner::publish(cfg_.update_dir, "lin64", package_ + "x", nullptr);
  PublishUpdates();
  EXPECT_EQ(UPDATE_BAD_SIGNATURE, update_fetch_verified(alice_, "lin64", dl.c_str(), signer_.pub, nullptr, &file));
  EXPECT_FALSE(file_there(dl + "/ordika.gz"));

  // no key built in: nothing is even fetched
  EXPECT_EQ(UPDATE_NO_KEY, update_fetch_verified(alice_, "lin64", dl.c_str(), nullptr, nullptr, &file));
  EXPECT_FALSE(file_there(dl + "/ordika.gz"));
}

TEST_F(SignedUpdates, MissingOrMalformedSignatureInstallsNothing) {
  std::string dl = dir_.subdir("dl");
  std::string file;
  std::remove((cfg_.update_dir + "/lin64.sig").c_str());
  PublishUpdates();
  EXPECT_EQ(UPDATE_NO_SIGNATURE, update_fetch_verified(alice_, "lin64", dl.c_str(), signer_.pub, nullptr, &file));
  EXPECT_FALSE(file_there(dl + "/ordika.gz"));
  std::ofstream(cfg_.update_dir + "/lin64.sig") << "short";
  PublishUpdates();
  std::string sig;
  EXPECT_EQ(UPDATE_NO_SIGNATURE, update_get_signature(alice_, "lin64", &sig));
  EXPECT_TRUE(sig.empty());
  EXPECT_EQ(UPDATE_NO_SIGNATURE, update_get_signature(alice_, "lin16", &sig));
}

TEST(ReleaseKey, HexTextAndSelfReplace) {
  uint8_t k[32];
  std::string hex(64, 'a');
  hex[0] = 'F';
  ASSERT_EQ(0, release_key_parse(hex.c_str(), k));
  EXPECT_EQ(0xfa, k[0]);
  EXPECT_EQ(0xaa, k[31]);
  EXPECT_EQ(-1, release_key_parse(hex.substr(1).c_str(), k));
  EXPECT_EQ(-1, release_key_parse((hex + "0").c_str(), k));
  hex[5] = 'g';
  EXPECT_EQ(-1, release_key_parse(hex.c_str(), k));
  EXPECT_EQ(-1, release_key_parse("", k));

  ScratchDir d("selfreplace");
  std::string exe = d.file("ordika");
  std::ofstream(exe) << "#!";
  EXPECT_TRUE(update_self_replace_allowed(exe.c_str()));
  EXPECT_FALSE(update_self_replace_allowed(d.file("missing").c_str()));
  EXPECT_FALSE(update_self_replace_allowed(""));
  if (::geteuid() != 0) {  // root writes anywhere
    ::chmod(exe.c_str(), 0500);
    EXPECT_FALSE(update_self_replace_allowed(exe.c_str()));
  }
  EXPECT_FALSE(program_file_path().empty());
}

TEST(ReleaseKey, TheSignatureCoversEveryByteOfALargePackage) {
  ReleaseSigner signer;
  ScratchDir d("largepackage");
  std::string package(200 * 1024, '\0');
  for (size_t i = 0; i < package.size(); i++) package[i] = static_cast<char>(i * 131 + i / 977);
  const std::string sig = signer.sign(package);
  // Byte flipped, -1 for none, and what the check says.
  struct Case {
    long flip;
    int verified;
  } cases[] = {{-1, 0}, {0, -1}, {40000, -1}, {65535, -1}, {65536, -1}, {long(package.size()) - 1, -1}};
  for (const Case& c : cases) {
    std::string bytes = package;
    if (c.flip >= 0) bytes[size_t(c.flip)] ^= 0x20;
    std::string path = d.file("ordika.gz");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(c.verified, update_verify_file(path.c_str(), sig, signer.pub)) << c.flip;
  }
}

namespace {

class SignIn : public ServerFixture {
 protected:
  void Configure(ServerConfig* cfg) override { cfg->fail_delay_ms = 0; }
  void SetUp() override {
    ServerFixture::SetUp();
    std::string cfg_dir = dir_.subdir("profile");
    sqlite3* cfg = config_create(cfg_dir.c_str(), "master");
    ASSERT_NE(nullptr, cfg);
    config_set(cfg, cfg_dir);
  }
  void TearDown() override {
    config_set(nullptr, "");
    ServerFixture::TearDown();
  }
};

}  // namespace

TEST_F(SignIn, StoresTheAccountOnlyAfterTheServerTookTheLogin) {
  EXPECT_EQ(SIGN_IN_REFUSED, account_sign_in(host_.c_str(), alice_id_, "alice", "wrong"));
  EXPECT_FALSE(has_signed_in_account());
  EXPECT_EQ(-1, account_load());
  EXPECT_EQ(SIGN_IN_REFUSED, account_sign_in(host_.c_str(), alice_id_ + 1, "alice", "pw-alice"));
  EXPECT_EQ(SIGN_IN_REFUSED, account_sign_in(host_.c_str(), alice_id_, "bob", "pw-alice"));
  EXPECT_EQ(-1, account_load());
  // nobody listening
  EXPECT_EQ(-1, account_sign_in("127.0.0.1:1", alice_id_, "alice", "pw-alice"));
  EXPECT_NE(0, last_error());
  EXPECT_EQ(-1, account_load());

  ASSERT_EQ(0, account_sign_in(host_.c_str(), alice_id_, "alice", "pw-alice"));
  EXPECT_TRUE(has_signed_in_account());
  ASSERT_EQ(0, account_load());  // read back from the configuration database
  EXPECT_EQ(alice_id_, signed_in_account().id);
  EXPECT_EQ("alice", signed_in_account().user);
  EXPECT_EQ(host_, signed_in_account().host);

  ASSERT_EQ(0, account_sign_out());
  EXPECT_FALSE(has_signed_in_account());
  EXPECT_EQ(-1, account_load());
}

TEST_F(SignIn, MalformedInputNeverReachesTheServer) {
  std::string port = host_.substr(host_.find(':'));
  EXPECT_EQ(SIGN_IN_BAD_INPUT, account_sign_in("", alice_id_, "alice", "pw-alice"));
  EXPECT_EQ(SIGN_IN_BAD_INPUT, account_sign_in("127.0.0.1:0", alice_id_, "alice", "pw-alice"));
  EXPECT_EQ(SIGN_IN_BAD_INPUT, account_sign_in("127.0.0.1:70000", alice_id_, "alice", "pw-alice"));
  EXPECT_EQ(SIGN_IN_BAD_INPUT, account_sign_in(host_.c_str(), 0, "alice", "pw-alice"));
  EXPECT_EQ(SIGN_IN_BAD_INPUT, account_sign_in(host_.c_str(), alice_id_, "", "pw-alice"));
  EXPECT_EQ(SIGN_IN_BAD_INPUT, account_sign_in(host_.c_str(), alice_id_, "al\nice", "pw-alice"));
  EXPECT_EQ(SIGN_IN_BAD_INPUT, account_sign_in(host_.c_str(), alice_id_, "alice", "pw\n"));
  EXPECT_EQ(SIGN_IN_BAD_INPUT, account_sign_in(host_.c_str(), alice_id_, "alice", ""));
  EXPECT_EQ(-1, account_load());

  EXPECT_TRUE(server_host_valid("sync.example.org"));
  EXPECT_TRUE(server_host_valid("127.0.0.1:4443"));
  EXPECT_FALSE(server_host_valid("a b"));
  EXPECT_FALSE(server_host_valid("host:"));
  EXPECT_FALSE(server_host_valid(":443"));
  EXPECT_FALSE(server_host_valid("host:-1"));
  EXPECT_FALSE(server_host_valid("a:1:2"));
  EXPECT_EQ(42, account_number_parse("42"));
  EXPECT_EQ(-1, account_number_parse("0"));
  EXPECT_EQ(-1, account_number_parse("-3"));
  EXPECT_EQ(-1, account_number_parse("12x"));
  EXPECT_EQ(-1, account_number_parse("2147483648"));
  EXPECT_EQ(2147483647, account_number_parse("2147483647"));
}

TEST_F(SignIn, PasswordChangeGoesToTheAccountsOwnServer) {
  ASSERT_EQ(0, account_sign_in(host_.c_str(), alice_id_, "alice", "pw-alice"));
  ::setenv("ORDIKA_SERVER", "127.0.0.1:1", 1);  // a default that must not be asked
  int rc = account_password_change("NewPassw0rd1");
  ::unsetenv("ORDIKA_SERVER");
  ASSERT_EQ(0, rc);
  ASSERT_EQ(0, account_load());
  EXPECT_EQ("NewPassw0rd1", signed_in_account().password);
  ServerLogin l = Login("alice", alice_id_, "NewPassw0rd1");
  std::vector<std::string> ids;
  EXPECT_EQ(0, server_list_repos(l, &ids));
}
