// SPDX-License-Identifier: GPL-3.0-or-later
// The client against Debian's Xandikos, a server of another make: its own
// well-known redirect, separate home sets for calendars and address books,
// and changes by sync token racing another client.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dav/dav_suite.h"

namespace {

using namespace dav_test;

class DavXandikos : public ServerSuite<Xandikos, DavXandikos> {
 protected:
  static void SetUpTestSuite() {
    start_server({"xandikos", "caldav"}, [](Xandikos* s) { return s->start(); });
  }
  void SetUp() override {
    ServerSuite::SetUp();
    if (IsSkipped()) return;
    // No authentication here: the user name never makes the client send
    // the password unasked over plain http.
    client_ = open_client(server_->url(), "alice", "unused");
    ASSERT_TRUE(client_);
    client_->stall_timeout = 60;
  }

  DavCollection calendar() {
    DavDiscovery d;
    EXPECT_EQ(dav_discover(client_.get(), &d), 0);
    for (const DavCollection& col : d.collections)
      if (col.kind == DAV_KIND_CALENDAR) return col;
    ADD_FAILURE() << "no calendar";
    return DavCollection();
  }

  std::unique_ptr<DavClient> client_;
};

TEST_F(DavXandikos, DiscoveryFindsTheSeparateHomesAndTheirCollections) {
  const std::string root = server_->url();
  for (const std::string& start : {root, root + "alice/", root + ".well-known/carddav"}) {
    auto c = open_client(start, "alice", "unused");
    DavDiscovery d;
    ASSERT_EQ(dav_discover(c.get(), &d), 0) << start;
    EXPECT_EQ(d.principal, root + "alice/");
    EXPECT_EQ(d.calendar_homes, std::vector<std::string>{root + "alice/calendars/"});
    EXPECT_EQ(d.addressbook_homes, std::vector<std::string>{root + "alice/contacts/"});
    ASSERT_EQ(d.collections.size(), 2u);
    EXPECT_EQ(d.collections[0].href, root + "alice/calendars/calendar/");
    EXPECT_STREQ(dav_collection_kind_name(d.collections[0]), "events+tasks");
    EXPECT_EQ(d.collections[1].href, root + "alice/contacts/addressbook/");
    EXPECT_STREQ(dav_collection_kind_name(d.collections[1]), "contacts");
    for (const DavCollection& col : d.collections) {
      EXPECT_FALSE(col.sync_token.empty());
      EXPECT_FALSE(col.read_only);
    }
  }
}

TEST_F(DavXandikos, ChangesAndConditionalWritesAgainstAnotherClient) {
  DavCollection col = calendar();
  DavResource mine{dav_new_href(col, "x-1"), "", event_text("x-1", "Mine")};
  ASSERT_EQ(dav_put(client_.get(), col, &mine), 0);
  ASSERT_FALSE(mine.etag.empty());
  DavSyncState known;
  DavChanges ch;
  ASSERT_EQ(dav_changes(client_.get(), col, known, &ch), 0);
  ASSERT_TRUE(ch.complete);
  known.sync_token = ch.sync_token;
  for (const DavItemRef& r : ch.changed) known.etags[r.href] = r.etag;
  EXPECT_EQ(known.etags[mine.href], mine.etag);

  std::vector<std::string> out =
      peer(server_->url(), "", "", {{"put-event", col.href, "x-1", "Theirs"}, {"put-event", col.href, "x-2", "New"}});
  ASSERT_EQ(out.size(), 2u);
  std::string added = out[1].substr(3);

  // Our stale update is refused; the changes show theirs.
  DavResource stale{mine.href, mine.etag, event_text("x-1", "Mine again")};
  EXPECT_EQ(dav_put(client_.get(), col, &stale), DAV_ERR_PRECONDITION);
  ASSERT_EQ(dav_changes(client_.get(), col, known, &ch), 0);
  std::vector<std::string> changed;
  for (const DavItemRef& r : ch.changed) changed.push_back(r.href);
  std::sort(changed.begin(), changed.end());
  std::vector<std::string> want = {mine.href, added};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(changed, want);
  std::vector<DavResource> got;
  std::vector<std::string> missing;
  ASSERT_EQ(dav_multiget(client_.get(), col, changed, &got, &missing), 0);
  ASSERT_EQ(got.size(), 2u);
  known.sync_token = ch.sync_token;
  for (const DavResource& r : got) known.etags[r.href] = r.etag;

  // Their deletion comes back as removed; ours is conditional.
  ASSERT_EQ(peer(server_->url(), "", "", {{"delete-event", col.href, "x-2"}}).size(), 1u);
  ASSERT_EQ(dav_changes(client_.get(), col, known, &ch), 0);
  EXPECT_TRUE(ch.changed.empty());
  EXPECT_EQ(ch.removed, std::vector<std::string>{added});
  EXPECT_EQ(dav_delete(client_.get(), mine.href, "\"not-the-etag\""), DAV_ERR_PRECONDITION);
  EXPECT_EQ(dav_delete(client_.get(), mine.href, known.etags[mine.href]), 0);
}

}  // namespace
