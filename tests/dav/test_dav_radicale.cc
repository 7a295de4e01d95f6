// SPDX-License-Identifier: GPL-3.0-or-later
// The client against Debian's Radicale with basic authentication: discovery
// from every kind of starting address, the collections' kinds and colours,
// conditional writes racing another client, changes by sync token and by
// CTag and ETags, and batched fetching.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "dav/dav_suite.h"
#include "support/strings.h"
#include "sync/dav_xml.h"

namespace {

using namespace dav_test;

class DavRadicale : public ServerSuite<Radicale, DavRadicale> {
 protected:
  static void SetUpTestSuite() {
    start_server({"radicale", "caldav"}, [](Radicale* s) {
      if (!s->start()) return false;
      // Bob's collections stay as made here; the tests that change things
      // use Alice's.
      auto bob = open_client(s->url(), "bob", "secret-bob");
      std::string base = s->url() + "bob/";
      return bob && make_collection(bob.get(), base + "work/", true, "Work", "VEVENT", "#336699FF") == 0 &&
             make_collection(bob.get(), base + "chores/", true, "Chores", "VTODO") == 0 &&
             make_collection(bob.get(), base + "mixed/", true, "Mixed", "VEVENT,VTODO") == 0 &&
             make_collection(bob.get(), base + "journal/", true, "Journal", "VJOURNAL") == 0 &&
             make_collection(bob.get(), base + "people/", false, "People") == 0;
    });
  }
  void SetUp() override {
    ServerSuite::SetUp();
    if (IsSkipped()) return;
    client_ = open_client(server_->url(), Radicale::kUser, Radicale::kPassword);
    ASSERT_TRUE(client_);
    // Radicale parses every member it has not seen before, slowly on a busy machine.
    client_->stall_timeout = 60;
  }

  // A new calendar of Alice's for one test.
  DavCollection calendar(const std::string& name) {
    DavCollection col;
    col.href = server_->url() + "alice/" + name + "/";
    col.kind = DAV_KIND_CALENDAR;
    col.components = DAV_COMP_EVENT;
    EXPECT_EQ(make_collection(client_.get(), col.href, true, name), 0);
    std::vector<DavCollection> listed;
    EXPECT_EQ(dav_list_collections(client_.get(), col.href, 0, &listed), 0);
    EXPECT_EQ(listed.size(), 1u);
    return listed.empty() ? col : listed[0];
  }

  // Writes events straight into Radicale's storage (much faster than a PUT
  // each): "<prefix>0.ics" … with UIDs "<prefix>0" ….
  void store_events(const std::string& collection, const std::string& prefix, int n) {
    std::string dir = server_->dir().file("collections") + "/collection-root/alice/" + collection + "/";
    for (int i = 0; i < n; i++) {
      std::string uid = prefix + std::to_string(i);
      ASSERT_TRUE(test_support::write_file(dir + uid + ".ics", event_text(uid, "Event " + std::to_string(i))));
    }
  }

  std::vector<std::string> peer_ops(const std::vector<std::vector<std::string>>& ops) {
    return peer(server_->url() + "alice/", Radicale::kUser, Radicale::kPassword, ops);
  }

