// SPDX-License-Identifier: GPL-3.0-or-later
// The sync journeys every server suite runs: the first sync, changes both
// ways, moves, deletions both ways, every conflict, a wrong password.
#pragma once

#include "dav/dav_sync_fixture.h"
#include "interchange/interchange.h"
#include "model/item.h"
#include "model/ops.h"

#include <algorithm>
#include <cstring>

namespace dav_test {

class DavSyncJourneys : public DavSyncFixture {
 protected:
  // Puts n events into the collection, each "<prefix>eN" titled "Event N".
  virtual void seed(const DavCollection& col, int n) = 0;

  void put_events(const DavCollection& col, const std::vector<std::pair<std::string, std::string>>& events) {
    std::vector<std::vector<std::string>> ops;
    for (auto& [uid, summary] : events) ops.push_back({"put-event", col.href, prefix + uid, summary});
    ASSERT_EQ(ops.size(), peer_ops(ops).size());
  }

  void first_sync(int n) {
    DavCollection col = collection("big", true, "VEVENT");
    seed(col, n);
    int repo = add_account({col});
    DavSyncSummary s = sync(repo);
    EXPECT_EQ(n, s.pulled);
    EXPECT_EQ(0, s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
    EXPECT_EQ(n, items_in(repo));
    // Nothing changed: one request asks, none fetches.
    s = sync(repo);
    EXPECT_EQ(0, s.pulled + s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
    EXPECT_LE(s.requests, 2);
    DavAccountRow row;
    ASSERT_EQ(0, dav_account_find(repo, &row));
    EXPECT_GT(row.last_sync, 0);
  }

  void changes_both_ways() {
    DavCollection col = collection("both");
    put_events(col, {{"a", "A"}, {"b", "B"}, {"c", "C"}});
    int repo = add_account({col});
    EXPECT_EQ(3, sync(repo).pulled);
    put_events(col, {{"a", "A2"}, {"d", "D"}});
    ASSERT_EQ(1u, peer_ops({{"delete-event", col.href, prefix + "b"}}).size());
    ASSERT_GE(retitle(item_titled(repo, "C"), "C2"), 0);
    ASSERT_GE(new_event(tags[0], "E"), 0);
    DavSyncSummary s = sync(repo);
    EXPECT_EQ(2, s.pulled);
    EXPECT_EQ(1, s.deleted_here);
    EXPECT_EQ(2, s.pushed);
    EXPECT_EQ(0, s.conflicts + s.deleted_there);
    EXPECT_GE(item_titled(repo, "A2"), 0);
    EXPECT_GE(item_titled(repo, "D"), 0);
    EXPECT_LT(item_titled(repo, "B"), 0);
    EXPECT_EQ("ok C2", peer_summary(col, prefix + "c"));
    EXPECT_EQ("ok E", peer_summary(col, uid_of(item_titled(repo, "E"))));
    EXPECT_EQ(4, peer_count(col));
    s = sync(repo);
    EXPECT_EQ(0, s.pulled + s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
  }

  void moves() {
    DavCollection home = collection("home"), work = collection("work");
    put_events(home, {{"m", "Move me"}});
    int repo = add_account({home, work});
    ASSERT_EQ(1, sync(repo).pulled);
    int64_t slot = item_titled(repo, "Move me");
    ASSERT_GE(slot, 0);
    {
      RepoGroup g(repo);
      ASSERT_EQ(0, update_tag_item(static_cast<int32_t>(tags[1]), static_cast<int32_t>(slot), 1));
      ASSERT_EQ(0, update_tag_item(static_cast<int32_t>(tags[0]), static_cast<int32_t>(slot), 0));
      ASSERT_EQ(0, g.commit());
    }
    DavSyncSummary s = sync(repo);
    EXPECT_EQ(1, s.pushed);
    EXPECT_EQ(0, peer_count(home));
    EXPECT_EQ(1, peer_count(work));
    s = sync(repo);
    EXPECT_EQ(0, s.pulled + s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
    EXPECT_EQ(1, items_in(repo));
  }

  void deletions() {
    DavCollection col = collection("del");
    put_events(col, {{"x", "X"}, {"y", "Y"}});
    int repo = add_account({col});
    ASSERT_EQ(2, sync(repo).pulled);
    int64_t x = item_titled(repo, "X");
    // In the Trash it stays on the server.
    ASSERT_EQ(0, item_set_flags(x, ITEM_TRASHED));
    EXPECT_EQ(0, sync(repo).deleted_there);
    EXPECT_EQ(2, peer_count(col));
    // Out of the Trash for good, it goes.
    ASSERT_EQ(0, item_remove(x));
    EXPECT_EQ(1, sync(repo).deleted_there);
    EXPECT_EQ(1, peer_count(col));
    // Deleted there, it goes here.
    ASSERT_EQ(1u, peer_ops({{"delete-event", col.href, prefix + "y"}}).size());
    EXPECT_EQ(1, sync(repo).deleted_here);
    EXPECT_EQ(0, items_in(repo));
  }

  void conflicts() {
    DavCollection col = collection("conflicts");
    put_events(col, {{"both", "Both"}, {"gone-here", "Gone here"}, {"gone-there", "Gone there"}});
    int repo = add_account({col});
    ASSERT_EQ(3, sync(repo).pulled);
    ASSERT_GE(retitle(item_titled(repo, "Both"), "Both local"), 0);
    ASSERT_EQ(0, item_remove(item_titled(repo, "Gone here")));
    ASSERT_GE(retitle(item_titled(repo, "Gone there"), "Gone there local"), 0);
    put_events(col, {{"both", "Both server"}, {"gone-here", "Gone here server"}});
    ASSERT_EQ(1u, peer_ops({{"delete-event", col.href, prefix + "gone-there"}}).size());
    DavSyncSummary s = sync(repo);
    EXPECT_EQ(3, s.conflicts);
    std::sort(s.names.begin(), s.names.end());
    EXPECT_EQ((std::vector<std::string>{"Both local", "Gone here server", "Gone there local"}), s.names);
    // Edited on both sides: the server's version is current, ours in history.
    EXPECT_EQ("Both local", history_title(repo, "Both server"));
    // An edit beats a deletion, on either side.
    EXPECT_GE(item_titled(repo, "Gone here server"), 0);
    EXPECT_EQ("ok Gone there local", peer_summary(col, prefix + "gone-there"));
    EXPECT_EQ("ok Both server", peer_summary(col, prefix + "both"));
    s = sync(repo);
    EXPECT_EQ(0, s.pulled + s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
  }

  // An item here whose UID the collection holds already (imported from a
  // file before the first sync, or made beside the member's own copy by an
  // older sync) becomes that member's: the server's version current, ours
  // in history, named as a conflict; nothing pushed twice, the next sync
  // quiet.
  void an_item_the_server_holds_becomes_its_member() {
    struct Case {
      const char* name;
      bool imported;     // else a copy made beside the member's own item
      bool at_our_href;  // the member is where a new one of its UID would go
    } cases[] = {
        {"imported", true, false},
        {"copy-here", false, true},
        {"copy-elsewhere", false, false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      DavCollection col = collection(c.name);
      std::string uid = prefix + c.name;
      DavResource r;
      r.href = c.at_our_href ? dav_new_href(col, uid) : col.href + "elsewhere.ics";
      r.data = event_text(uid, "Server");
      ASSERT_EQ(0, dav_put(client.get(), col, &r));
      int repo = add_account({col});
      std::string mine = event_text(uid, "Mine");
      if (c.imported) {
        ASSERT_EQ(1, import_calendar_text(mine.data(), mine.size(), tags[0]));
      } else {
        ASSERT_EQ(1, sync(repo).pulled);
        SourceRecord kept;
        std::memcpy(kept.uuid, item_get(new_event(tags[0], "Mine"))->uuid, 16);
        kept.component = mine;
        ASSERT_EQ(0, source_put(repo, kept));
      }
      DavSyncSummary s = sync(repo);
      EXPECT_EQ(1, s.conflicts);
      EXPECT_EQ(std::vector<std::string>{"Mine"}, s.names);
      EXPECT_EQ(0, s.pushed);
      EXPECT_EQ(1, items_in(repo));
      EXPECT_EQ("Mine", history_title(repo, "Server"));
      EXPECT_EQ(1, peer_count(col));
      EXPECT_EQ("ok Server", peer_summary(col, uid));
      s = sync(repo);
      EXPECT_EQ(0, s.pulled + s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
    }
  }

  // A member of another UID where the item's new member would go: the
  // item's member goes beside it, nothing is bound or lost.
  void a_new_member_goes_beside_another_uid_at_its_href() {
    DavCollection col = collection("beside");
    std::string uid = prefix + "beside";
    DavResource r;
    r.href = dav_new_href(col, uid);
    r.data = event_text(prefix + "other", "Other");
    ASSERT_EQ(0, dav_put(client.get(), col, &r));
    int repo = add_account({col});
    ASSERT_EQ(1, sync(repo).pulled);
    SourceRecord kept;
    std::memcpy(kept.uuid, item_get(new_event(tags[0], "Mine"))->uuid, 16);
    kept.component = event_text(uid, "Mine");
    ASSERT_EQ(0, source_put(repo, kept));
    DavSyncSummary s = sync(repo);
    EXPECT_EQ(1, s.pushed);
    EXPECT_EQ(0, s.conflicts);
    EXPECT_EQ(2, items_in(repo));
    EXPECT_EQ("ok Mine", peer_summary(col, uid));
    EXPECT_EQ("ok Other", peer_summary(col, prefix + "other"));
    s = sync(repo);
    EXPECT_EQ(0, s.pulled + s.pushed + s.conflicts + s.deleted_here + s.deleted_there);
  }

  // The server's text as a sorted list of unfolded lines, without the
  // stamps a writer renews.
  static std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
      size_t eol = text.find("\r\n", start);
      if (eol == std::string::npos) eol = text.size();
      std::string line = text.substr(start, eol - start);
      if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !out.empty())
        out.back() += line.substr(1);
      else if (!line.empty())
        out.push_back(line);
      start = eol + 2;
    }
    std::vector<std::string> kept;
    for (const std::string& l : out)
      if (l.rfind("DTSTAMP", 0) != 0 && l.rfind("LAST-MODIFIED", 0) != 0 && l.rfind("SEQUENCE", 0) != 0 &&
          l.rfind("PRODID", 0) != 0)
        kept.push_back(l);
    std::sort(kept.begin(), kept.end());
    return kept;
  }

  void rich_event_keeps_everything() {
    DavCollection col = collection("rich", true, "VEVENT");
    std::string uid = prefix + "rich";
    auto text = [&uid](const std::string& summary) {
      return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//Client//EN\r\nBEGIN:VEVENT\r\nUID:" + uid +
             "\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:20260105T100000Z\r\nDTEND:20260105T110000Z\r\n"
             "RRULE:FREQ=WEEKLY;BYDAY=MO,TH\r\nEXDATE:20260112T100000Z\r\nSUMMARY:" + summary + "\r\n"
             "ORGANIZER:mailto:alice@example.org\r\nATTENDEE;CN=Bob;PARTSTAT=ACCEPTED:mailto:bob@example.org\r\n"
             "ATTENDEE;CN=Carol:mailto:carol@example.org\r\nCATEGORIES:Work,Weekly\r\nX-OTHER-CLIENT:kept\r\n"
             "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT10M\r\nDESCRIPTION:a\r\nEND:VALARM\r\n"
             "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT1H\r\nDESCRIPTION:b\r\nEND:VALARM\r\n"
             "BEGIN:VALARM\r\nACTION:AUDIO\r\nTRIGGER:-P1D\r\nEND:VALARM\r\nEND:VEVENT\r\n"
             "BEGIN:VEVENT\r\nUID:" + uid + "\r\nRECURRENCE-ID:20260108T100000Z\r\nDTSTAMP:20260101T000000Z\r\n"
             "DTSTART:20260108T140000Z\r\nDTEND:20260108T150000Z\r\nSUMMARY:Moved\r\nEND:VEVENT\r\n"
             "END:VCALENDAR\r\n";
    };
    DavResource r;
    r.href = dav_new_href(col, uid);
    r.data = text("Team");
    ASSERT_EQ(0, dav_put(client.get(), col, &r));
    DavResource before;
    ASSERT_EQ(0, dav_get(client.get(), r.href, &before));
    int repo = add_account({col});
    ASSERT_EQ(1, sync(repo).pulled);
    EXPECT_EQ(1, items_in(repo));
    ASSERT_GE(retitle(item_titled(repo, "Team"), "Team meeting"), 0);
    EXPECT_EQ(1, sync(repo).pushed);
    DavResource after;
    ASSERT_EQ(0, dav_get(client.get(), r.href, &after));
    std::vector<std::string> want = lines_of(before.data);
    for (std::string& l : want)
      if (l == "SUMMARY:Team") l = "SUMMARY:Team meeting";
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, lines_of(after.data));
  }

  void wrong_password() {
    DavCollection col = collection("pw");
    put_events(col, {{"w", "W"}});
    int repo = add_account({col}, "not-the-password");
    DavSyncSummary s = sync(repo, DAV_ERR_AUTH);
    EXPECT_EQ(DAV_ERR_AUTH, s.error);
    EXPECT_FALSE(s.message.empty());
    EXPECT_EQ(0, items_in(repo));
    DavAccountRow row;
    ASSERT_EQ(0, dav_account_find(repo, &row));
    EXPECT_EQ(0, row.last_sync);
    ASSERT_EQ(0, dav_account_set_password(row.number, srv.password.c_str()));
    EXPECT_EQ(1, sync(repo).pulled);
  }
};

// The journeys on a Radicale of the suite's own (Suite: the test class).
template <typename Suite>
class RadicaleJourneys : public DavSyncJourneys {
 protected:
  static void SetUpTestSuite() {
    if (!have_module("radicale") || !have_module("caldav")) return;
    server_ = std::make_unique<Radicale>();
    if (!server_->start()) server_.reset();
  }
  static void TearDownTestSuite() { server_.reset(); }
  SyncServer server() override {
    if (!server_) return SyncServer();
    return {server_->url() + "alice/", Radicale::kUser, Radicale::kPassword};
  }
  // Straight into Radicale's storage: much faster than a PUT each.
  void seed(const DavCollection& col, int n) override {
    std::string name = col.href.substr(srv.home.size());
    name.pop_back();
    std::string dir = server_->dir().file("collections") + "/collection-root/alice/" + name + "/";
    for (int i = 0; i < n; i++) {
      std::string uid = prefix + "e" + std::to_string(i);
      ASSERT_TRUE(test_support::write_file(dir + uid + ".ics", event_text(uid, "Event " + std::to_string(i))));
    }
  }
  static inline std::unique_ptr<Radicale> server_;
};

}  // namespace dav_test
