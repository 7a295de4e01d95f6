// SPDX-License-Identifier: GPL-3.0-or-later
// Every path that puts a new file in the place of an old one makes the new
// file durable before the rename and the rename durable after it: otherwise
// a power loss can leave the name pointing at a file whose pages never
// reached the disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "common/file_calls.h"
#include "common/test_support.h"
#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "storage_fixture.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

using file_calls::Event;
using file_calls::find;
using storage_test::kMaster;

class Durability : public storage_test::ProfileTest {
 protected:
  int add_repo(const char* password) { return ProfileTest::add_repo("r", password); }

  // The new file `from` is synced before it is renamed onto `to`, and the
  // directory holding both after the rename.
  static void expect_durable_replace(const std::vector<Event>& ev, const std::string& from, const std::string& to,
                                     const std::string& dir) {
    std::string source;
    EXPECT_EQ("", file_calls::replace_fault(ev, to, dir, &source));
    EXPECT_EQ(from, source);
  }

  static std::string real(const std::string& p) {
    char buf[4096];
    return ::realpath(p.c_str(), buf) ? std::string(buf) : p;
  }
};

TEST_F(Durability, RepositoryPasswordChangeSyncsTheReencodedFileBeforeAndTheDirectoryAfterTheRename) {
  int i = add_repo("Old-Password-1234567!");
  ASSERT_EQ(0, repo_open(&repo_table()[i]));
  ASSERT_EQ(SQLITE_OK, db_exec(repo_table()[i].db, "CREATE TABLE filler(x); INSERT INTO filler VALUES(zeroblob(20000));"));
  repo_close(&repo_table()[i]);
  std::string path = real(repo_table()[i].path);

  file_calls::watch(path);
  ASSERT_EQ(0, change_repo_password(&repo_table()[i], "New-Password-7654321?"));
  std::vector<Event> ev = file_calls::stop();
  expect_durable_replace(ev, path + "/temp", path + "/data", path);
  ASSERT_EQ(0, repo_open(&repo_table()[i]));
  repo_close(&repo_table()[i]);
}

TEST_F(Durability, ReencodeAloneSyncsInTheSameOrder) {
  int i = add_repo("Old-Password-1234567!");
  uint8_t old_key[32], new_key[32];
  std::memcpy(old_key, repo_table()[i].key, 32);
  derive_key("Another-Password-99!", new_key);
  std::string path = real(repo_table()[i].path);
  file_calls::watch(path);
  ASSERT_EQ(0, reencode_dbfile(path.c_str(), old_key, new_key));
  expect_durable_replace(file_calls::stop(), path + "/temp", path + "/data", path);
}

// The rename has put the data under the new key in place: a folder that
// cannot be synced after it is logged, and the change stands.
TEST_F(Durability, ReencodeWithAFolderThatCannotBeSyncedLogsAndStands) {
  int i = add_repo("Old-Password-1234567!");
  uint8_t old_key[32], new_key[32];
  std::memcpy(old_key, repo_table()[i].key, 32);
  derive_key("Another-Password-99!", new_key);
  std::string path = real(repo_table()[i].path);
  std::string log = dir.file("reencode.log");
  log_stop();
  log_reenable();
  log_set_file(log.c_str());
  file_calls::watch(path);
  file_calls::fail_at(2, EIO, false, "fsync");  // the first is the new file's own
  EXPECT_EQ(0, reencode_dbfile(path.c_str(), old_key, new_key));
  std::vector<Event> ev = file_calls::stop();
  log_stop();
  log_reenable();
  EXPECT_GE(find(ev, "fsync!failed", path), 0) << file_calls::describe(ev);
  EXPECT_NE(test_support::read_file(log).find("reencode_dbfile: sync the folder"), std::string::npos);
  long renamed = find(ev, "rename", path + "/temp");
  ASSERT_GE(renamed, 0) << file_calls::describe(ev);
  EXPECT_EQ(path + "/data", ev[size_t(renamed)].to);
}

TEST_F(Durability, InterruptedPasswordChangeSyncsTheCompleteTempBeforeItBecomesData) {
  const char* kOld = "Old-Password-1234567!";
  const char* kNew = "New-Password-7654321?";
  int i = add_repo(kOld);
  RepoEntry* e = &repo_table()[i];
  uint8_t old_key[32], new_key[32];
  std::memcpy(old_key, e->key, 32);
  derive_key(kNew, new_key);
  ASSERT_EQ(0, repo_open(e));
  ASSERT_EQ(SQLITE_OK, db_exec(e->db, "BEGIN;"));
  ASSERT_EQ(0, repo_rekey(e->db, old_key, new_key));
  ASSERT_EQ(0, repo_store_pending(e, kNew));
  ASSERT_EQ(SQLITE_OK, db_exec(e->db, "COMMIT;"));
  repo_close(e);
  std::string path = real(e->path);
  // A crash after the re-encoded copy was written, with "data" gone.
  ASSERT_EQ(0, reencode_dbfile(path.c_str(), old_key, new_key));
  ASSERT_EQ(0, ::rename((path + "/data").c_str(), (path + "/temp").c_str()));

  file_calls::watch(path);
  ASSERT_EQ(0, repo_table_load());
  std::vector<Event> ev = file_calls::stop();
  ASSERT_TRUE(repo_table()[0].enabled);
  EXPECT_EQ(kNew, repo_password(&repo_table()[0]));
  expect_durable_replace(ev, path + "/temp", path + "/data", path);
}

TEST_F(Durability, MasterPasswordChangeSyncsTheNewConfigurationBeforeAndTheDirectoryAfterTheRename) {
  add_repo("Aa1!aaaaaaaaaaaaaaaaaaaa");
  std::string profile = real(dir.path());
  file_calls::watch(profile);
  ASSERT_EQ(0, change_master_password("New-Master-99"));
  std::vector<Event> ev = file_calls::stop();
  expect_durable_replace(ev, profile + "/config.tmp", profile + "/config", profile);
  config_set(nullptr, dir.path());
  repo_table_clear();
  EXPECT_EQ(0, config_unlock("New-Master-99"));
}

TEST_F(Durability, RepositoryExportSyncsTheFileBeforeAndTheFolderAfterTheRename) {
  signed_in_account().id = 11;
  int i = add_repo("Own-Repo-Password-1!");
  repo_table()[i].account_id = 11;
  repo_table()[i].server_id = "srv-own";
  std::string out = real(dir.path()) + "/out";
  ASSERT_EQ(0, mkdir(out.c_str(), 0700));
  std::string target = out + "/export.bin";
  std::ofstream(target) << "earlier export";

  file_calls::watch(out);
  ASSERT_EQ(0, repo_export_file(&repo_table()[i], "Export-Pass-1", target.c_str()));
  EXPECT_EQ("", file_calls::replace_fault(file_calls::stop(), target, out));

  // The folder's sync failing, the export fails: the new name may not last.
  file_calls::watch(out);
  file_calls::fail_at(2, EIO, false, "fsync");  // the first is the file's own
  EXPECT_EQ(-1, repo_export_file(&repo_table()[i], "Export-Pass-1", target.c_str()));
  std::vector<Event> ev = file_calls::stop();
  EXPECT_GE(find(ev, "fsync!failed", out), 0) << file_calls::describe(ev);
}

}  // namespace
