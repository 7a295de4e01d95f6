// SPDX-License-Identifier: GPL-3.0-or-later
// Repository records and table, creation, password change and its crash
// recovery, clearing, deleting, the account record, the master password and
// the export file.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/repo.h"
#include "storage_fixture.h"
#include "support/log.h"
#include "support/strings.h"

using namespace storage_test;

namespace {

using test_support::read_file;
using test_support::file_exists;
using test_support::write_file;

class RepoTest : public ProfileTest {
 protected:
  // Writes `n` item-like rows with bodies into the repository's database.
  void fill(RepoEntry* e, int n) {
    ASSERT_EQ(0, repo_open(e));
    RepoDb r{e->db, e->key, false};
    ASSERT_EQ(0, journal_begin(e->db));
    for (int i = 0; i < n; i++) {
      uint8_t uuid[16];
      fill_uuid(uuid, i);
      uuid[1] = static_cast<uint8_t>(i >> 8);
      Version v("2:0:0:0:0:0;0:0;0:1:1:note " + std::to_string(i), std::string(400, 'b'));
      ASSERT_EQ(0, object_write(r, uuid, v.hash, u8(v.header), v.header.size(), u8(v.body), v.body.size(), false));
    }
    ASSERT_EQ(0, journal_commit(e->db));
    repo_close(e);
  }

