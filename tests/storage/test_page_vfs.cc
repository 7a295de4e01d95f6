// SPDX-License-Identifier: GPL-3.0-or-later
// Encrypted database pages: the file format on disk, journals, keys of
// attached databases, failures and resource release.
#include <dirent.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "crypto/crypto.h"
#include "crypto/page_codec.h"
#include "crypto/test_util.h"
#include "storage/page_vfs.h"

namespace {

// Every page goes through a cipher context: both of its paths.
CIPHER_PATHS(PageVfs);

using Bytes = std::vector<uint8_t>;
constexpr int kPage = 1024;
const char kMagic[] = "SQLite format 3";  // 16 bytes with its NUL

using test_support::TempDir;

struct Db {
  sqlite3* db = nullptr;
  Db() = default;
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  ~Db() { close(); }
  void close() {
    if (db) sqlite3_close(db);
    db = nullptr;
  }
};

Bytes read_all(const std::string& path) {
  Bytes out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  fclose(f);
  return out;
}

void write_all(const std::string& path, const Bytes& data) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  ASSERT_EQ(fwrite(data.data(), 1, data.size(), f), data.size());
  fclose(f);
}

bool contains(const Bytes& hay, const std::string& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

Bytes make_key(int len, uint8_t seed) {
  Bytes k(static_cast<size_t>(len), 0);
  for (int i = 0; i < len; i++) k[size_t(i)] = uint8_t(seed + i * 7);
  return k;
}

// Reference AES-256-CBC of whole blocks keyed with SHA-256(key), zero IV,
// straight through libcrypto.
void ref_cbc(const uint8_t* key32, uint8_t* data, size_t len, bool encrypt) {
  uint8_t k[32];
  unsigned int n = 0;
  EVP_Digest(key32, 32, k, &n, EVP_sha256(), nullptr);
  uint8_t iv[16] = {};
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(c, EVP_aes_256_cbc(), nullptr, k, iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(c, 0);
  Bytes out(len + 16);
  int outl = 0;
  EVP_CipherUpdate(c, out.data(), &outl, data, int(len));
  EVP_CIPHER_CTX_free(c);
  memcpy(data, out.data(), len);
}

int exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// First column of the first row as text; "" on no row, "ERR:<code>" on failure.
std::string query(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
  if (rc != SQLITE_OK) return "ERR:" + std::to_string(rc);
  std::string out;
  rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(st, 0);
    out = t ? reinterpret_cast<const char*>(t) : "";
  } else if (rc != SQLITE_DONE) {
    out = "ERR:" + std::to_string(rc);
  }
  sqlite3_finalize(st);
  return out;
}

int open_keyed(Db& d, const std::string& path, const Bytes& key, int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
  int rc = page_db_open(path.c_str(), &d.db, flags);
  if (rc != SQLITE_OK) return rc;
  return page_db_key(d.db, key.empty() ? nullptr : key.data(), int(key.size()));
}

// A table with n rows of recognisable plaintext.
void fill(sqlite3* db, int n) {
  ASSERT_EQ(exec(db, "CREATE TABLE IF NOT EXISTS t(id INTEGER PRIMARY KEY, v TEXT)"), SQLITE_OK);
  ASSERT_EQ(exec(db, "BEGIN"), SQLITE_OK);
  for (int i = 0; i < n; i++) {
    std::string sql = "INSERT INTO t(v) VALUES('MARKER-" + std::to_string(i) + "-plaintext-row')";
    ASSERT_EQ(exec(db, sql.c_str()), SQLITE_OK);
  }
  ASSERT_EQ(exec(db, "COMMIT"), SQLITE_OK);
}

// Page 1 of an encrypted file, decrypted (bytes 0..15 as stored on disk).
Bytes decrypt_page1(const Bytes& file, const uint8_t* key32, int prefix) {
  Bytes p(file.begin(), file.begin() + kPage);
  ref_cbc(key32, p.data() + prefix, size_t(kPage - prefix), false);
  return p;
}

void expect_all_ciphertext(const Bytes& file) {
  EXPECT_FALSE(contains(file, "MARKER"));
  EXPECT_FALSE(contains(file, "plaintext"));
  EXPECT_FALSE(contains(file, "CREATE TABLE"));
  EXPECT_FALSE(contains(file, std::string(kMagic, 15)));
}

TEST_P(PageVfs, Key48KeepsSaltPlainAndEncryptsTheRest) {
  TempDir dir;
  std::string path = dir.file("config");
  Bytes key = make_key(48, 1);
  {
    Db d;
    ASSERT_EQ(open_keyed(d, path, key), 0);
    fill(d.db, 300);
    EXPECT_EQ(query(d.db, "PRAGMA page_size"), "1024");
    EXPECT_EQ(query(d.db, "PRAGMA journal_mode"), "delete");
    EXPECT_EQ(query(d.db, "PRAGMA auto_vacuum"), "0");
    EXPECT_EQ(page_db_get_key(d.db) != nullptr, true);
    EXPECT_EQ(memcmp(page_db_get_key(d.db), key.data(), 32), 0);
  }
  Bytes file = read_all(path);
  ASSERT_GT(file.size(), size_t(4 * kPage));
  EXPECT_EQ(file.size() % kPage, 0u);
  EXPECT_EQ(memcmp(file.data(), key.data() + 32, 16), 0);
  expect_all_ciphertext(file);
  Bytes p1 = decrypt_page1(file, key.data(), 16);
  EXPECT_EQ(p1[16], 4);  // page size 1024
  EXPECT_EQ(p1[17], 0);
  EXPECT_EQ(p1[20], 0);  // no reserved bytes
  EXPECT_FALSE(exists(path + "-journal"));

  Db d;
  ASSERT_EQ(open_keyed(d, path, key), 0);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "300");
  EXPECT_EQ(query(d.db, "SELECT v FROM t WHERE id=7"), "MARKER-6-plaintext-row");
  EXPECT_EQ(query(d.db, "PRAGMA integrity_check"), "ok");
}