  std::unique_ptr<DavClient> client_;
};

std::vector<std::string> sorted_hrefs(const std::vector<DavItemRef>& refs) {
  std::vector<std::string> out;
  for (const DavItemRef& r : refs) out.push_back(r.href);
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(DavRadicale, DiscoveryFindsTheSameCollectionsFromEveryStartingAddress) {
  const std::string root = server_->url();
  const std::string starts[] = {
      root,                                                   // the well-known addresses, then the root
      "http://" + server_->host(),                            // the same without a path
      root + "bob/",                                          // the principal
      root + "bob/work/",                                     // one of the collections
      root + ".well-known/carddav",                           // a redirect on the same host
  };
  for (const std::string& start : starts) {
    auto c = open_client(start, "bob", "secret-bob");
    ASSERT_TRUE(c);
    DavDiscovery d;
    ASSERT_EQ(dav_discover(c.get(), &d), 0) << start << ": " << dav_error_message(*c, c->status);
    EXPECT_EQ(d.principal, root + "bob/") << start;
    EXPECT_EQ(d.calendar_homes, std::vector<std::string>{root + "bob/"}) << start;
    EXPECT_EQ(d.addressbook_homes, std::vector<std::string>{root + "bob/"}) << start;
    // Calendars first, each kind by name; the journal-only calendar is left out.
    struct Want {
      const char* name;
      const char* kind;
      const char* color;
      const char* path;
    } want[] = {
        {"Chores", "tasks", "", "bob/chores/"},
        {"Mixed", "events+tasks", "", "bob/mixed/"},
        {"Work", "events", "#336699", "bob/work/"},
        {"People", "contacts", "", "bob/people/"},
    };
    ASSERT_EQ(d.collections.size(), 4u) << start;
    for (size_t i = 0; i < 4; i++) {
      const DavCollection& col = d.collections[i];
      EXPECT_EQ(col.display_name, want[i].name) << start;
      EXPECT_STREQ(dav_collection_kind_name(col), want[i].kind) << start;
      EXPECT_EQ(col.color, want[i].color) << start;
      EXPECT_EQ(col.href, root + want[i].path) << start;
      EXPECT_FALSE(col.read_only);
      EXPECT_FALSE(col.sync_token.empty());
      EXPECT_FALSE(col.ctag.empty());
    }
    // Discovery stays cheap: the first answer over http is the challenge,
    // then candidates (and their redirects), principal and one shared home.
    EXPECT_LE(c->requests, 6) << start;
  }
}

TEST_F(DavRadicale, DiscoveryFollowsARedirectToAnotherPortOfTheSameHost) {
  const std::string target = server_->url();
  StubServer front([&](const StubRequest& r) {
    if (r.path == "/.well-known/caldav" || r.path == "/.well-known/carddav")
      return StubServer::answer(301, "", "Location: " + target + "\r\n");
    return StubServer::answer(404);
  });
  auto c = open_client(front.url(), "bob", "secret-bob");
  DavDiscovery d;
  ASSERT_EQ(dav_discover(c.get(), &d), 0) << dav_error_message(*c, DAV_ERR_HTTP);
  EXPECT_EQ(d.principal, target + "bob/");
  EXPECT_EQ(d.collections.size(), 4u);
}

TEST_F(DavRadicale, AWrongPasswordOrUserIsRefused) {
  struct Case {
    const char* user;
    const char* password;
  } cases[] = {{"alice", "wrong"}, {"alice", ""}, {"mallory", "secret-alice"}};
  for (const Case& k : cases) {
    auto c = open_client(server_->url(), k.user, k.password);
    DavDiscovery d;
    EXPECT_EQ(dav_discover(c.get(), &d), DAV_ERR_AUTH) << k.user << "/" << k.password;
    EXPECT_EQ(c->status, 401);
    EXPECT_TRUE(d.collections.empty());
    strings_set_language(0);
    EXPECT_EQ(dav_error_message(*c, DAV_ERR_AUTH), ui_string(dav_message_id(DAV_ERR_AUTH)));
  }
}

TEST_F(DavRadicale, ConditionalWritesNeverOverwriteAChangeMadeElsewhere) {
  DavCollection col = calendar("race");
  DavResource r{dav_new_href(col, "race-1"), "", event_text("race-1", "Ours")};
  ASSERT_EQ(dav_put(client_.get(), col, &r), 0);
  ASSERT_FALSE(r.etag.empty());
  const std::string first = r.etag;

  // Creating again at the same address never replaces what is there.
  DavResource again{r.href, "", event_text("race-1", "Second")};
  EXPECT_EQ(dav_put(client_.get(), col, &again), DAV_ERR_PRECONDITION);
  EXPECT_EQ(client_->status, 412);

  // The other client changes it: our update from the old version is refused
  // and the server keeps theirs.
  ASSERT_EQ(peer_ops({{"put-event", col.href, "race-1", "Theirs"}}).size(), 1u);
  DavResource stale{r.href, first, event_text("race-1", "Ours again")};
  EXPECT_EQ(dav_put(client_.get(), col, &stale), DAV_ERR_PRECONDITION);
  DavResource now;
  ASSERT_EQ(dav_get(client_.get(), r.href, &now), 0);
  EXPECT_NE(now.data.find("SUMMARY:Theirs"), std::string::npos);
  EXPECT_NE(now.etag, first);

  // From the version we fetched, the update goes through.
  DavResource merged{r.href, now.etag, event_text("race-1", "Merged")};
  ASSERT_EQ(dav_put(client_.get(), col, &merged), 0);
  EXPECT_NE(merged.etag, now.etag);

  // Deleting: only the version we know, and once it is gone, gone.
  ASSERT_EQ(peer_ops({{"put-event", col.href, "race-1", "Theirs once more"}}).size(), 1u);
  EXPECT_EQ(dav_delete(client_.get(), r.href, merged.etag), DAV_ERR_PRECONDITION);
  ASSERT_EQ(dav_get(client_.get(), r.href, &now), 0);
  EXPECT_EQ(dav_delete(client_.get(), r.href, now.etag), 0);
  EXPECT_EQ(dav_get(client_.get(), r.href, &now), DAV_ERR_NOT_FOUND);
  EXPECT_EQ(dav_delete(client_.get(), r.href, now.etag), 0);
}

TEST_F(DavRadicale, SyncTokensCarryChangesBothWays) {
  DavCollection col = calendar("tokens");
  ASSERT_FALSE(col.sync_token.empty());
  std::vector<DavResource> ours;
  for (const char* uid : {"t-1", "t-2", "t-3"}) {
    DavResource r{dav_new_href(col, uid), "", event_text(uid, uid)};
    ASSERT_EQ(dav_put(client_.get(), col, &r), 0);
    ours.push_back(r);
  }

  // The first sync lists everything.
  DavSyncState known;
  DavChanges ch;
  ASSERT_EQ(dav_changes(client_.get(), col, known, &ch), 0);
  EXPECT_TRUE(ch.complete);
  EXPECT_EQ(sorted_hrefs(ch.changed), (std::vector<std::string>{ours[0].href, ours[1].href, ours[2].href}));
  EXPECT_TRUE(ch.removed.empty());
  known.sync_token = ch.sync_token;
  for (const DavItemRef& ref : ch.changed) known.etags[ref.href] = ref.etag;

  // Our own change, whose new ETag we keep, does not come back.
  ours[0].data = event_text("t-1", "t-1 edited here");
  ASSERT_EQ(dav_put(client_.get(), col, &ours[0]), 0);
  known.etags[ours[0].href] = ours[0].etag;

  // The other client adds one, changes one and deletes one.
  std::vector<std::string> out = peer_ops({{"put-event", col.href, "t-new", "Added there"},
                                           {"put-event", col.href, "t-2", "Changed there"},
                                           {"delete-event", col.href, "t-3"}});
  ASSERT_EQ(out.size(), 3u);
  std::string added_href = out[0].substr(3);

  long before = client_->requests;
  ASSERT_EQ(dav_changes(client_.get(), col, known, &ch), 0);
  EXPECT_EQ(client_->requests - before, 1);
  EXPECT_FALSE(ch.complete);
  std::vector<std::string> want = {ours[1].href, added_href};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(sorted_hrefs(ch.changed), want);
  EXPECT_EQ(ch.removed, std::vector<std::string>{ours[2].href});
  EXPECT_NE(ch.sync_token, known.sync_token);

  // The changed members arrive in one request.
  std::vector<DavResource> got;
  std::vector<std::string> missing;
  before = client_->requests;
  ASSERT_EQ(dav_multiget(client_.get(), col, {ch.changed[0].href, ch.changed[1].href}, &got, &missing), 0);
  EXPECT_EQ(client_->requests - before, 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(missing.empty());
  std::string texts = got[0].data + got[1].data;
  EXPECT_NE(texts.find("Changed there"), std::string::npos);
  EXPECT_NE(texts.find("Added there"), std::string::npos);

  // Nothing new since: one request, no changes.
  known.sync_token = ch.sync_token;
  ASSERT_EQ(dav_changes(client_.get(), col, known, &ch), 0);
  EXPECT_TRUE(ch.changed.empty());
  EXPECT_TRUE(ch.removed.empty());
}

TEST_F(DavRadicale, ARefusedSyncTokenTurnsIntoAFullListing) {
  DavCollection col = calendar("refused");
  DavResource kept{dav_new_href(col, "r-kept"), "", event_text("r-kept", "Kept")};
  ASSERT_EQ(dav_put(client_.get(), col, &kept), 0);
  DavSyncState known;
  known.sync_token = "http://radicale.org/ns/sync/0000000000000000000000000000000000000000000000000000000000000000";
  known.etags[kept.href] = kept.etag;
  known.etags[col.href + "gone.ics"] = "\"old\"";
  DavChanges ch;
  ASSERT_EQ(dav_changes(client_.get(), col, known, &ch), 0);
  EXPECT_TRUE(ch.complete);
  EXPECT_TRUE(ch.changed.empty());  // the kept member's ETag is the known one
  EXPECT_EQ(ch.removed, std::vector<std::string>{col.href + "gone.ics"});
  EXPECT_FALSE(ch.sync_token.empty());
  EXPECT_NE(ch.sync_token, known.sync_token);
}

TEST_F(DavRadicale, WithoutSyncTokensTheCtagAndEtagsTellTheChanges) {
  DavCollection col = calendar("ctags");
  col.sync_token.clear();  // as from a server that offers no sync-collection
  store_events("ctags", "c-", 3);
  DavSyncState known;
  DavChanges ch;
  long before = client_->requests;
  ASSERT_EQ(dav_changes(client_.get(), col, known, &ch), 0);
  EXPECT_EQ(client_->requests - before, 2);  // the CTag, then the ETags
  EXPECT_TRUE(ch.complete);
  EXPECT_EQ(ch.changed.size(), 3u);
  ASSERT_FALSE(ch.ctag.empty());
  known.ctag = ch.ctag;
  for (const DavItemRef& ref : ch.changed) known.etags[ref.href] = ref.etag;

  // An unchanged collection costs one small request.
  before = client_->requests;
  DavSyncState no_token = known;
  ASSERT_EQ(dav_changes(client_.get(), col, no_token, &ch), 0);
  EXPECT_EQ(client_->requests - before, 1);
  EXPECT_TRUE(ch.changed.empty());
  EXPECT_TRUE(ch.removed.empty());

  ASSERT_EQ(peer_ops({{"put-event", col.href, "c-1", "Changed there"}, {"delete-event", col.href, "c-2"}}).size(),
            2u);
  ASSERT_EQ(dav_changes(client_.get(), col, no_token, &ch), 0);
  EXPECT_EQ(sorted_hrefs(ch.changed), std::vector<std::string>{col.href + "c-1.ics"});
  EXPECT_EQ(ch.removed, std::vector<std::string>{col.href + "c-2.ics"});
  EXPECT_NE(ch.ctag, known.ctag);
}

TEST_F(DavRadicale, MultigetFetchesInBatchesAndNamesTheMissing) {
  DavCollection col = calendar("batches");
  const size_t batch = 10;
  const int n = batch * 2 + 1;
  store_events("batches", "b-", n);
  std::vector<std::string> hrefs;
  for (int i = 0; i < n; i++) hrefs.push_back(col.href + "b-" + std::to_string(i) + ".ics");
  hrefs.push_back(col.href + "never-there.ics");
  std::vector<DavResource> got;
  std::vector<std::string> missing;
  std::vector<size_t> progress;
  long before = client_->requests;
  ASSERT_EQ(dav_multiget(client_.get(), col, hrefs, &got, &missing,
                         [&](size_t done, size_t total) {
                           EXPECT_EQ(total, hrefs.size());
                           progress.push_back(done);
                         },
                         batch),
            0);
  EXPECT_EQ(client_->requests - before, 3);
  EXPECT_EQ(progress, (std::vector<size_t>{batch, 2 * batch, hrefs.size()}));
  ASSERT_EQ(got.size(), static_cast<size_t>(n));
  EXPECT_EQ(missing, std::vector<std::string>{col.href + "never-there.ics"});
  std::map<std::string, const DavResource*> by_href;
  for (const DavResource& r : got) by_href[r.href] = &r;
  for (int i : {0, static_cast<int>(batch), n - 1}) {
    const DavResource* r = by_href[col.href + "b-" + std::to_string(i) + ".ics"];
    ASSERT_NE(r, nullptr) << i;
    EXPECT_NE(r->data.find("UID:b-" + std::to_string(i) + "\n"), std::string::npos) << i;
    EXPECT_FALSE(r->etag.empty()) << i;
  }
}

TEST_F(DavRadicale, AddressBookMembersTravelAsVcards) {
  std::string href = server_->url() + "alice/contacts/";
  ASSERT_EQ(make_collection(client_.get(), href, false, "Contacts"), 0);
  std::vector<DavCollection> listed;
  ASSERT_EQ(dav_list_collections(client_.get(), href, 0, &listed), 0);
  ASSERT_EQ(listed.size(), 1u);
  const DavCollection& book = listed[0];
  EXPECT_EQ(book.kind, DAV_KIND_ADDRESSBOOK);
  DavResource card{dav_new_href(book, "card-1"), "", card_text("card-1", "Ada Lovelace")};
  ASSERT_EQ(dav_put(client_.get(), book, &card), 0);
  EXPECT_EQ(card.href, href + "card-1.vcf");
  DavChanges ch;
  ASSERT_EQ(dav_changes(client_.get(), book, DavSyncState(), &ch), 0);
  ASSERT_EQ(ch.changed.size(), 1u);
  std::vector<DavResource> got;
  std::vector<std::string> missing;
  ASSERT_EQ(dav_multiget(client_.get(), book, {ch.changed[0].href}, &got, &missing), 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].data.find("FN:Ada Lovelace"), std::string::npos);
  EXPECT_EQ(got[0].etag, card.etag);
}

}  // namespace