  // The stored record of an entry: password and pending password.
  void stored_passwords(int64_t row, std::string* pw, std::string* pending) {
    bool found = false;
    repo_list_each(config_db(), [&](int64_t rowid, const uint8_t* rec, size_t len) {
      if (rowid != row) return;
      std::vector<uint8_t> buf(rec, rec + len);
      ASSERT_EQ(0, secret_decipher(buf.data(), buf.size()));
      RepoEntry e;
      ASSERT_EQ(0, repo_record_parse(reinterpret_cast<char*>(buf.data()), buf.size(), &e, pw, pending));
      found = true;
    });
    ASSERT_TRUE(found);
  }
};

TEST_F(RepoTest, RecordsRoundTripThroughTheTable) {
  int a = add_repo("Work: notes ü", "Aa1!aaaaaaaaaaaaaaaaaaaa-long");
  int b = add_repo("Private", "Bb2?bbbbbbbbbbbbbbbbbbbb");
  ASSERT_EQ(0, a);
  ASSERT_EQ(1, b);
  repo_table()[b].hidden = true;
  repo_table()[b].enabled = false;
  ASSERT_EQ(0, repo_store(&repo_table()[b]));
  std::string path_a = repo_table()[a].path;
  uint8_t key_a[32];
  std::memcpy(key_a, repo_table()[a].key, 32);

  ASSERT_EQ(0, repo_table_load());
  ASSERT_EQ(2u, repo_table().size());
  EXPECT_EQ("Work: notes ü", repo_table()[0].name);
  EXPECT_EQ(path_a, repo_table()[0].path);
  EXPECT_TRUE(repo_table()[0].enabled);
  EXPECT_FALSE(repo_table()[0].hidden);
  EXPECT_EQ(0, std::memcmp(key_a, repo_table()[0].key, 32));
  EXPECT_EQ("Aa1!aaaaaaaaaaaaaaaaaaaa-long", repo_password(&repo_table()[0]));
  EXPECT_TRUE(repo_table()[1].hidden);
  EXPECT_FALSE(repo_table()[1].enabled);
  EXPECT_EQ("Bb2?bbbbbbbbbbbbbbbbbbbb", repo_password(&repo_table()[1]));
  EXPECT_EQ(0, repo_open(&repo_table()[0]));

  // The in-memory password is not stored in clear.
  std::string clear = "Aa1!aaaaaaaaaaaaaaaaaaaa-long";
  EXPECT_EQ(nullptr, memmem(repo_table()[0].password, 64, clear.data(), clear.size()));
}

TEST_F(RepoTest, RecordsRefuseLineFeedsAndOversizeAndCutLongPasswords) {
  RepoEntry e;
  e.path = "/x";
  std::vector<uint8_t> out;
  e.name = "two\nlines";
  EXPECT_EQ(-1, repo_record_format(e, "pw", "", &out));
  e.name = std::string(2000, 'n');
  EXPECT_EQ(-1, repo_record_format(e, "pw", "", &out));
  e.name = "ok";
  EXPECT_EQ(0, repo_record_format(e, "pw", "", &out));
  EXPECT_EQ(0u, out.size() % 16);

  std::string longpw(100, 'x');
  int i = add_repo("long", longpw.c_str());
  EXPECT_EQ(std::string(63, 'x'), repo_password(&repo_table()[i]));
  ASSERT_EQ(0, repo_table_load());
  EXPECT_EQ(std::string(63, 'x'), repo_password(&repo_table()[0]));
  EXPECT_EQ(0, repo_open(&repo_table()[0]));
}

TEST_F(RepoTest, UnreadableRecordLeavesAnEmptyDisabledEntry) {
  add_repo("good", "Aa1!aaaaaaaaaaaaaaaaaaaa");
  std::vector<uint8_t> junk(64, 0x5a);
  int64_t row = 0;
  ASSERT_EQ(0, repo_list_add(config_db(), junk.data(), junk.size(), &row));
  ASSERT_EQ(0, repo_table_load());
  ASSERT_EQ(2u, repo_table().size());
  EXPECT_TRUE(repo_table()[0].enabled);
  EXPECT_FALSE(repo_table()[1].enabled);
  EXPECT_TRUE(repo_table()[1].path.empty());
  // Storing the empty entry must not overwrite the record.
  EXPECT_NE(0, repo_store(&repo_table()[1]));
  EXPECT_EQ(2, repo_list_count(config_db()));
}

TEST_F(RepoTest, CreateDirNamesAndFailures) {
  std::string path;
  ASSERT_EQ(0, repo_create_dir(root.c_str(), &path));
  std::string base = path.substr(root.size() + 1);
  EXPECT_EQ(8u, base.size());
  EXPECT_EQ(std::string::npos, base.find_first_not_of("0123456789abcdef"));
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  EXPECT_EQ(REPO_DIR_NO_ROOT, repo_create_dir((root + "/missing").c_str(), &path));
  EXPECT_EQ(REPO_DIR_TOO_LONG, repo_create_dir(std::string(4080, 'r').c_str(), &path));
}

TEST_F(RepoTest, RegisterNeverKeysAnExistingDatabaseAndKeepsNothingOnFailure) {
  std::string path;
  ASSERT_EQ(0, repo_create_dir(root.c_str(), &path));
  write_file(path + "/data", "precious");
  RepoRecord rec;
  rec.name = "dup";
  rec.path = path;
  rec.password = "Aa1!aaaaaaaaaaaaaaaaaaaa";
  EXPECT_NE(0, repo_register(rec, nullptr));
  EXPECT_EQ("precious", read_file(path + "/data"));
  EXPECT_EQ(0, repo_list_count(config_db()));
  EXPECT_TRUE(repo_table().empty());
}

TEST_F(RepoTest, RegisterKeepsForeignAccountDetailsOnly) {
  signed_in_account().id = 7;
  RepoRecord rec;
  rec.path = root;
  rec.server_id = "srv-1";
  rec.account_id = 7;
  rec.account_host = "h";
  rec.account_user = "u";
  rec.password = "Aa1!aaaaaaaaaaaaaaaaaaaa";
  int i = -1;
  ASSERT_EQ(0, repo_register(rec, &i));
  EXPECT_EQ("srv-1", repo_table()[i].name);  // no name: the server id
  EXPECT_TRUE(repo_table()[i].account_host.empty());
  EXPECT_FALSE(file_exists(root + "/data"));
  rec.account_id = 9;
  ASSERT_EQ(0, repo_register(rec, &i));
  EXPECT_EQ("h", repo_table()[i].account_host);
  EXPECT_EQ("u", repo_table()[i].account_user);
}

TEST_F(RepoTest, DefaultRepositoryHasGeneratedPasswordAndLocalizedName) {
  ASSERT_EQ(0, repo_create_default(root.c_str()));
  ASSERT_EQ(1u, repo_table().size());
  EXPECT_STREQ(ui_string(STR_DEFAULT_REPO_NAME), repo_table()[0].name.c_str());
  std::string pw = repo_password(&repo_table()[0]);
  EXPECT_EQ(20u, pw.size());
  EXPECT_EQ(0, password_check(pw.c_str(), 20, 15));
  EXPECT_EQ(0, repo_open(&repo_table()[0]));
}

TEST_F(RepoTest, ChangePasswordRekeysFileAndRecordAndDropsServerLink) {
  signed_in_account().id = 5;
  int i = add_repo("r", "Old-Password-1234567!", 5, "");
  repo_table()[i].server_id = "srv";
  repo_table()[i].account_id = 9;
  ASSERT_EQ(0, repo_store(&repo_table()[i]));
  fill(&repo_table()[i], 30);
  uint8_t old_key[32];
  std::memcpy(old_key, repo_table()[i].key, 32);

  ASSERT_EQ(0, change_repo_password(&repo_table()[i], "New-Password-7654321?"));
  EXPECT_EQ("New-Password-7654321?", repo_password(&repo_table()[i]));
  EXPECT_TRUE(repo_table()[i].server_id.empty());
  EXPECT_EQ(5, repo_table()[i].account_id);
  EXPECT_EQ(30, readable_rows(&repo_table()[i]));
  EXPECT_FALSE(file_exists(repo_table()[i].path + "/temp"));

  // Only the new key opens it; journal cursor only; change logs empty.
  uint8_t check[64];
  EXPECT_NE(0, db_get_sign_path((repo_table()[i].path + "/data").c_str(), check, old_key));
  ASSERT_EQ(0, repo_open(&repo_table()[i]));
  EXPECT_EQ(1, count_in(repo_table()[i].db, "t5"));
  EXPECT_EQ(0, count_in(repo_table()[i].db, "t3"));
  repo_close(&repo_table()[i]);

  ASSERT_EQ(0, repo_table_load());
  EXPECT_EQ("New-Password-7654321?", repo_password(&repo_table()[0]));
  EXPECT_TRUE(repo_table()[0].server_id.empty());
  EXPECT_EQ(30, readable_rows(&repo_table()[0]));
}

// --- Crash points of a repository password change ---------------------------

class CrashTest : public RepoTest {
 protected:
  void SetUp() override {
    RepoTest::SetUp();
    index = add_repo("r", kOld, 0, "");
    repo_table()[index].server_id = "srv-keep";
    ASSERT_EQ(0, repo_store(&repo_table()[index]));
    fill(&repo_table()[index], 200);
    e = &repo_table()[index];
    std::memcpy(old_key, e->key, 32);
    derive_key(kNew, new_key);
  }