TEST_P(PageVfs, Key32HasNoReadableByteAndKeepsItsRandomHeader) {
  TempDir dir;
  std::string path = dir.file("data");
  Bytes key = make_key(32, 9);
  Bytes header;
  {
    Db d;
    ASSERT_EQ(open_keyed(d, path, key), 0);
    fill(d.db, 50);
    Bytes file = read_all(path);
    expect_all_ciphertext(file);
    Bytes p1 = decrypt_page1(file, key.data(), 0);
    header.assign(p1.begin(), p1.begin() + 16);
    EXPECT_NE(memcmp(header.data(), kMagic, 16), 0);
    EXPECT_NE(memcmp(file.data(), header.data(), 16), 0);  // stored encrypted
    EXPECT_EQ(p1[16], 4);
    EXPECT_EQ(p1[17], 0);
    fill(d.db, 50);  // every commit rewrites page 1
  }
  {
    Db d;
    ASSERT_EQ(open_keyed(d, path, key), 0);
    ASSERT_EQ(exec(d.db, "CREATE TABLE u(x); INSERT INTO u VALUES(1);"), SQLITE_OK);
    EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "100");
  }
  Bytes file = read_all(path);
  expect_all_ciphertext(file);
  Bytes p1 = decrypt_page1(file, key.data(), 0);
  EXPECT_EQ(Bytes(p1.begin(), p1.begin() + 16), header);

  // Two new databases get different header bytes.
  Db other;
  ASSERT_EQ(open_keyed(other, dir.file("data2"), key), 0);
  fill(other.db, 1);
  Bytes p1b = decrypt_page1(read_all(dir.file("data2")), key.data(), 0);
  EXPECT_NE(Bytes(p1b.begin(), p1b.begin() + 16), header);
}

TEST_P(PageVfs, KeyOfOtherLengthStoresPlainWithoutMagic) {
  TempDir dir;
  std::string path = dir.file("plain");
  Bytes key = make_key(40, 3);
  Bytes first16;
  {
    Db d;
    ASSERT_EQ(page_db_open(path.c_str(), &d.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    EXPECT_EQ(page_db_key(d.db, key.data(), 40), 0);
    EXPECT_EQ(page_db_get_key(d.db), nullptr);
    fill(d.db, 20);
    Bytes file = read_all(path);
    EXPECT_TRUE(contains(file, "MARKER-3-plaintext-row"));
    EXPECT_TRUE(contains(file, "CREATE TABLE"));
    EXPECT_FALSE(contains(file, std::string(kMagic, 15)));
    EXPECT_EQ(file[16], 4);
    EXPECT_EQ(file[17], 0);
    first16.assign(file.begin(), file.begin() + 16);
    fill(d.db, 20);
    ASSERT_EQ(exec(d.db, "PRAGMA cache_size=2; BEGIN; CREATE TABLE u(x); UPDATE t SET v = randomblob(600);"), SQLITE_OK);
    EXPECT_FALSE(contains(read_all(path + "-journal"), std::string(kMagic, 15)));
    ASSERT_EQ(exec(d.db, "ROLLBACK"), SQLITE_OK);
  }
  Bytes file = read_all(path);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), first16);
  Db d;
  ASSERT_EQ(page_db_open(path.c_str(), &d.db, SQLITE_OPEN_READWRITE), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "40");
}

