// The account sync against Debian's Radicale, python3-caldav changing
// things between syncs.
#include <gtest/gtest.h>

#include "dav/dav_sync_journeys.h"

namespace {

using namespace dav_test;

class DavSyncRadicale : public DavSyncJourneys {
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

TEST_F(DavSyncRadicale, FirstSyncPullsAFewThousandEventsThenAsksOnce) { first_sync(2000); }
TEST_F(DavSyncRadicale, ChangesGoBothWays) { changes_both_ways(); }
TEST_F(DavSyncRadicale, AMoveBetweenCalendarsMovesTheMember) { moves(); }
TEST_F(DavSyncRadicale, DeletionsGoBothWaysAndTheTrashKeepsTheMember) { deletions(); }
TEST_F(DavSyncRadicale, ConflictsKeepBothVersionsAndEditsBeatDeletions) { conflicts(); }
TEST_F(DavSyncRadicale, AnEditChangesOnlyTheEditedPropertyOnTheServer) { rich_event_keeps_everything(); }
TEST_F(DavSyncRadicale, AWrongPasswordChangesNothing) { wrong_password(); }

}  // namespace