  // State right after a committed re-key, before the file was re-encoded.
  void committed_rekey() {
    ASSERT_EQ(0, repo_open(e));
    ASSERT_EQ(SQLITE_OK, db_exec(e->db, "BEGIN;"));
    ASSERT_EQ(0, repo_rekey(e->db, old_key, new_key));
    ASSERT_EQ(0, repo_store_pending(e, kNew));
    ASSERT_EQ(SQLITE_OK, db_exec(e->db, "COMMIT;"));
    repo_close(e);
  }

  void expect_new_password() {
    ASSERT_EQ(0, repo_table_load());
    RepoEntry& r = repo_table()[0];
    ASSERT_TRUE(r.enabled);
    EXPECT_EQ(kNew, repo_password(&r));
    EXPECT_TRUE(r.server_id.empty());
    EXPECT_EQ(200, readable_rows(&r));
    std::string pw, pending;
    stored_passwords(r.config_row, &pw, &pending);
    EXPECT_EQ(kNew, pw);
    EXPECT_EQ("", pending);
    EXPECT_FALSE(file_exists(r.path + "/temp"));
    // A second start finds nothing left to do.
    ASSERT_EQ(0, repo_table_load());
    EXPECT_EQ(200, readable_rows(&repo_table()[0]));
  }

  static constexpr const char* kOld = "Old-Password-1234567!";
  static constexpr const char* kNew = "New-Password-7654321?";
  int index = 0;
  RepoEntry* e = nullptr;
  uint8_t old_key[32], new_key[32];
};

TEST_F(CrashTest, BeforeCommitKeepsOldPasswordAndServerLink) {
  std::string path = e->path;
  log_stop();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child re-keys with a tiny page cache (so pages spill into the file
    // behind a journal), stores the pending password, and dies.
    if (repo_open(e) != 0) _exit(2);
    db_exec(e->db, "PRAGMA cache_size=2;");
    if (db_exec(e->db, "BEGIN;") != SQLITE_OK) _exit(3);
    if (repo_rekey(e->db, old_key, new_key) != 0) _exit(4);
    if (repo_store_pending(e, kNew) != 0) _exit(5);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  log_reenable();
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(0, WEXITSTATUS(status));
  e->db = nullptr;  // the child's connection died with it
  EXPECT_TRUE(file_exists(path + "/data-journal"));

  ASSERT_EQ(0, repo_table_load());
  RepoEntry& r = repo_table()[0];
  ASSERT_TRUE(r.enabled);
  EXPECT_EQ(kOld, repo_password(&r));
  EXPECT_EQ("srv-keep", r.server_id);
  EXPECT_EQ(200, readable_rows(&r));
  std::string pw, pending;
  stored_passwords(r.config_row, &pw, &pending);
  EXPECT_EQ(kOld, pw);
  EXPECT_EQ("", pending);
}

TEST_F(CrashTest, BetweenCommitAndReencodeFinishes) {
  committed_rekey();
  expect_new_password();
}

TEST_F(CrashTest, MidReencodeWithHalfWrittenTempFinishes) {
  committed_rekey();
  std::string data = read_file(e->path + "/data");
  ASSERT_GT(data.size(), 4096u);
  write_file(e->path + "/temp", data.substr(0, 3000));  // torn, not page aligned
  expect_new_password();
}

TEST_F(CrashTest, AfterRenameFinishes) {
  committed_rekey();
  ASSERT_EQ(0, reencode_dbfile(e->path.c_str(), old_key, new_key));
  expect_new_password();
}

TEST_F(CrashTest, TempWithoutDataIsUsedOnlyWhenComplete) {
  committed_rekey();
  std::string path = e->path;
  ASSERT_EQ(0, reencode_dbfile(path.c_str(), old_key, new_key));
  std::string good = read_file(path + "/data");
  // A torn temp alone is not accepted; nothing is removed.
  ASSERT_EQ(0, rename((path + "/data").c_str(), (path + "/hold").c_str()));
  write_file(path + "/temp", good.substr(0, 2048));
  ASSERT_EQ(0, repo_table_load());
  EXPECT_FALSE(repo_table()[0].enabled);
  EXPECT_TRUE(file_exists(path + "/temp"));
  // A complete one is.
  write_file(path + "/temp", good);
  unlink((path + "/hold").c_str());
  expect_new_password();
}

TEST_F(CrashTest, MissingDirectoryKeepsThePendingRecordForLater) {
  committed_rekey();
  std::string path = e->path;
  ASSERT_EQ(0, rename(path.c_str(), (path + ".away").c_str()));
  ASSERT_EQ(0, repo_table_load());
  EXPECT_FALSE(repo_table()[0].enabled);
  std::string pw, pending;
  stored_passwords(repo_table()[0].config_row, &pw, &pending);
  EXPECT_EQ(kOld, pw);
  EXPECT_EQ(kNew, pending);
  // Back in place, the next start finishes the change.
  ASSERT_EQ(0, rename((path + ".away").c_str(), path.c_str()));
  expect_new_password();
}

TEST_F(CrashTest, UnrelatedKeyLeavesOldPasswordAndNothingLost) {
  // The pending password is not the one the file was re-keyed with.
  ASSERT_EQ(0, repo_store_pending(e, "Some-Other-Password-1!"));
  ASSERT_EQ(0, repo_table_load());
  ASSERT_TRUE(repo_table()[0].enabled);  // the key check matched the old key
  EXPECT_EQ(kOld, repo_password(&repo_table()[0]));
  EXPECT_EQ(200, readable_rows(&repo_table()[0]));
}

TEST_F(RepoTest, FailedPasswordChangeLeavesRepositoryAsItWas) {
  int i = add_repo("r", "Old-Password-1234567!");
  std::string path = repo_table()[i].path;
  std::string data = read_file(path + "/data");
  unlink((path + "/data").c_str());
  EXPECT_NE(0, change_repo_password(&repo_table()[i], "New-Password-7654321?"));
  write_file(path + "/data", data);
  ASSERT_EQ(0, repo_table_load());
  EXPECT_EQ("Old-Password-1234567!", repo_password(&repo_table()[0]));
  EXPECT_EQ(0, repo_open(&repo_table()[0]));
}

TEST_F(RepoTest, ReencodeRefusesMissingOrTornFiles) {
  uint8_t k1[32] = {1}, k2[32] = {2};
  EXPECT_EQ(-1, reencode_dbfile(root.c_str(), k1, k2));
  write_file(root + "/data", std::string(1500, 'x'));
  EXPECT_EQ(-1, reencode_dbfile(root.c_str(), k1, k2));
  EXPECT_EQ(std::string(1500, 'x'), read_file(root + "/data"));
  EXPECT_FALSE(file_exists(root + "/temp"));
}

TEST_F(RepoTest, ClearHistoryEmptiesJournalAndChangeLogs) {
  int i = add_repo("r", "Aa1!aaaaaaaaaaaaaaaaaaaa");
  fill(&repo_table()[i], 5);
  ASSERT_EQ(0, repo_open(&repo_table()[i]));
  uint8_t u[16] = {1}, h[20] = {2};
  ASSERT_EQ(0, db_exec_uuid_hash(repo_table()[i].db, "INSERT INTO t3 VALUES (?,?,1)", u, h));
  repo_close(&repo_table()[i]);
  ASSERT_EQ(0, repo_clear_history(&repo_table()[i]));
  EXPECT_EQ(nullptr, repo_table()[i].db);  // opened here, closed again
  ASSERT_EQ(0, repo_open(&repo_table()[i]));
  EXPECT_EQ(1, count_in(repo_table()[i].db, "t5"));
  EXPECT_EQ(0, count_in(repo_table()[i].db, "t3"));
  EXPECT_EQ(5, count_in(repo_table()[i].db, "t1"));
  EXPECT_EQ(0, repo_clear_history(&repo_table()[i]));
  EXPECT_NE(nullptr, repo_table()[i].db);  // was open: stays open
}

TEST_F(RepoTest, DeleteFirstOfThreeShiftsTheOthers) {
  add_repo("a", "Aa1!aaaaaaaaaaaaaaaaaaaa");
  add_repo("b", "Bb1!bbbbbbbbbbbbbbbbbbbb");
  add_repo("c", "Cc1!cccccccccccccccccccc");
  std::string gone = repo_table()[0].path;
  ASSERT_EQ(0, repo_delete(0));
  EXPECT_FALSE(file_exists(gone));
  ASSERT_EQ(2u, repo_table().size());
  EXPECT_EQ("b", repo_table()[0].name);
  EXPECT_EQ("c", repo_table()[1].name);
  ASSERT_EQ(0, repo_table_load());
  ASSERT_EQ(2u, repo_table().size());
  EXPECT_EQ("b", repo_table()[0].name);
  EXPECT_EQ("c", repo_table()[1].name);
  EXPECT_EQ(0, repo_open(&repo_table()[1]));
}

TEST_F(RepoTest, DeleteOfAnOddlyNamedDirectoryRemovesOnlyRepositoryFiles) {
  std::string odd = dir.path() + "/my documents";
  ASSERT_EQ(0, mkdir(odd.c_str(), 0700));
  write_file(odd + "/letter.txt", "keep me");
  RepoRecord rec;
  rec.name = "odd";
  rec.path = odd;
  rec.password = "Aa1!aaaaaaaaaaaaaaaaaaaa";
  ASSERT_EQ(0, repo_register(rec, nullptr));
  ASSERT_EQ(0, repo_delete(0));
  EXPECT_EQ("keep me", read_file(odd + "/letter.txt"));
  EXPECT_FALSE(file_exists(odd + "/data"));
}

TEST_F(RepoTest, FindByCheckSeesOpenAndClosedRepositories) {
  int a = add_repo("a", "Aa1!aaaaaaaaaaaaaaaaaaaa");
  int b = add_repo("b", "Bb1!bbbbbbbbbbbbbbbbbbbb");
  uint8_t ca[64], cb[64], other[64];
  ASSERT_EQ(0, db_get_sign_path((repo_table()[a].path + "/data").c_str(), ca, repo_table()[a].key));
  ASSERT_EQ(0, db_get_sign_path((repo_table()[b].path + "/data").c_str(), cb, repo_table()[b].key));
  ASSERT_EQ(0, repo_open(&repo_table()[a]));
  EXPECT_TRUE(repo_find_by_check(ca));
  EXPECT_TRUE(repo_find_by_check(cb));
  uint8_t k[32] = {9};
  key_check_make(k, other);
  EXPECT_FALSE(repo_find_by_check(other));
}

TEST_F(RepoTest, AccountRecordRoundTrip) {
  EXPECT_NE(0, account_load());
  EXPECT_FALSE(has_signed_in_account());
  EXPECT_EQ(-1, account_store(0, "u", "p", "h"));
  EXPECT_EQ(-1, account_store(3, "u", "p", nullptr));
  EXPECT_EQ(-1, account_store(3, std::string(1100, 'u').c_str(), "p", "h"));
  EXPECT_EQ(-1, account_store(3, "u\nx", "p", "h"));
  ASSERT_EQ(0, account_store(42, "alice", "Sync-Pass-1", "sync.example"));
  signed_in_account() = Account();
  ASSERT_EQ(0, account_load());
  const Account& a = signed_in_account();
  EXPECT_EQ(42, a.id);
  EXPECT_EQ("alice", a.user);
  EXPECT_EQ("Sync-Pass-1", a.password);
  EXPECT_EQ("sync.example", a.host);
  uint8_t h[32];
  sha256(h, "Sync-Pass-1", 11);
  EXPECT_EQ(0, std::memcmp(h, a.user_hash, 32));
}

// --- Master password ----------------------------------------------------------

TEST_F(RepoTest, UnlockRightAndWrongPassword) {
  add_repo("a", "Aa1!aaaaaaaaaaaaaaaaaaaa");
  config_set(nullptr, dir.path());
  EXPECT_EQ(-1, config_unlock("wrong password"));
  EXPECT_EQ(nullptr, config_db());
  ASSERT_EQ(0, config_unlock(kMaster));
  EXPECT_EQ(0, master_password_check(kMaster));
  EXPECT_EQ(-1, master_password_check("Master-Pass-124"));
  ASSERT_EQ(0, repo_table_load());
  EXPECT_EQ("Aa1!aaaaaaaaaaaaaaaaaaaa", repo_password(&repo_table()[0]));
}

TEST_F(RepoTest, LegacyConfigurationIsConvertedOnUnlock) {
  config_set(nullptr, dir.path());
  std::string file = dir.path() + "/config";
  unlink(file.c_str());
  // An old-scheme file: 32-byte derive_key key, records under that key.
  uint8_t legacy[32];
  derive_key("Old-Master-1", legacy);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, page_db_open(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
    ASSERT_EQ(0, page_db_key(db, legacy, 32));
    ASSERT_EQ(SQLITE_OK, db_exec(db, "CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1 INT, c2);CREATE TABLE t2(c1);"
                                     "CREATE TABLE t3(c PRIMARY KEY, v);"));
    uint8_t check[64];
    key_check_make(legacy, check);
    ASSERT_EQ(0, key_check_write(db, check));
    std::memset(master_key(), 0, kMasterKeySize);
    std::memcpy(master_key(), legacy, 32);
    RepoEntry e;
    e.name = "legacy repo";
    e.path = root + "/0000abcd";
    e.enabled = true;
    std::vector<uint8_t> rec;
    ASSERT_EQ(0, repo_record_format(e, "Legacy-Repo-Password-1", "", &rec));
    ASSERT_EQ(0, repo_list_add(db, rec.data(), rec.size(), nullptr));
    ASSERT_EQ(0, setting_put_int(db, "win.width", 1234));
    sqlite3_close(db);
  }
  EXPECT_EQ(-1, config_unlock("Wrong-Master-1"));
  ASSERT_EQ(0, config_unlock("Old-Master-1"));
  EXPECT_FALSE(file_exists(dir.path() + "/config.tmp"));
  EXPECT_FALSE(file_exists(dir.path() + "/config.bak"));
  EXPECT_EQ(1234, setting_get_int(config_db(), "win.width", 0));
  ASSERT_EQ(0, repo_table_load());
  ASSERT_EQ(1u, repo_table().size());
  EXPECT_EQ("legacy repo", repo_table()[0].name);
  EXPECT_EQ("Legacy-Repo-Password-1", repo_password(&repo_table()[0]));

  // The file is now of the current scheme.
  config_set(nullptr, dir.path());
  int scheme = -1;
  sqlite3* db = config_open(file.c_str(), "Old-Master-1", &scheme);
  ASSERT_NE(nullptr, db);
  EXPECT_EQ(CONFIG_SCHEME_CURRENT, scheme);
  db_close(db);
}

TEST_F(RepoTest, ChangeMasterPasswordRenumbersRowsAndKeepsStoresOnTarget) {
  add_repo("a", "Aa1!aaaaaaaaaaaaaaaaaaaa");
  add_repo("b", "Bb1!bbbbbbbbbbbbbbbbbbbb");
  add_repo("c", "Cc1!cccccccccccccccccccc");
  ASSERT_EQ(0, account_store(4, "bob", "Sync-Pass-2", "host"));
  ASSERT_EQ(0, setting_put_str(config_db(), "repo_root", root.c_str()));
  ASSERT_EQ(0, repo_delete(0));  // rowids 2 and 3 remain
  ASSERT_EQ(0, repo_open(&repo_table()[0]));
  sqlite3* open_db = repo_table()[0].db;

  ASSERT_EQ(0, change_master_password("New-Master-99"));
  EXPECT_EQ(0, master_password_check("New-Master-99"));
  EXPECT_NE(0, master_password_check(kMaster));
  ASSERT_EQ(2u, repo_table().size());
  EXPECT_EQ(open_db, repo_table()[0].db);  // open databases survive
  EXPECT_EQ("Bb1!bbbbbbbbbbbbbbbbbbbb", repo_password(&repo_table()[0]));
  repo_table()[1].name = "renamed";
  ASSERT_EQ(0, repo_store(&repo_table()[1]));
  EXPECT_EQ(root, setting_get(config_db(), "repo_root"));

  config_set(nullptr, dir.path());
  repo_table_clear();
  EXPECT_EQ(-1, config_unlock(kMaster));
  ASSERT_EQ(0, config_unlock("New-Master-99"));
  ASSERT_EQ(0, account_load());
  EXPECT_EQ("bob", signed_in_account().user);
  ASSERT_EQ(0, repo_table_load());
  ASSERT_EQ(2u, repo_table().size());
  EXPECT_EQ("b", repo_table()[0].name);
  EXPECT_EQ("renamed", repo_table()[1].name);
  EXPECT_FALSE(file_exists(dir.path() + "/config.bak"));
}

TEST_F(RepoTest, ChangeMasterPasswordFailuresLeaveAWorkingConfig) {
  add_repo("a", "Aa1!aaaaaaaaaaaaaaaaaaaa");
  std::string before = read_file(dir.path() + "/config");

  // A record that cannot be re-enciphered stops the copy.
  uint8_t odd[20] = {1};
  int64_t row = 0;
  ASSERT_EQ(0, repo_list_add(config_db(), odd, sizeof odd, &row));
  EXPECT_EQ(-1, change_master_password("New-Master-99"));
  EXPECT_FALSE(file_exists(dir.path() + "/config.tmp"));
  EXPECT_EQ(0, master_password_check(kMaster));
  ASSERT_EQ(0, repo_list_remove(config_db(), row));

  // The temporary file cannot be made.
  ASSERT_EQ(0, mkdir((dir.path() + "/config.tmp").c_str(), 0700));
  EXPECT_EQ(-1, change_master_password("New-Master-99"));
  rmdir((dir.path() + "/config.tmp").c_str());

  // The old file cannot be kept aside before the swap.
  ASSERT_EQ(0, mkdir((dir.path() + "/config.bak").c_str(), 0700));
  EXPECT_EQ(-1, change_master_password("New-Master-99"));
  rmdir((dir.path() + "/config.bak").c_str());

  EXPECT_EQ(0, master_password_check(kMaster));
  ASSERT_EQ(0, repo_table_load());
  EXPECT_EQ("Aa1!aaaaaaaaaaaaaaaaaaaa", repo_password(&repo_table()[0]));
  config_set(nullptr, dir.path());
  ASSERT_EQ(0, config_unlock(kMaster));
  ASSERT_EQ(0, repo_table_load());
  EXPECT_EQ(1u, repo_table().size());
}

// --- Export file ----------------------------------------------------------------

TEST_F(RepoTest, ExportImportRoundTripAndRefusals) {
  signed_in_account().id = 11;
  signed_in_account().host = "me.example";
  signed_in_account().user = "me";
  int own = add_repo("own", "Own-Repo-Password-1!", 11, "srv-own");
  int foreign = add_repo("foreign", "Foreign-Repo-Pass-1!", 12, "srv-foreign");
  repo_table()[foreign].account_host = "them.example";
  repo_table()[foreign].account_user = "them";
  std::memset(repo_table()[foreign].account_key, 0xab, 32);
  int local = add_repo("local", "Local-Repo-Passwd-1!", 0, "");
  std::string file = dir.path() + "/export.bin";

  EXPECT_EQ(-1, repo_export(&repo_table()[local], "Export-Pass-1", file.c_str()));
  EXPECT_EQ(-1, repo_export(&repo_table()[own], "Export-Pass-1", ""));
  ASSERT_EQ(0, repo_export(&repo_table()[own], "Export-Pass-1", file.c_str()));
  std::string bytes = read_file(file);
  ASSERT_EQ(2048u, bytes.size());
  EXPECT_EQ(std::string::npos, bytes.find("Own-Repo-Password-1!"));

  RepoRecord rec;
  EXPECT_EQ(-1, parse_repo_import("Wrong-Pass-1", file.c_str(), &rec));
  ASSERT_EQ(0, parse_repo_import("Export-Pass-1", file.c_str(), &rec));
  EXPECT_EQ(11, rec.account_id);
  EXPECT_EQ("srv-own", rec.server_id);
  EXPECT_EQ("Own-Repo-Password-1!", rec.password);
  EXPECT_TRUE(rec.account_host.empty());  // the signed-in account's own
  EXPECT_TRUE(rec.account_user.empty());

  ASSERT_EQ(0, repo_export(&repo_table()[foreign], "Export-Pass-1", file.c_str()));
  ASSERT_EQ(0, parse_repo_import("Export-Pass-1", file.c_str(), &rec));
  EXPECT_EQ(12, rec.account_id);
  EXPECT_EQ("them.example", rec.account_host);
  EXPECT_EQ("them", rec.account_user);
  EXPECT_EQ(0xab, rec.account_key[31]);

  write_file(file, bytes.substr(0, 2047));
  EXPECT_EQ(-1, parse_repo_import("Export-Pass-1", file.c_str(), &rec));
  write_file(file, bytes + "x");
  EXPECT_EQ(-1, parse_repo_import("Export-Pass-1", file.c_str(), &rec));
  write_file(file, bytes);
  signed_in_account() = Account();
  EXPECT_EQ(-1, parse_repo_import("Export-Pass-1", file.c_str(), &rec));
  EXPECT_EQ(-1, repo_export(&repo_table()[own], "Export-Pass-1", file.c_str()));
}

TEST_F(RepoTest, ExportFileIsPrivateAndReplacesTheTargetOnlyWhenWritten) {
  signed_in_account().id = 11;
  int own = add_repo("own", "Own-Repo-Password-1!", 11, "srv-own");
  int local = add_repo("local", "Local-Repo-Passwd-1!", 0, "");
  std::string file = dir.path() + "/out/export.bin";
  ASSERT_EQ(0, mkdir((dir.path() + "/out").c_str(), 0755));
  write_file(file, "earlier export");
  ASSERT_EQ(0, chmod(file.c_str(), 0644));

  // A failed export leaves the earlier file and no temporary behind.
  EXPECT_EQ(-1, repo_export_file(&repo_table()[local], "Export-Pass-1", file.c_str()));
  EXPECT_EQ("earlier export", read_file(file));
  EXPECT_EQ(-1, repo_export_file(&repo_table()[own], "Export-Pass-1", (dir.path() + "/none/x.bin").c_str()));

  ASSERT_EQ(0, repo_export_file(&repo_table()[own], "Export-Pass-1", file.c_str()));
  struct stat st {};
  ASSERT_EQ(0, stat(file.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_EQ(2048, st.st_size);
  RepoRecord rec;
  ASSERT_EQ(0, parse_repo_import("Export-Pass-1", file.c_str(), &rec));
  EXPECT_EQ("srv-own", rec.server_id);
  DIR* d = opendir((dir.path() + "/out").c_str());
  ASSERT_NE(nullptr, d);
  int entries = 0;
  while (struct dirent* e = readdir(d))
    if (e->d_name[0] != '.') entries++;
  closedir(d);
  EXPECT_EQ(1, entries);
}

TEST_F(RepoTest, EnabledListComparison) {
  add_repo("a", "Aa1!aaaaaaaaaaaaaaaaaaaa");
  add_repo("b", "Bb1!bbbbbbbbbbbbbbbbbbbb");
  std::vector<RepoEnabled> before = repo_enabled_list();
  EXPECT_EQ(0, repo_enabled_changed(before, -1, false));
  repo_table()[1].hidden = true;
  EXPECT_EQ(2, repo_enabled_changed(before, 1, false));
  EXPECT_EQ(2, repo_enabled_changed(before, -1, false));
  EXPECT_EQ(0, repo_enabled_changed(before, 0, false));
  EXPECT_EQ(0, repo_enabled_changed(before, 1, true));
  repo_table()[1].hidden = false;
  repo_table()[0].enabled = false;
  EXPECT_EQ(1, repo_enabled_changed(before, -1, false));
  repo_table()[0].enabled = true;
  add_repo("c", "Cc1!cccccccccccccccccccc");
  EXPECT_EQ(1, repo_enabled_changed(before, -1, false));
}

}  // namespace