TEST_P(PageVfs, AttachedDatabasesInheritTheMainKeyWithoutPrefix) {
  TempDir dir;
  Bytes key = make_key(48, 5);
  std::string main_path = dir.file("config"), att_path = dir.file("sync_1");
  {
    Db d;
    ASSERT_EQ(open_keyed(d, main_path, key), 0);
    fill(d.db, 10);
    std::string sql = "ATTACH '" + att_path + "' AS sync1;";
    ASSERT_EQ(exec(d.db, sql.c_str()), SQLITE_OK);
    ASSERT_EQ(exec(d.db, "CREATE TABLE sync1.s(v); INSERT INTO sync1.s SELECT v FROM main.t;"), SQLITE_OK);
    EXPECT_EQ(query(d.db, "PRAGMA sync1.page_size"), "1024");
    // A transaction over both files goes through a super-journal.
    ASSERT_EQ(exec(d.db, "BEGIN; INSERT INTO t(v) VALUES('MARKER-x'); INSERT INTO sync1.s VALUES('MARKER-y'); COMMIT;"),
              SQLITE_OK);
  }
  Bytes file = read_all(att_path);
  ASSERT_GE(file.size(), size_t(2 * kPage));
  expect_all_ciphertext(file);
  EXPECT_NE(memcmp(file.data(), key.data() + 32, 16), 0);  // no salt in plain
  Bytes p1 = decrypt_page1(file, key.data(), 0);
  EXPECT_NE(memcmp(p1.data(), kMagic, 16), 0);
  EXPECT_EQ(p1[16], 4);
  EXPECT_EQ(p1[17], 0);
  expect_all_ciphertext(read_all(main_path));
  EXPECT_EQ(dir.names().size(), 2u);

  Db d;
  ASSERT_EQ(open_keyed(d, att_path, Bytes(key.begin(), key.begin() + 32)), 0);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM s"), "11");
}

