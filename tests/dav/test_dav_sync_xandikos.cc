// SPDX-License-Identifier: GPL-3.0-or-later
// The account sync against Debian's Xandikos (no authentication), the
// same journeys as on Radicale.
#include <gtest/gtest.h>

#include "dav/dav_sync_journeys.h"

namespace {

using namespace dav_test;

class DavSyncXandikos : public DavSyncJourneys {
 protected:
  static void SetUpTestSuite() {
    if (!have_module("xandikos") || !have_module("caldav")) return;
    server_ = std::make_unique<Xandikos>();
    if (!server_->start()) server_.reset();
  }
  static void TearDownTestSuite() { server_.reset(); }
  SyncServer server() override {
    if (!server_) return SyncServer();
    return {server_->url() + "alice/calendars/", "alice", "unused"};
  }
  void seed(const DavCollection& col, int n) override {
    for (int i = 0; i < n; i++) {
      std::string uid = prefix + "e" + std::to_string(i);
      DavResource r;
      r.href = dav_new_href(col, uid);
      r.data = event_text(uid, "Event " + std::to_string(i));
      ASSERT_EQ(0, dav_put(client.get(), col, &r));
    }
  }
  static inline std::unique_ptr<Xandikos> server_;
};

TEST_F(DavSyncXandikos, FirstSyncPullsEveryEventThenAsksOnce) { first_sync(300); }
TEST_F(DavSyncXandikos, ChangesGoBothWays) { changes_both_ways(); }
TEST_F(DavSyncXandikos, AMoveBetweenCalendarsMovesTheMember) { moves(); }
TEST_F(DavSyncXandikos, DeletionsGoBothWaysAndTheTrashKeepsTheMember) { deletions(); }
TEST_F(DavSyncXandikos, ConflictsKeepBothVersionsAndEditsBeatDeletions) { conflicts(); }
TEST_F(DavSyncXandikos, AnEditChangesOnlyTheEditedPropertyOnTheServer) { rich_event_keeps_everything(); }
TEST_F(DavSyncXandikos, AnItemTheServerHoldsBecomesItsMemberAsAConflict) { an_item_the_server_holds_becomes_its_member(); }
TEST_F(DavSyncXandikos, ANewMemberGoesBesideAnotherUidAtItsHref) { a_new_member_goes_beside_another_uid_at_its_href(); }

}  // namespace
