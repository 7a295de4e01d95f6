// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "crypto/page_codec.h"
#include "storage_fixture.h"

using namespace storage_test;

namespace {

[[maybe_unused]] std::string blob_hex(const uint8_t* p, size_t n) {
  std::string s = "x'";
  static const char hx[] = "0123456789abcdef";
  for (size_t i = 0; i < n; ++i) {
    s += hx[p[i] >> 4];
    s += hx[p[i] & 15];
  }
  return s + "'";
}

// Deciphers a stored row with an object cipher context of its own.
std::string decipher(const uint8_t key[32], const uint8_t uuid[16], const uint8_t hash[20], std::string bytes) {
  CipherContext ctx;
  EXPECT_EQ(0, object_cipher(&ctx, key, uuid, hash, CIPHER_DECRYPT));
  EXPECT_EQ(static_cast<long>(bytes.size()),
            cbc_decrypt_inplace(&ctx, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()));
  return bytes;
}

struct Row {
  std::string c1, c2, c4, c5;
  int c3;
  bool c5_null;
};

std::vector<Row> t1_rows(sqlite3* db, const char* where = "") {
  std::vector<Row> rows;
  std::string sql = std::string("SELECT c1, c2, c3, c4, c5 FROM t1 ") + where + " ORDER BY c3 DESC, rowid";
  Stmt s;
  EXPECT_EQ(SQLITE_OK, stmt_prepare(db, sql.c_str(), &s));
  while (sqlite3_step(s.get()) == SQLITE_ROW)
    rows.push_back(Row{column_bytes(s.get(), 0), column_bytes(s.get(), 1), column_bytes(s.get(), 3),
                       column_bytes(s.get(), 4), sqlite3_column_int(s.get(), 2),
                       sqlite3_column_type(s.get(), 4) == SQLITE_NULL});
  return rows;
}

std::string bytes(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

class DbTest : public RepoFixture {};

TEST_F(DbTest, WriteReplacesCurrentVersionWithExactRow) {
  Version v1("0:0:1:0:0:0;0:0;0:100:100:first", "body one\r\n");
  Version v2("0:0:1:0:0:0;0:0;0:100:200:second title that is longer than sixteen", "body two\r\n");
  group([&] { return write(v1); });
  group([&] { return write(v2); });

  auto rows = t1_rows(db);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(bytes(item, 16), rows[0].c1);
  EXPECT_EQ(bytes(v2.hash, 20), rows[0].c2);
  EXPECT_EQ(0, rows[0].c3);
  EXPECT_EQ(v2.header.size(), rows[0].c4.size());
  EXPECT_EQ(v2.body.size(), rows[0].c5.size());
  EXPECT_NE(v2.header, rows[0].c4);  // stored enciphered
  // c4 then c5 form one stream.
  EXPECT_EQ(v2.header + v2.body, decipher(key, item, v2.hash, rows[0].c4 + rows[0].c5));
  EXPECT_EQ("body two\r\n", object_read_current(repo, item));
  EXPECT_FALSE(object_has_history(repo, item));
}

TEST_F(DbTest, KeepHistoryDemotesCurrentVersion) {
  Version v1("0:0:1:0:0:0;0:0;0:100:100:first", "one");
  Version v2("0:0:1:0:0:0;0:0;0:100:200:second", "two");
  group([&] { return write(v1); });
  EXPECT_FALSE(object_has_history(repo, item));
  group([&] { return write(v2, true); });

  auto rows = t1_rows(db);
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(1, rows[0].c3);
  EXPECT_EQ(bytes(v1.hash, 20), rows[0].c2);
  EXPECT_EQ(0, rows[1].c3);
  EXPECT_EQ(bytes(v2.hash, 20), rows[1].c2);
  EXPECT_TRUE(object_has_history(repo, item));
  EXPECT_EQ("two", object_read_current(repo, item));
  EXPECT_EQ("one", object_read_version(repo, item, v1.hash));

  Stmt q = object_history_query(repo, item);
  ASSERT_TRUE(q);
  ObjectRow row;
  ASSERT_EQ(0, row_read(q.get(), key, &row));
  EXPECT_EQ(0, std::memcmp(row.hash, v1.hash, 20));
  EXPECT_EQ(1, row.c3);
  EXPECT_EQ("0:0:1:0:0:0;0:0;0:100:100:first", row.header);
  EXPECT_EQ(1, row_read(q.get(), key, &row));

  // A history version can be deleted on its own; the current one cannot.
  EXPECT_NE(0, object_delete_version(repo, item, v2.hash));
  EXPECT_EQ(0, object_delete_version(repo, item, v1.hash));
  EXPECT_FALSE(object_has_history(repo, item));
  EXPECT_EQ(1u, t1_rows(db).size());
}

TEST_F(DbTest, TagRowHasNullBodyAndLoads) {
  Version t("00000000000000000000000000000000:100:/");
  ASSERT_EQ(0, object_write(repo, tag, t.hash, u8(t.header), t.header.size(), nullptr, 0, false));
  auto rows = t1_rows(db);
  ASSERT_EQ(1u, rows.size());
  EXPECT_TRUE(rows[0].c5_null);
  EXPECT_EQ("", object_read_current(repo, tag));

  int calls = 0;
  ASSERT_EQ(0, objects_load_current(repo, 7, [&](int r, const uint8_t* u, const uint8_t* h, const uint8_t* c4, size_t n) {
              ++calls;
              EXPECT_EQ(7, r);
              std::string text;
              ASSERT_EQ(0, row_decipher_header(key, u, h, c4, n, &text));
              EXPECT_EQ("00000000000000000000000000000000:100:/", text);
            }));
  EXPECT_EQ(1, calls);
}

TEST_F(DbTest, BadArgumentsWriteNothing) {
  Version v("0:0:1:0:0:0;0:0;0:100:100:x");
  std::string odd = v.header.substr(0, 15);
  EXPECT_NE(0, object_write(repo, item, v.hash, u8(odd), odd.size(), nullptr, 0, false));
  RepoDb no_key{db, nullptr, false};
  EXPECT_NE(0, object_write(no_key, item, v.hash, u8(v.header), v.header.size(), nullptr, 0, false));
  EXPECT_EQ(0, count_in(db, "t1"));
}

TEST_F(DbTest, NoChangeLogWithoutServerLink) {
  Version v1("0:0:1:0:0:0;0:0;0:100:100:a", "x");
  Version v2("0:0:1:0:0:0;0:0;0:100:101:b", "y");
  group([&] {
    int rc = write(v1);
    if (!rc) rc = write(v2, true);
    if (!rc) rc = link_add(repo, tag, item);
    return rc;
  });
  group([&] {
    int rc = link_remove(repo, tag, item);
    if (!rc) rc = link_add(repo, tag, item);
    if (!rc) rc = links_delete_all(repo, item, false);
    if (!rc) rc = object_delete_all(repo, item);
    return rc;
  });
  EXPECT_EQ(0, count_in(db, "t3"));
  EXPECT_EQ(0, count_in(db, "t4"));
  EXPECT_EQ(1, db_query_state(db, "SELECT 1 FROM t3;"));
  EXPECT_EQ(1, db_query_state(db, "SELECT 1 FROM t4;"));
}

TEST_F(DbTest, ChangeLogCancelsAddedThenRemovedVersions) {
  repo.sync = true;
  Version v1("0:0:1:0:0:0;0:0;0:100:100:a", "x");
  Version v2("0:0:1:0:0:0;0:0;0:100:101:b", "y");
  group([&] { return write(v1); });
  EXPECT_EQ(1, count_in(db, "t3 WHERE c3=1"));
  group([&] { return write(v2); });  // v1 added and removed: cancels
  auto t3 = dump_table(db, "t3");
  ASSERT_EQ(1u, t3.size());
  EXPECT_NE(std::string::npos, t3[0].find(blob_hex(v2.hash, 20) + "|1|"));
  EXPECT_EQ(0, db_query_state(db, "SELECT 1 FROM t3;"));

  // A version that came from the server (not in t3) is logged as removed.
  ASSERT_EQ(0, db_exec(db, "DELETE FROM t3"));
  group([&] { return object_delete_all(repo, item); });
  auto removed = dump_table(db, "t3");
  ASSERT_EQ(1u, removed.size());
  EXPECT_NE(std::string::npos, removed[0].find(blob_hex(v2.hash, 20) + "|0|"));
  // Adding it back cancels the removal.
  group([&] { return write(v2); });
  EXPECT_EQ(0, count_in(db, "t3"));
}

TEST_F(DbTest, ChangeLogCancelsLinks) {
  repo.sync = true;
  group([&] { return link_add(repo, tag, item); });
  EXPECT_EQ(1, count_in(db, "t4 WHERE c3=1"));
  group([&] { return link_remove(repo, tag, item); });
  EXPECT_EQ(0, count_in(db, "t4"));
  EXPECT_EQ(0, count_in(db, "t2"));

  // Same state twice is recorded once.
  ASSERT_EQ(0, journal_begin(db));
  EXPECT_EQ(0, changelog_link(db, tag, item, 0));
  EXPECT_EQ(0, changelog_link(db, tag, item, 0));
  ASSERT_EQ(0, journal_commit(db));
  EXPECT_EQ(1, count_in(db, "t4 WHERE c3=0"));

  // links_delete_all by tag logs every removed link.
  uint8_t item2[16];
  fill_uuid(item2, 9);
  ASSERT_EQ(0, db_exec(db, "DELETE FROM t4"));
  ASSERT_EQ(0, db_exec_uuid_uuid(db, "INSERT INTO t2 VALUES (?,?)", tag, item));
  ASSERT_EQ(0, db_exec_uuid_uuid(db, "INSERT INTO t2 VALUES (?,?)", tag, item2));
  group([&] { return links_delete_all(repo, tag, true); });
  EXPECT_EQ(0, count_in(db, "t2"));
  EXPECT_EQ(2, count_in(db, "t4 WHERE c3=0"));
}

TEST_F(DbTest, RemovingAMissingLinkRecordsNothing) {
  repo.sync = true;
  int64_t before = count_in(db, "t5");
  group([&] { return link_remove(repo, tag, item); });
  EXPECT_EQ(before + 1, count_in(db, "t5"));  // only the group marker
  EXPECT_EQ(0, count_in(db, "t4"));
  ASSERT_EQ(0, journal_undo(db));
  EXPECT_EQ(0, count_in(db, "t2"));
}

TEST_F(DbTest, LinksLoadAndDuplicateAddFails) {
  group([&] { return link_add(repo, tag, item); });
  ASSERT_EQ(0, journal_begin(db));
  EXPECT_NE(0, link_add(repo, tag, item));
  journal_rollback(db);
  int n = 0;
  ASSERT_EQ(0, links_load(repo, [&](const uint8_t* t, const uint8_t* i) {
              ++n;
              EXPECT_EQ(0, std::memcmp(t, tag, 16));
              EXPECT_EQ(0, std::memcmp(i, item, 16));
            }));
  EXPECT_EQ(1, n);
}

TEST_F(DbTest, RowCipherIsOneStreamOverHeaderAndBody) {
  std::string h = pad("header text of some length");
  std::string b = pad("body text\r\nsecond line");
  uint8_t explicit_hash[20];
  for (int i = 0; i < 20; ++i) explicit_hash[i] = static_cast<uint8_t>(i * 7);
  std::string c4 = h, c5 = b;
  ASSERT_EQ(0, row_encipher(key, item, explicit_hash, reinterpret_cast<uint8_t*>(c4.data()), c4.size(),
                            reinterpret_cast<uint8_t*>(c5.data()), c5.size()));
  EXPECT_EQ(h + b, decipher(key, item, explicit_hash, c4 + c5));
  // c5 alone on a fresh context does not decipher: it continues c4's chain.
  EXPECT_NE(b, decipher(key, item, explicit_hash, c5));
  // Same as enciphering the concatenation in one call.
  std::string whole = h + b;
  CipherContext ctx;
  ASSERT_EQ(0, object_cipher(&ctx, key, item, explicit_hash, CIPHER_ENCRYPT));
  ASSERT_EQ(static_cast<long>(whole.size()),
            cbc_encrypt_inplace(&ctx, reinterpret_cast<uint8_t*>(whole.data()), whole.size()));
  EXPECT_EQ(c4 + c5, whole);
  // Round trip through row_decipher.
  ASSERT_EQ(0, row_decipher(key, item, explicit_hash, reinterpret_cast<uint8_t*>(c4.data()), c4.size(),
                            reinterpret_cast<uint8_t*>(c5.data()), c5.size()));
  EXPECT_EQ(h, c4);
  EXPECT_EQ(b, c5);
  // Another version of the same object has another stream.
  uint8_t other[20];
  std::memcpy(other, explicit_hash, 20);
  other[19] ^= 1;
  std::string c4_other = h;
  ASSERT_EQ(0, row_encipher(key, item, other, reinterpret_cast<uint8_t*>(c4_other.data()), c4_other.size(), nullptr, 0));
  std::string c4_again = h;
  ASSERT_EQ(0, row_encipher(key, item, explicit_hash, reinterpret_cast<uint8_t*>(c4_again.data()), c4_again.size(), nullptr, 0));
  EXPECT_NE(c4_other, c4_again);
  std::string bad = h.substr(0, 17);
  EXPECT_EQ(-1, row_encipher(key, item, explicit_hash, reinterpret_cast<uint8_t*>(bad.data()), bad.size(), nullptr, 0));
}

TEST_F(DbTest, KeyCheckReadNeedsTwo32ByteBlobs) {
  uint8_t check[64];
  ASSERT_EQ(0, key_check_read(db, check));
  EXPECT_EQ(0, key_check_verify(key, check));

  ASSERT_EQ(0, db_exec(db, "DELETE FROM t0"));
  EXPECT_EQ(-1, key_check_read(db, check));
  ASSERT_EQ(0, db_exec(db, "INSERT INTO t0 VALUES (zeroblob(31), zeroblob(32))"));
  EXPECT_EQ(-1, key_check_read(db, check));
  ASSERT_EQ(0, db_exec(db, "DELETE FROM t0; INSERT INTO t0 VALUES (zeroblob(32), zeroblob(33))"));
  EXPECT_EQ(-1, key_check_read(db, check));
  ASSERT_EQ(0, db_exec(db, "DELETE FROM t0; INSERT INTO t0 VALUES (zeroblob(32), 'not a blob of 32 bytes.........')"));
  EXPECT_EQ(-1, key_check_read(db, check));
}

TEST_F(DbTest, SignPathReadsKeyCheckOnlyWithRightKey) {
  uint8_t mounted[64], from_file[64];
  ASSERT_EQ(0, key_check_read(db, mounted));
  db_close(db);
  db = nullptr;
  ASSERT_EQ(0, db_get_sign_path(file.c_str(), from_file, key));
  EXPECT_EQ(0, std::memcmp(mounted, from_file, 64));
  uint8_t wrong[32];
  std::memcpy(wrong, key, 32);
  wrong[0] ^= 0x80;
  EXPECT_EQ(-1, db_get_sign_path(file.c_str(), from_file, wrong));
  EXPECT_EQ(-1, db_get_sign_path(file.c_str(), from_file, nullptr));
  EXPECT_EQ(-1, db_get_sign_path(dir.file("missing").c_str(), from_file, key));
  EXPECT_EQ(nullptr, db_open(dir.file("missing").c_str()));  // never creates
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST_F(DbTest, OneShotHelpersAndQueryState) {
  Version v("0:0:1:0:0:0;0:0;0:100:100:a");
  EXPECT_EQ(0, db_exec_uuid_hash(db, "INSERT INTO t3 VALUES (?,?,1)", item, v.hash));
  EXPECT_EQ(0, db_query_state(db, "SELECT 1 FROM t3;"));
  EXPECT_EQ(0, db_exec_uuid_hash(db, "DELETE FROM t3 WHERE c1=?", item, nullptr));
  EXPECT_EQ(1, db_query_state(db, "SELECT 1 FROM t3;"));
  EXPECT_EQ(-1, db_query_state(db, "SELECT FROM nowhere"));
  EXPECT_NE(0, db_exec_uuid_uuid(db, "INSERT INTO nowhere VALUES (?,?)", item, tag));
  // A statement that yields a row is not "done".
  EXPECT_NE(0, db_exec_uuid_uuid(db, "SELECT ?, ?", item, tag));
}

TEST_F(DbTest, RekeyMovesEveryRowToTheNewKey) {
  repo.sync = true;
  Version v1("0:0:1:0:0:0;0:0;0:100:100:a", "one");
  Version v2("0:0:1:0:0:0;0:0;0:100:101:b", "two");
  Version t("00000000000000000000000000000000:100:/");
  group([&] {
    int rc = write(v1);
    if (!rc) rc = write(v2, true);
    if (!rc) rc = object_write(repo, tag, t.hash, u8(t.header), t.header.size(), nullptr, 0, false);
    if (!rc) rc = link_add(repo, tag, item);
    return rc;
  });
  ASSERT_GT(count_in(db, "t3"), 0);

  uint8_t new_key[32];
  ASSERT_EQ(0, random_bytes(new_key, 32));
  ASSERT_EQ(0, db_exec(db, "BEGIN;"));
  ASSERT_EQ(0, repo_rekey(db, key, new_key));
  ASSERT_EQ(0, db_exec(db, "COMMIT;"));

  uint8_t check[64];
  ASSERT_EQ(0, key_check_read(db, check));
  EXPECT_EQ(0, key_check_verify(new_key, check));
  ASSERT_EQ(0, key_check_read(db, check));
  EXPECT_NE(0, key_check_verify(key, check));
  EXPECT_EQ(1, count_in(db, "t0"));
  EXPECT_EQ(0, count_in(db, "t3"));
  EXPECT_EQ(0, count_in(db, "t4"));
  ASSERT_EQ(std::vector<std::string>{"1|NULL|NULL|NULL|NULL|NULL|1|1|"}, dump_table(db, "t5"));
  EXPECT_EQ(1, count_in(db, "t2"));

  RepoDb rekeyed{db, new_key, true};
  EXPECT_EQ("two", object_read_current(rekeyed, item));
  EXPECT_EQ("one", object_read_version(rekeyed, item, v1.hash));
  Stmt q = object_history_query(rekeyed, item);
  ObjectRow row;
  ASSERT_EQ(0, row_read(q.get(), new_key, &row));
  EXPECT_EQ("0:0:1:0:0:0;0:0;0:100:100:a", row.header);
  int loaded = 0;
  ASSERT_EQ(0, objects_load_current(rekeyed, 0, [&](int, const uint8_t* u, const uint8_t* h, const uint8_t* c4, size_t n) {
              std::string text;
              ASSERT_EQ(0, row_decipher_header(new_key, u, h, c4, n, &text));
              EXPECT_TRUE(text == "0:0:1:0:0:0;0:0;0:100:101:b" || text == "00000000000000000000000000000000:100:/");
              ++loaded;
            }));
  EXPECT_EQ(2, loaded);

  // Re-encipher the pages as the password change does; then only the new
  // key opens the file.
  db_close(db);
  db = nullptr;
  {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(0u, data.size() % 1024);
    for (size_t off = 0; off < data.size(); off += 1024) {
      page_transform(key, data.data() + off, 1024, 0, 1);
      page_transform(new_key, data.data() + off, 1024, 0, 0);
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  EXPECT_EQ(-1, db_get_sign_path(file.c_str(), check, key));
  ASSERT_EQ(0, db_get_sign_path(file.c_str(), check, new_key));
  EXPECT_EQ(0, key_check_verify(new_key, check));
  db = db_open(file.c_str());
  ASSERT_NE(nullptr, db);
  ASSERT_EQ(0, page_db_key(db, new_key, 32));
  rekeyed.db = db;
  EXPECT_EQ("two", object_read_current(rekeyed, item));
}

TEST_F(DbTest, FailedRekeyIsRolledBackWhole) {
  Version v1("0:0:1:0:0:0;0:0;0:100:100:a", "one");
  group([&] { return write(v1); });
  uint8_t new_key[32];
  ASSERT_EQ(0, random_bytes(new_key, 32));
  // Corrupt one stored length so deciphering fails midway.
  ASSERT_EQ(0, db_exec(db, "INSERT INTO t1 VALUES (zeroblob(16), zeroblob(20), 0, zeroblob(17), NULL)"));
  auto before = dump_data(db);
  ASSERT_EQ(0, db_exec(db, "BEGIN;"));
  EXPECT_NE(0, repo_rekey(db, key, new_key));
  ASSERT_EQ(0, db_exec(db, "ROLLBACK;"));
  EXPECT_EQ(before, dump_data(db));
}

TEST(SnapshotTest, CreateReplacesOldFileAndHasSnapshotTables) {
  TempDir dir;
  std::string f = dir.file("sync_1");
  {
    std::ofstream junk(f);
    junk << "old contents that are not a database";
  }
  uint8_t key[32];
  ASSERT_EQ(0, random_bytes(key, 32));
  sqlite3* db = db_create_snapshot(f.c_str(), key);
  ASSERT_NE(nullptr, db);
  for (const char* t : {"s1", "s2", "s3", "s4"}) EXPECT_EQ(0, count_in(db, t)) << t;
  EXPECT_EQ(0, db_exec(db, "INSERT INTO s1 VALUES (1,2,3,4,5)"));
  db_close(db);
  // Keyed with the repository key: unreadable without it.
  sqlite3* again = db_open(f.c_str());
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(-1, count_in(again, "s1"));
  ASSERT_EQ(0, page_db_key(again, key, 32));
  EXPECT_EQ(1, count_in(again, "s1"));
  db_close(again);
  // A snapshot that cannot be created leaves no file.
  EXPECT_EQ(nullptr, db_create_snapshot(dir.file("no/such/dir/sync_2").c_str(), nullptr));
}

// ---------------------------------------------------------------------------
// Configuration database

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(master_key(), 0, kMasterKeySize);
    file = dir.file("config");
  }
  TempDir dir;
  std::string file;
};

TEST_F(ConfigTest, CreateThenOpenWithRightAndWrongPassword) {
  sqlite3* cfg = config_create(dir.path().c_str(), "correct horse");
  ASSERT_NE(nullptr, cfg);
  uint8_t created_key[48];
  std::memcpy(created_key, master_key(), 48);
  // The salt is kept in clear at the start of the file.
  db_close(cfg);
  {
    std::ifstream in(file, std::ios::binary);
    uint8_t head[16];
    in.read(reinterpret_cast<char*>(head), 16);
    EXPECT_EQ(0, std::memcmp(head, created_key + 32, 16));
  }

  std::memset(master_key(), 0x55, kMasterKeySize);
  EXPECT_EQ(nullptr, config_open(file.c_str(), "wrong horse", nullptr));
  uint8_t untouched[48];
  std::memset(untouched, 0x55, 48);
  EXPECT_EQ(0, std::memcmp(master_key(), untouched, 48));  // a wrong password leaves master_key

  int scheme = -1;
  cfg = config_open(file.c_str(), "correct horse", &scheme);
  ASSERT_NE(nullptr, cfg);
  EXPECT_EQ(CONFIG_SCHEME_CURRENT, scheme);
  EXPECT_EQ(0, std::memcmp(master_key(), created_key, 48));
  EXPECT_EQ(0, repo_list_count(cfg));
  db_close(cfg);
}

TEST_F(ConfigTest, CreateRefusesToOverwriteAndKeyOutLeavesMasterKey) {
  sqlite3* cfg = db_create_config_v2(file.c_str(), "pw", nullptr);
  ASSERT_NE(nullptr, cfg);
  db_close(cfg);
  auto size = std::filesystem::file_size(file);
  EXPECT_EQ(nullptr, db_create_config_v2(file.c_str(), "other", nullptr));
  EXPECT_EQ(size, std::filesystem::file_size(file));  // the existing file survives

  uint8_t before[48], key_out[32];
  std::memcpy(before, master_key(), 48);
  std::string tmp = dir.file("config.tmp");
  cfg = db_create_config_v2(tmp.c_str(), "new pw", key_out);
  ASSERT_NE(nullptr, cfg);
  EXPECT_EQ(0, std::memcmp(before, master_key(), 48));
  uint8_t check[64];
  ASSERT_EQ(0, key_check_read(cfg, check));
  EXPECT_EQ(0, key_check_verify(key_out, check));
  db_close(cfg);
  // A creation that fails leaves no file.
  EXPECT_EQ(nullptr, db_create_config_v2(dir.file("nodir/config").c_str(), "pw", nullptr));
  EXPECT_FALSE(std::filesystem::exists(dir.file("nodir/config")));
}

TEST_F(ConfigTest, LegacyFileIsRecognised) {
  // An old-format file: keyed with derive_key (32 bytes), same schema.
  uint8_t legacy[32];
  derive_key("old password", legacy);
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(SQLITE_OK, page_db_open(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
    DbHandle db(raw);
    ASSERT_EQ(0, page_db_key(db.get(), legacy, 32));
    ASSERT_EQ(0, db_exec(db.get(), "CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1 INT, c2);CREATE TABLE t2(c1);CREATE TABLE t3(c PRIMARY KEY, v);"));
    uint8_t check[64];
    key_check_make(legacy, check);
    ASSERT_EQ(0, key_check_write(db.get(), check));
    ASSERT_EQ(0, setting_put_str(db.get(), "repo_root", "/home/x/Ordika"));
  }
  EXPECT_EQ(nullptr, config_open(file.c_str(), "not it", nullptr));
  int scheme = -1;
  sqlite3* cfg = config_open(file.c_str(), "old password", &scheme);
  ASSERT_NE(nullptr, cfg);
  EXPECT_EQ(CONFIG_SCHEME_LEGACY, scheme);
  EXPECT_EQ(0, std::memcmp(master_key(), legacy, 32));
  EXPECT_EQ("/home/x/Ordika", setting_get(cfg, "repo_root"));
  db_close(cfg);
  EXPECT_EQ(nullptr, config_open(dir.file("absent").c_str(), "old password", nullptr));
}

TEST_F(ConfigTest, SettingsReadDefaultsAndStoreTerminatedText) {
  sqlite3* cfg = config_create(file.c_str(), "pw");
  ASSERT_NE(nullptr, cfg);
  EXPECT_EQ("", setting_get(cfg, "repo_root"));
  EXPECT_EQ(800, setting_get_int(cfg, "win.width", 800));
  EXPECT_EQ(-2, setting_get_int(cfg, "tag.id", -2));

  ASSERT_EQ(0, setting_put_int(cfg, "win.width", 1024));
  ASSERT_EQ(0, setting_put_int(cfg, "win.left", -1));
  ASSERT_EQ(0, setting_put_str(cfg, "tag.uuid", "00ff"));
  ASSERT_EQ(0, setting_put_str(cfg, "item.uuid", ""));
  EXPECT_EQ(1024, setting_get_int(cfg, "win.width", 800));
  EXPECT_EQ(-1, setting_get_int(cfg, "win.left", 2147483647));
  EXPECT_EQ("00ff", setting_get(cfg, "tag.uuid"));
  EXPECT_EQ(7, setting_get_int(cfg, "item.uuid", 7));  // empty text: default
  ASSERT_EQ(0, setting_put_str(cfg, "win.height", "12abc"));
  EXPECT_EQ(12, setting_get_int(cfg, "win.height", 600));
  ASSERT_EQ(0, setting_put_int(cfg, "win.width", 640));  // replaces
  EXPECT_EQ(640, setting_get_int(cfg, "win.width", 800));

  // Stored as blobs with their terminating zero.
  EXPECT_EQ(1, count_in(cfg, "t3 WHERE c='win.width' AND v=x'36343000' AND typeof(v)='blob'"));
  db_close(cfg);
}

TEST_F(ConfigTest, RecordsAndRepositoryList) {
  sqlite3* cfg = config_create(file.c_str(), "pw");
  ASSERT_NE(nullptr, cfg);
  uint8_t rec[1024];
  EXPECT_EQ(1, config_record_get(cfg, 0, rec, sizeof rec));

  std::vector<uint8_t> account(1024, 0);
  std::string text = "5\nuser\npass\nhost.example\n";
  std::memcpy(account.data(), text.data(), text.size());
  std::vector<uint8_t> stored = account;
  ASSERT_EQ(0, secret_encipher(stored.data(), stored.size()));
  EXPECT_NE(account, stored);
  ASSERT_EQ(0, config_record_put(cfg, 0, stored.data(), stored.size()));
  ASSERT_EQ(0, config_record_put(cfg, 0, stored.data(), stored.size()));  // replaces
  EXPECT_EQ(1, count_in(cfg, "t1"));
  EXPECT_EQ(-1, config_record_get(cfg, 0, rec, 1008));  // wrong length
  ASSERT_EQ(0, config_record_get(cfg, 0, rec, sizeof rec));
  ASSERT_EQ(0, secret_decipher(rec, sizeof rec));
  EXPECT_EQ(0, std::memcmp(rec, account.data(), 1024));
  EXPECT_EQ(-1, secret_encipher(rec, 1000));

  // Deciphering with page_cipher on master_key, independently.
  CipherContext ctx;
  ASSERT_EQ(0, page_cipher(&ctx, nullptr, CIPHER_DECRYPT));
  std::vector<uint8_t> check = stored;
  cbc_decrypt_inplace(&ctx, check.data(), check.size());
  EXPECT_EQ(account, check);

  // A replacement that cannot be inserted keeps the old record.
  ASSERT_EQ(0, db_exec(cfg, "CREATE TRIGGER refuse BEFORE INSERT ON t1 BEGIN SELECT RAISE(ABORT, 'no'); END;"));
  std::vector<uint8_t> other(1024, 7);
  EXPECT_NE(0, config_record_put(cfg, 0, other.data(), other.size()));
  ASSERT_EQ(0, config_record_get(cfg, 0, rec, sizeof rec));
  EXPECT_EQ(0, std::memcmp(rec, stored.data(), 1024));
  EXPECT_TRUE(sqlite3_get_autocommit(cfg));
  ASSERT_EQ(0, db_exec(cfg, "DROP TRIGGER refuse;"));

  int64_t a = 0, b = 0, c = 0;
  std::string r1(32, 'a'), r2(48, 'b'), r3(16, 'c');
  ASSERT_EQ(0, repo_list_add(cfg, u8(r1), r1.size(), &a));
  ASSERT_EQ(0, repo_list_add(cfg, u8(r2), r2.size(), &b));
  ASSERT_EQ(0, repo_list_add(cfg, u8(r3), r3.size(), &c));
  EXPECT_EQ(1, a);
  EXPECT_EQ(2, b);
  EXPECT_EQ(3, c);
  EXPECT_EQ(3, repo_list_count(cfg));
  ASSERT_EQ(0, repo_list_remove(cfg, a));
  std::string r2b(64, 'B');
  ASSERT_EQ(0, repo_list_update(cfg, b, u8(r2b), r2b.size()));
  std::vector<std::pair<int64_t, std::string>> seen;
  ASSERT_EQ(0, repo_list_each(cfg, [&](int64_t rowid, const uint8_t* p, size_t n) {
              seen.emplace_back(rowid, std::string(reinterpret_cast<const char*>(p), n));
            }));
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ(std::make_pair(int64_t{2}, r2b), seen[0]);
  EXPECT_EQ(std::make_pair(int64_t{3}, r3), seen[1]);
  db_close(cfg);
}

}  // namespace