TEST_P(PageVfs, AttachWithItsOwnKey) {
  TempDir dir;
  Bytes main_key = make_key(32, 1), other_key = make_key(32, 77);
  std::string other = dir.file("other");
  {
    Db d;
    ASSERT_EQ(open_keyed(d, other, other_key), 0);
    fill(d.db, 5);
  }
  Db d;
  ASSERT_EQ(open_keyed(d, dir.file("main"), main_key), 0);
  fill(d.db, 1);
  std::string sql = "ATTACH '" + other + "' AS o;";
  EXPECT_NE(exec(d.db, sql.c_str()), SQLITE_OK);  // the main key does not fit
  ASSERT_EQ(page_db_attach(d.db, other.c_str(), "o", other_key.data(), 32), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM o.t"), "5");
  ASSERT_EQ(exec(d.db, "INSERT INTO o.t(v) VALUES('z')"), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM main.t"), "1");
}

// Noise under a wrong key sometimes reads as a header claiming WAL; the
// engine would then fail with "unable to open" instead of "not a database".
TEST_P(PageVfs, HeaderClaimingWalReadsAsNotADatabase) {
  TempDir dir;
  std::string p = dir.file("plain");
  Bytes odd = make_key(40, 3);  // installs no key: pages stay plain
  {
    Db d;
    ASSERT_EQ(open_keyed(d, p, odd), 0);
    fill(d.db, 5);
  }
  Bytes data = read_all(p);
  ASSERT_GE(data.size(), 1024u);
  data[18] = 2;
  data[19] = 2;
  write_all(p, data);
  Db d;
  ASSERT_EQ(page_db_open(p.c_str(), &d.db, SQLITE_OPEN_READWRITE), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "ERR:" + std::to_string(SQLITE_NOTADB));
  EXPECT_EQ(read_all(p), data);
}

TEST_P(PageVfs, WrongKeyFailsCleanly) {
  TempDir dir;
  std::string p32 = dir.file("a"), p48 = dir.file("b");
  Bytes k32 = make_key(32, 1), k48 = make_key(48, 2);
  {
    Db a, b;
    ASSERT_EQ(open_keyed(a, p32, k32), 0);
    ASSERT_EQ(open_keyed(b, p48, k48), 0);
    fill(a.db, 30);
    fill(b.db, 30);
  }
  Bytes before32 = read_all(p32), before48 = read_all(p48);
  for (int attempt = 0; attempt < 3; attempt++) {
    Bytes wrong32 = make_key(32, uint8_t(100 + attempt));
    Bytes wrong48 = k48;
    wrong48[uint8_t(attempt)] ^= 1;
    Db a, b, c;
    ASSERT_EQ(open_keyed(a, p32, wrong32), 0);
    ASSERT_EQ(open_keyed(b, p48, wrong48), 0);
    ASSERT_EQ(page_db_open(p32.c_str(), &c.db, SQLITE_OPEN_READWRITE), SQLITE_OK);  // no key at all
    for (sqlite3* db : {a.db, b.db, c.db}) {
      std::string r = query(db, "SELECT count(*) FROM t");
      EXPECT_EQ(r, "ERR:" + std::to_string(SQLITE_NOTADB)) << r;
      EXPECT_NE(exec(db, "INSERT INTO t(v) VALUES(1)"), SQLITE_OK);
    }
  }
  EXPECT_EQ(read_all(p32), before32);
  EXPECT_EQ(read_all(p48), before48);
}

TEST_P(PageVfs, RollbackRestoresLargeTransactions) {
  TempDir dir;
  std::string path = dir.file("data");
  Bytes key = make_key(32, 4);
  Db d;
  ASSERT_EQ(open_keyed(d, path, key), 0);
  fill(d.db, 500);
  std::string sum = query(d.db, "SELECT sum(length(v)) || ':' || group_concat(v) FROM t");
  ASSERT_EQ(exec(d.db, "PRAGMA cache_size=8"), SQLITE_OK);  // spill to the file mid-transaction
  ASSERT_EQ(exec(d.db, "BEGIN; UPDATE t SET v = v || randomblob(300); DELETE FROM t WHERE id % 3 = 0;"), SQLITE_OK);
  for (int i = 0; i < 20; i++)
    ASSERT_EQ(exec(d.db, "INSERT INTO t(v) SELECT randomblob(200) FROM t LIMIT 100"), SQLITE_OK);
  ASSERT_TRUE(exists(path + "-journal"));
  expect_all_ciphertext(read_all(path + "-journal"));
  ASSERT_EQ(exec(d.db, "ROLLBACK"), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT sum(length(v)) || ':' || group_concat(v) FROM t"), sum);
  EXPECT_EQ(query(d.db, "PRAGMA integrity_check"), "ok");

  // Savepoints play back from the same journal.
  ASSERT_EQ(exec(d.db, "BEGIN; INSERT INTO t(v) VALUES('kept'); SAVEPOINT s; UPDATE t SET v = randomblob(500);"
                       "ROLLBACK TO s; RELEASE s; COMMIT;"),
            SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t WHERE v LIKE 'MARKER-%'"), "500");
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "501");
  d.close();
  EXPECT_FALSE(exists(path + "-journal"));
}

TEST_P(PageVfs, HotJournalOfAKilledWriterIsRolledBack) {
  TempDir dir;
  std::string path = dir.file("data");
  Bytes key = make_key(48, 8);
  std::string before;
  {
    Db d;
    ASSERT_EQ(open_keyed(d, path, key), 0);
    fill(d.db, 400);
    before = query(d.db, "SELECT group_concat(v) FROM t");
  }
  Bytes header = read_all(path);
  header.resize(16);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sqlite3* db = nullptr;
    if (page_db_open(path.c_str(), &db, SQLITE_OPEN_READWRITE) != SQLITE_OK) _exit(2);
    page_db_key(db, key.data(), 48);
    exec(db, "PRAGMA cache_size=8");
    if (exec(db, "BEGIN; UPDATE t SET v = 'CHANGED' || randomblob(100); INSERT INTO t(v) SELECT v FROM t;") !=
        SQLITE_OK)
      _exit(3);
    _exit(0);  // dies inside the transaction
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(exists(path + "-journal"));

  Bytes journal = read_all(path + "-journal");
  expect_all_ciphertext(journal);
  EXPECT_FALSE(contains(journal, "CHANGED"));
  // Header: magic(8) nRec(4) cksumInit(4) dbSize(4) sector(4) page(4).
  ASSERT_GT(journal.size(), 512u);
  auto be32 = [&](size_t o) {
    return uint32_t(journal[o]) << 24 | uint32_t(journal[o + 1]) << 16 | uint32_t(journal[o + 2]) << 8 |
           journal[o + 3];
  };
  uint32_t nrec = be32(8), init = be32(12), sector = be32(20);
  EXPECT_EQ(sector, 512u);
  EXPECT_EQ(be32(24), 1024u);
  ASSERT_GT(nrec, 0u);
  bool saw_page1 = false;
  for (uint32_t r = 0; r < nrec; r++) {
    size_t off = sector + size_t(r) * (kPage + 8);
    ASSERT_LE(off + kPage + 8, journal.size());
    uint32_t pgno = be32(off);
    const uint8_t* img = journal.data() + off + 4;
    // The checksum covers the image as stored (encrypted).
    uint32_t sum = init;
    for (int i = kPage - 200; i > 0; i -= 200) sum += img[i];
    EXPECT_EQ(be32(off + 4 + kPage), sum) << "record " << r;
    if (pgno == 1) {
      saw_page1 = true;
      EXPECT_EQ(Bytes(img, img + 16), header);  // the salt, as in the file
      Bytes p(img, img + kPage);
      ref_cbc(key.data(), p.data() + 16, kPage - 16, false);
      EXPECT_EQ(p[16], 4);
      EXPECT_EQ(p[17], 0);
    }
  }
  EXPECT_TRUE(saw_page1);

  Db d;
  ASSERT_EQ(open_keyed(d, path, key), 0);
  EXPECT_EQ(query(d.db, "SELECT group_concat(v) FROM t"), before);
  EXPECT_EQ(query(d.db, "PRAGMA integrity_check"), "ok");
  EXPECT_FALSE(exists(path + "-journal"));
  d.close();
  Bytes after = read_all(path);
  after.resize(16);
  EXPECT_EQ(after, header);
}

TEST_P(PageVfs, TruncatedOrCorruptFilesFailCleanly) {
  TempDir dir;
  std::string path = dir.file("data");
  Bytes key = make_key(32, 6);
  {
    Db d;
    ASSERT_EQ(open_keyed(d, path, key), 0);
    fill(d.db, 400);
  }
  Bytes good = read_all(path);
  ASSERT_GT(good.size(), size_t(10 * kPage));
  struct Case {
    size_t size;
    long flip;
  };
  const Case cases[] = {{1, -1}, {15, -1}, {500, -1}, {1023, -1}, {1024, -1}, {1500, -1}, {5 * 1024 + 10, -1},
                        {good.size() - 1, -1}, {good.size(), 100}, {good.size(), 3 * kPage + 7}};
  for (const Case& c : cases) {
    Bytes bad(good.begin(), good.begin() + long(c.size));
    if (c.flip >= 0) bad[size_t(c.flip)] ^= 0x40;
    std::string p = dir.file("bad");
    write_all(p, bad);
    Db d;
    ASSERT_EQ(open_keyed(d, p, key), 0);
    std::string count = query(d.db, "SELECT count(*) FROM t");
    std::string check = query(d.db, "PRAGMA integrity_check");
    EXPECT_FALSE(count == "400" && check == "ok") << c.size << " " << c.flip;
    d.close();
    unlink(p.c_str());
  }
}

// Every VFS registered with the engine, walking from the default one.
int registered_vfs_count() {
  int n = 0;
  for (sqlite3_vfs* v = sqlite3_vfs_find(nullptr); v; v = v->pNext) n++;
  return n;
}

TEST_P(PageVfs, ConnectionsReleaseTheirVfsOnClose) {
  TempDir dir;
  Bytes key = make_key(32, 2);
  {
    Db d;
    ASSERT_EQ(open_keyed(d, dir.file("data"), key), 0);
    fill(d.db, 10);
  }
  int before = registered_vfs_count();
  for (int i = 0; i < 100; i++) {
    Db d;
    ASSERT_EQ(open_keyed(d, dir.file("data"), key), 0);
    EXPECT_EQ(registered_vfs_count(), before + 1);
    ASSERT_EQ(exec(d.db, ("ATTACH '" + dir.file("att") + "' AS a; CREATE TABLE IF NOT EXISTS a.x(v);").c_str()),
              SQLITE_OK);
    EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "10");
    if (i % 2) {
      sqlite3_stmt* st = nullptr;  // close_v2 with a live statement defers the close
      ASSERT_EQ(sqlite3_prepare_v2(d.db, "SELECT * FROM t", -1, &st, nullptr), SQLITE_OK);
      ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
      sqlite3_close_v2(d.db);
      d.db = nullptr;
      EXPECT_EQ(registered_vfs_count(), before + 1);
      sqlite3_finalize(st);
    }
  }
  EXPECT_EQ(registered_vfs_count(), before);
  // A failed open releases its VFS too.
  Db d;
  EXPECT_NE(page_db_open(dir.file("missing/dir/x").c_str(), &d.db, SQLITE_OPEN_READWRITE), SQLITE_OK);
  d.close();
  EXPECT_EQ(registered_vfs_count(), before);
}

// Encrypts a stock database file page by page as the format says.
Bytes encrypt_stock_file(const Bytes& plain, const Bytes& key, const uint8_t header[16]) {
  Bytes out = plain;
  int prefix = key.size() == 48 ? 16 : 0;
  memcpy(out.data(), header, 16);
  for (size_t off = 0; off < out.size(); off += kPage) {
    int skip = off == 0 ? prefix : 0;
    ref_cbc(key.data(), out.data() + off + skip, size_t(kPage - skip), true);
  }
  return out;
}

TEST_P(PageVfs, OpensFilesWrittenByAnIndependentEncoder) {
  TempDir dir;
  std::string stock = dir.file("stock");
  {
    Db d;
    ASSERT_EQ(sqlite3_open_v2(stock.c_str(), &d.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
              SQLITE_OK);
    ASSERT_EQ(exec(d.db, "PRAGMA page_size=1024; PRAGMA auto_vacuum=0;"), SQLITE_OK);
    fill(d.db, 250);
  }
  Bytes plain = read_all(stock);
  ASSERT_EQ(memcmp(plain.data(), kMagic, 16), 0);
  for (int len : {32, 48}) {
    Bytes key = make_key(len, 11);
    uint8_t header[16];
    if (len == 48)
      memcpy(header, key.data() + 32, 16);
    else
      for (int i = 0; i < 16; i++) header[i] = uint8_t(0xA0 + i);
    std::string path = dir.file(len == 48 ? "enc48" : "enc32");
    write_all(path, encrypt_stock_file(plain, key, header));
    {
      Db d;
      ASSERT_EQ(open_keyed(d, path, key), 0);
      EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "250");
      EXPECT_EQ(query(d.db, "SELECT v FROM t WHERE id=250"), "MARKER-249-plaintext-row");
      EXPECT_EQ(query(d.db, "PRAGMA integrity_check"), "ok");
      ASSERT_EQ(exec(d.db, "INSERT INTO t(v) VALUES('more')"), SQLITE_OK);
    }
    Bytes file = read_all(path);
    Bytes p1 = decrypt_page1(file, key.data(), len - 32);
    EXPECT_EQ(memcmp(p1.data(), header, 16), 0);
    Db d;
    ASSERT_EQ(open_keyed(d, path, key), 0);
    EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "251");
  }
}

TEST_P(PageVfs, PagesDecryptWithPageCipher) {
  TempDir dir;
  std::string path = dir.file("data");
  Bytes key = make_key(32, 21);
  {
    Db d;
    ASSERT_EQ(open_keyed(d, path, key), 0);
    fill(d.db, 120);
  }
  Bytes file = read_all(path);
  for (size_t off = 0; off < file.size(); off += kPage) {
    CipherContext ctx;
    ASSERT_EQ(page_cipher(&ctx, key.data(), CIPHER_DECRYPT), 0);
    ASSERT_EQ(cbc_decrypt_inplace(&ctx, file.data() + off, kPage), kPage);
  }
  memcpy(file.data(), kMagic, 16);
  std::string plain = dir.file("plain");
  write_all(plain, file);
  Db d;
  ASSERT_EQ(sqlite3_open_v2(plain.c_str(), &d.db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "120");
  EXPECT_EQ(query(d.db, "PRAGMA integrity_check"), "ok");
}

TEST_P(PageVfs, PageTransformMatchesTheFormat) {
  Bytes key = make_key(32, 40);
  Bytes page(kPage);
  for (int i = 0; i < kPage; i++) page[size_t(i)] = uint8_t(i * 13);
  for (int skip : {0, 16}) {
    Bytes p = page, ref = page;
    page_transform(key.data(), p.data(), kPage, skip, 0);
    ref_cbc(key.data(), ref.data() + skip, size_t(kPage - skip), true);
    EXPECT_EQ(p, ref);
    EXPECT_EQ(memcmp(p.data(), page.data(), size_t(skip)), 0);
    // Another key in between must not leak its schedule into this one.
    Bytes q = page;
    page_transform(make_key(32, 41).data(), q.data(), kPage, skip, 0);
    EXPECT_NE(q, p);
    page_transform(key.data(), p.data(), kPage, skip, 1);
    EXPECT_EQ(p, page);
  }
}

// Files of the process whose link names contain text.
int open_fds_matching(const char* text) {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) {
      char target[512];
      ssize_t len = readlink((std::string("/proc/self/fd/") + e->d_name).c_str(), target, sizeof target - 1);
      if (len > 0) {
        target[len] = 0;
        if (strstr(target, text)) n++;
      }
    }
    closedir(d);
  }
  return n;
}

