// SPDX-License-Identifier: GPL-3.0-or-later
// The source store beside a repository: records, collections, transactions,
// encryption under the repository key, and the password change.
#include "storage/source_store.h"

#include <fstream>
#include <iterator>

#include "storage/repo.h"
#include "storage_fixture.h"
#include "support/files.h"

using namespace storage_test;

namespace {

class SourceStoreTest : public ProfileTest {
 protected:
  void SetUp() override {
    ProfileTest::SetUp();
    repo = add_repo("Calendar", "Aa1!source-store-pass");
    ASSERT_GE(repo, 0);
  }
  std::string sources_path() const { return path_join(repo_table()[repo].path, kSourcesFile); }

  static SourceRecord record(int n, const std::string& component, const std::string& rule = "") {
    SourceRecord r;
    fill_uuid(r.uuid, n);
    r.component = component;
    r.rule = rule;
    return r;
  }
  int repo = -1;
};

const char kEvent[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:abc\r\nSUMMARY:Secret meeting\r\nATTENDEE;CN=Bo:mailto:bo@x"
    "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";

TEST_F(SourceStoreTest, ARepositoryWithoutTheFileReadsAsEmptyAndMakesNoFile) {
  uint8_t uuid[16];
  fill_uuid(uuid, 1);
  SourceRecord r;
  EXPECT_EQ(1, source_get(repo, uuid, &r));
  EXPECT_EQ(0, source_remove(repo, uuid));
  int calls = 0;
  EXPECT_EQ(0, source_each(repo, [&](const SourceRecord&) { return ++calls, 0; }));
  std::vector<SourceCollection> cols;
  EXPECT_EQ(0, source_collections(repo, &cols));
  EXPECT_EQ(0, calls);
  EXPECT_FALSE(source_exists(repo));
  EXPECT_FALSE(file_exists(sources_path()));
}

TEST_F(SourceStoreTest, RecordsRoundTripAcrossReopening) {
  SourceRecord a = record(1, kEvent, "FREQ=MONTHLY;BYDAY=-1FR");
  a.href = "/cal/abc.ics";
  a.etag = "\"e1\"";
  fill_uuid(a.collection, 9);
  for (int i = 0; i < 20; i++) a.synced_hash[i] = static_cast<uint8_t>(i + 1);
  SourceRecord b = record(2, "BEGIN:VCARD\r\nFN:Bo\r\nEND:VCARD\r\n");
  ASSERT_EQ(0, source_put(repo, a));
  ASSERT_EQ(0, source_put(repo, b));
  repo_close(&repo_table()[repo]);

  SourceRecord got;
  ASSERT_EQ(0, source_get(repo, a.uuid, &got));
  EXPECT_EQ(a.component, got.component);
  EXPECT_EQ(a.rule, got.rule);
  EXPECT_EQ(a.href, got.href);
  EXPECT_EQ(a.etag, got.etag);
  EXPECT_EQ(0, memcmp(a.collection, got.collection, 16));
  EXPECT_EQ(0, memcmp(a.synced_hash, got.synced_hash, 20));
  ASSERT_EQ(0, source_get(repo, b.uuid, &got));
  EXPECT_EQ(b.component, got.component);
  EXPECT_TRUE(got.rule.empty() && got.href.empty());
  uint8_t zero[20] = {};
  EXPECT_EQ(0, memcmp(zero, got.collection, 16));
  EXPECT_EQ(0, memcmp(zero, got.synced_hash, 20));
}

TEST_F(SourceStoreTest, PutReplacesAndRemoveDeletes) {
  ASSERT_EQ(0, source_put(repo, record(1, "old")));
  ASSERT_EQ(0, source_put(repo, record(1, "new")));
  SourceRecord got;
  ASSERT_EQ(0, source_get(repo, record(1, "").uuid, &got));
  EXPECT_EQ("new", got.component);
  ASSERT_EQ(0, source_remove(repo, got.uuid));
  EXPECT_EQ(1, source_get(repo, got.uuid, &got));
}

TEST_F(SourceStoreTest, RulesListsOnlyItemsWithAFullRule) {
  ASSERT_EQ(0, source_put(repo, record(1, "a", "FREQ=WEEKLY;BYDAY=MO,TH")));
  ASSERT_EQ(0, source_put(repo, record(2, "b")));
  ASSERT_EQ(0, source_put(repo, record(3, "c", "FREQ=DAILY;BYSETPOS=1")));
  std::vector<std::string> rules;
  ASSERT_EQ(0, source_rules(repo, [&](const uint8_t*, const std::string& r) { rules.push_back(r); }));
  std::sort(rules.begin(), rules.end());
  EXPECT_EQ((std::vector<std::string>{"FREQ=DAILY;BYSETPOS=1", "FREQ=WEEKLY;BYDAY=MO,TH"}), rules);
}

TEST_F(SourceStoreTest, EachWalksInUuidOrderAndStopsOnRequest) {
  for (int n : {3, 1, 2}) ASSERT_EQ(0, source_put(repo, record(n, std::to_string(n))));
  std::string seen;
  EXPECT_EQ(0, source_each(repo, [&](const SourceRecord& r) { return seen += r.component, 0; }));
  EXPECT_EQ("123", seen);
  seen.clear();
  EXPECT_EQ(7, source_each(repo, [&](const SourceRecord& r) { return seen += r.component, 7; }));
  EXPECT_EQ("1", seen);
}

TEST_F(SourceStoreTest, CollectionsKeepTheirOrderAndUpdateInPlace) {
  SourceCollection home, work;
  fill_uuid(home.tag, 5);
  fill_uuid(work.tag, 4);
  home.href = "/dav/home/";
  home.display_name = "Home";
  home.kind = "events+tasks";
  home.color = "#ff0000";
  work.href = "/dav/work/";
  work.display_name = "Work";
  work.kind = "contacts";
  ASSERT_EQ(0, source_collection_put(repo, home));
  ASSERT_EQ(0, source_collection_put(repo, work));
  home.sync_token = "tok-2";
  home.ctag = "c9";
  ASSERT_EQ(0, source_collection_put(repo, home));
  std::vector<SourceCollection> cols;
  ASSERT_EQ(0, source_collections(repo, &cols));
  ASSERT_EQ(2u, cols.size());
  EXPECT_EQ("Home", cols[0].display_name);
  EXPECT_EQ("tok-2", cols[0].sync_token);
  EXPECT_EQ("c9", cols[0].ctag);
  EXPECT_EQ("#ff0000", cols[0].color);
  EXPECT_EQ("contacts", cols[1].kind);
  ASSERT_EQ(0, source_collection_remove(repo, home.tag));
  ASSERT_EQ(0, source_collections(repo, &cols));
  ASSERT_EQ(1u, cols.size());
  EXPECT_EQ("/dav/work/", cols[0].href);
}

TEST_F(SourceStoreTest, TransactionsCommitOrRollBackTogether) {
  struct Case {
    bool commit;
    int expect_get;
  } cases[] = {{true, 0}, {false, 1}};
  int n = 1;
  for (const Case& c : cases) {
    SourceRecord a = record(n++, "one"), b = record(n++, "two");
    {
      SourceTransaction tx(repo);
      ASSERT_EQ(0, tx.status());
      ASSERT_EQ(0, source_put(repo, a));
      ASSERT_EQ(0, source_put(repo, b));
      if (c.commit) {
        ASSERT_EQ(0, tx.commit());
      }
    }
    SourceRecord got;
    EXPECT_EQ(c.expect_get, source_get(repo, a.uuid, &got)) << c.commit;
    EXPECT_EQ(c.expect_get, source_get(repo, b.uuid, &got)) << c.commit;
  }
}

// Records of items the repository no longer holds (nor its journal) go,
// except those of members a synced collection still has: their deletion is
// the next sync's to push.
TEST_F(SourceStoreTest, SweepRemovesTheRecordsOfItemsGoneButNotOfSyncedMembers) {
  struct Case {
    const char* href;
    int collection;  // 0 none, 1 synced, 2 no longer synced
    bool stays;
  } cases[] = {
      {"", 0, false},
      {"/cal/a.ics", 1, true},
      {"/cal/b.ics", 2, false},
  };
  SourceCollection synced;
  fill_uuid(synced.tag, 100 + 1);
  synced.href = "/cal/";
  ASSERT_EQ(0, source_collection_put(repo, synced));
  for (size_t i = 0; i < std::size(cases); i++) {
    SourceRecord r = record(static_cast<int>(i) + 1, kEvent);
    r.href = cases[i].href;
    if (cases[i].collection) fill_uuid(r.collection, 100 + cases[i].collection);
    ASSERT_EQ(0, source_put(repo, r));
  }
  ASSERT_EQ(0, repo_open(&repo_table()[repo]));
  ASSERT_EQ(0, source_sweep(repo));
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE(i);
    uint8_t uuid[16];
    fill_uuid(uuid, static_cast<int>(i) + 1);
    SourceRecord r;
    EXPECT_EQ(cases[i].stays ? 0 : 1, source_get(repo, uuid, &r));
  }
}

TEST_F(SourceStoreTest, TheFileHoldsNoPlainText) {
  ASSERT_EQ(0, source_put(repo, record(1, kEvent, "FREQ=MONTHLY;BYDAY=-1FR")));
  repo_close(&repo_table()[repo]);
  std::ifstream in(sources_path(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(bytes.empty());
  for (const char* needle : {"Secret meeting", "VEVENT", "BYDAY", "SQLite format"})
    EXPECT_EQ(std::string::npos, bytes.find(needle)) << needle;
}

TEST_F(SourceStoreTest, AFileUnderAnotherKeyIsRefusedAndLeftAlone) {
  ASSERT_EQ(0, source_put(repo, record(1, kEvent)));
  RepoEntry& e = repo_table()[repo];
  repo_close(&e);
  std::string before = test_support::read_file(sources_path());
  e.key[0] ^= 1;
  SourceRecord got;
  EXPECT_EQ(-1, source_get(repo, got.uuid, &got));
  EXPECT_EQ(-1, source_put(repo, record(2, "x")));
  e.key[0] ^= 1;
  EXPECT_EQ(before, test_support::read_file(sources_path()));
}

TEST_F(SourceStoreTest, PasswordChangeCarriesTheStoreToTheNewKey) {
  ASSERT_EQ(0, source_put(repo, record(1, kEvent)));
  ASSERT_EQ(0, change_repo_password(&repo_table()[repo], "New-Password-7654321?"));
  SourceRecord got;
  ASSERT_EQ(0, source_get(repo, record(1, "").uuid, &got));
  EXPECT_EQ(kEvent, got.component);
}

TEST_F(SourceStoreTest, RekeyFinishesFromEitherHalf) {
  ASSERT_EQ(0, source_put(repo, record(1, kEvent)));
  RepoEntry& e = repo_table()[repo];
  repo_close(&e);
  uint8_t old_key[32], new_key[32];
  memcpy(old_key, e.key, 32);
  derive_key("Other-Pass-1!", new_key);
  // Twice: the second run finds the file under the new key already.
  ASSERT_EQ(0, source_rekey_file(e.path.c_str(), old_key, new_key));
  ASSERT_EQ(0, source_rekey_file(e.path.c_str(), old_key, new_key));
  memcpy(e.key, new_key, 32);
  SourceRecord got;
  ASSERT_EQ(0, source_get(repo, record(1, "").uuid, &got));
  EXPECT_EQ(kEvent, got.component);
}

}  // namespace