TEST_P(PageVfs, TemporaryFilesNeverReachTheDisk) {
  TempDir dir;
  Db d;
  ASSERT_EQ(open_keyed(d, dir.file("data"), make_key(32, 3)), 0);
  EXPECT_EQ(query(d.db, "PRAGMA temp_store"), "2");
  fill(d.db, 200);
  // Even when asked for temporary files, they stay in memory.
  ASSERT_EQ(exec(d.db, "PRAGMA temp_store=FILE; PRAGMA cache_size=5;"), SQLITE_OK);
  ASSERT_EQ(exec(d.db, "CREATE TEMP TABLE tt(v); INSERT INTO tt SELECT v || randomblob(400) FROM t;"
                       "INSERT INTO tt SELECT v FROM tt; INSERT INTO tt SELECT v FROM tt;"),
            SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(d.db, "SELECT v FROM tt ORDER BY v DESC", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(open_fds_matching("etilqs"), 0);
  sqlite3_finalize(st);
  // A statement journal for a multi-row update inside a transaction.
  ASSERT_EQ(exec(d.db, "BEGIN; UPDATE t SET v = v || 'x'; UPDATE tt SET v = 1; COMMIT;"), SQLITE_OK);
  EXPECT_EQ(open_fds_matching("etilqs"), 0);
  d.close();
  EXPECT_EQ(dir.names(), std::vector<std::string>{"data"});
}

TEST_P(PageVfs, WalAndOtherPageSizesAreRefused) {
  TempDir dir;
  Db d;
  ASSERT_EQ(open_keyed(d, dir.file("data"), make_key(32, 3)), 0);
  EXPECT_NE(exec(d.db, "PRAGMA page_size=4096"), SQLITE_OK);
  EXPECT_EQ(exec(d.db, "PRAGMA page_size=1024"), SQLITE_OK);
  fill(d.db, 5);
  EXPECT_NE(exec(d.db, "PRAGMA journal_mode=WAL"), SQLITE_OK);
  EXPECT_EQ(exec(d.db, "PRAGMA locking_mode=EXCLUSIVE"), SQLITE_OK);
  EXPECT_NE(exec(d.db, "PRAGMA journal_mode=WAL"), SQLITE_OK);
  EXPECT_NE(exec(d.db, "PRAGMA page_size=8192; VACUUM;"), SQLITE_OK);
  EXPECT_EQ(query(d.db, "PRAGMA journal_mode"), "delete");
  ASSERT_EQ(exec(d.db, "INSERT INTO t(v) VALUES(1)"), SQLITE_OK);
  EXPECT_EQ(query(d.db, "PRAGMA page_size"), "1024");
  EXPECT_FALSE(exists(dir.file("data-wal")));
}

TEST_P(PageVfs, ConnectionsOnOneFileSeeEachOthersCommits) {
  TempDir dir;
  Bytes key = make_key(32, 12);
  Db a, b;
  ASSERT_EQ(open_keyed(a, dir.file("data"), key), 0);
  ASSERT_EQ(open_keyed(b, dir.file("data"), key), 0);
  fill(a.db, 10);
  EXPECT_EQ(query(b.db, "SELECT count(*) FROM t"), "10");
  fill(b.db, 5);
  EXPECT_EQ(query(a.db, "SELECT count(*) FROM t"), "15");
  ASSERT_EQ(exec(a.db, "BEGIN IMMEDIATE"), SQLITE_OK);
  EXPECT_EQ(exec(b.db, "INSERT INTO t(v) VALUES(1)"), SQLITE_BUSY);
  ASSERT_EQ(exec(a.db, "DELETE FROM t WHERE id < 5; COMMIT"), SQLITE_OK);
  EXPECT_EQ(query(b.db, "SELECT count(*) FROM t"), "11");
  EXPECT_EQ(query(b.db, "PRAGMA integrity_check"), "ok");
}

// Each connection keeps the file size and pages read ahead between locks;
// another connection growing, rewriting or shrinking the file must still be
// seen, as must this connection's own writes in the middle of a scan.
TEST_P(PageVfs, ScansSeeOtherConnectionsGrowAndShrinkTheFile) {
  TempDir dir;
  Bytes key = make_key(48, 14);
  Db a, b;
  ASSERT_EQ(open_keyed(a, dir.file("data"), key), 0);
  ASSERT_EQ(open_keyed(b, dir.file("data"), key), 0);
  ASSERT_EQ(exec(a.db, "PRAGMA cache_size=5"), SQLITE_OK);
  fill(a.db, 2000);
  const char* sum = "SELECT count(*) || ':' || sum(length(v)) FROM t";
  std::string before = query(a.db, sum);
  EXPECT_EQ(query(b.db, sum), before);
  fill(b.db, 3000);  // beyond a's last known size
  EXPECT_EQ(query(a.db, "SELECT count(*) FROM t"), "5000");
  EXPECT_EQ(query(a.db, "SELECT max(id) FROM t"), "5000");
  // Rewritten in place, the size unchanged: a streams through the last
  // pages, b rewrites them, a reads them again.
  const char* tail = "SELECT count(*) FROM t WHERE id > 4800 AND v LIKE 'changed-%'";
  EXPECT_EQ(query(a.db, tail), "0");
  ASSERT_EQ(exec(b.db, "UPDATE t SET v = 'changed-' || substr(v, 9) WHERE id > 4800"), SQLITE_OK);
  EXPECT_EQ(query(a.db, tail), "200");
  ASSERT_EQ(exec(b.db, "UPDATE t SET v = 'changed-' || substr(v, 9) WHERE id % 3 = 0"), SQLITE_OK);
  EXPECT_EQ(query(a.db, "SELECT count(*) FROM t WHERE v LIKE 'changed-%'"), "1800");
  ASSERT_EQ(exec(b.db, "DELETE FROM t WHERE id > 100; VACUUM"), SQLITE_OK);
  EXPECT_EQ(query(a.db, sum), query(b.db, sum));
  EXPECT_EQ(query(a.db, "SELECT count(*) FROM t"), "100");
  EXPECT_EQ(query(a.db, "PRAGMA integrity_check"), "ok");

  // A small file that one read-ahead covers whole: rewritten by b, it must
  // be read afresh by c, root page and leaves alike.
  Db c;
  ASSERT_EQ(open_keyed(c, dir.file("small"), key), 0);
  fill(c.db, 200);
  Db e;
  ASSERT_EQ(open_keyed(e, dir.file("small"), key), 0);
  const char* changed = "SELECT count(*) FROM t WHERE v LIKE 'changed-%'";
  EXPECT_EQ(query(e.db, changed), "0");
  ASSERT_EQ(exec(c.db, "UPDATE t SET v = 'changed-' || substr(v, 9) WHERE id % 2 = 0"), SQLITE_OK);
  EXPECT_EQ(query(e.db, changed), "100");
  ASSERT_EQ(exec(c.db, "DELETE FROM t WHERE id > 20"), SQLITE_OK);
  EXPECT_EQ(query(e.db, "SELECT count(*) FROM t"), "20");

  // Writes in the middle of a read: the pages read ahead must not hide them.
  fill(a.db, 2000);
  ASSERT_EQ(exec(a.db, "BEGIN"), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(a.db, "SELECT id FROM t ORDER BY id", -1, &st, nullptr), SQLITE_OK);
  int rows = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    if (++rows == 500) {
      ASSERT_EQ(exec(a.db, "UPDATE t SET v = 'late' WHERE id % 7 = 0"), SQLITE_OK);
    }
  }
  sqlite3_finalize(st);
  EXPECT_EQ(rows, 2100);
  EXPECT_EQ(query(a.db, "SELECT count(*) FROM t WHERE v = 'late'"), "300");
  ASSERT_EQ(exec(a.db, "COMMIT"), SQLITE_OK);
  EXPECT_EQ(query(b.db, "SELECT count(*) FROM t WHERE v = 'late'"), "300");
  EXPECT_EQ(query(b.db, "PRAGMA integrity_check"), "ok");
  expect_all_ciphertext(read_all(dir.file("data")));
}

// A scan reads its pages from a mapping of the file; a transaction that then
// grows the file must still write every page, salt and header as stored.
TEST_P(PageVfs, WritesAfterAMappedScanKeepTheFileWhole) {
  TempDir dir;
  std::string path = dir.file("data");
  Bytes key = make_key(48, 15);
  Db d;
  ASSERT_EQ(open_keyed(d, path, key), 0);
  ASSERT_EQ(exec(d.db, "PRAGMA cache_size=5"), SQLITE_OK);
  fill(d.db, 2000);
  ASSERT_EQ(exec(d.db, "BEGIN"), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t WHERE v LIKE 'MARKER-%'"), "2000");
  ASSERT_EQ(exec(d.db, "INSERT INTO t(v) SELECT 'grown-' || v FROM t"), SQLITE_OK);
  ASSERT_EQ(exec(d.db, "COMMIT"), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t WHERE v LIKE 'grown-%'"), "2000");
  Bytes file = read_all(path);
  EXPECT_EQ(file.size() % kPage, 0u);
  EXPECT_EQ(memcmp(file.data(), key.data() + 32, 16), 0);
  expect_all_ciphertext(file);
  Db again;
  ASSERT_EQ(open_keyed(again, path, key), 0);
  EXPECT_EQ(query(again.db, "SELECT count(*) FROM t"), "4000");
  EXPECT_EQ(query(again.db, "PRAGMA integrity_check"), "ok");
}

TEST_P(PageVfs, VacuumKeepsTheFormat) {
  TempDir dir;
  std::string path = dir.file("data");
  Bytes key = make_key(48, 13);
  Db d;
  ASSERT_EQ(open_keyed(d, path, key), 0);
  fill(d.db, 300);
  ASSERT_EQ(exec(d.db, "DELETE FROM t WHERE id % 2 = 0; VACUUM;"), SQLITE_OK);
  EXPECT_EQ(query(d.db, "SELECT count(*) FROM t"), "150");
  Bytes file = read_all(path);
  EXPECT_EQ(memcmp(file.data(), key.data() + 32, 16), 0);
  expect_all_ciphertext(file);
  EXPECT_EQ(decrypt_page1(file, key.data(), 16)[16], 4);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"data"});
}

}  // namespace
