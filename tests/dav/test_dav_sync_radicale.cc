// SPDX-License-Identifier: GPL-3.0-or-later
// The account sync against Debian's Radicale, python3-caldav changing
// things between syncs.
#include <gtest/gtest.h>

#include "dav/dav_sync_journeys.h"

namespace {

using namespace dav_test;

class DavSyncRadicale : public RadicaleJourneys<DavSyncRadicale> {};

TEST_F(DavSyncRadicale, FirstSyncPullsAFewThousandEventsThenAsksOnce) { first_sync(2000); }
TEST_F(DavSyncRadicale, ChangesGoBothWays) { changes_both_ways(); }
TEST_F(DavSyncRadicale, AMoveBetweenCalendarsMovesTheMember) { moves(); }
TEST_F(DavSyncRadicale, DeletionsGoBothWaysAndTheTrashKeepsTheMember) { deletions(); }
TEST_F(DavSyncRadicale, ConflictsKeepBothVersionsAndEditsBeatDeletions) { conflicts(); }
TEST_F(DavSyncRadicale, AnEditChangesOnlyTheEditedPropertyOnTheServer) { rich_event_keeps_everything(); }
TEST_F(DavSyncRadicale, AnItemTheServerHoldsBecomesItsMemberAsAConflict) { an_item_the_server_holds_becomes_its_member(); }
TEST_F(DavSyncRadicale, ANewMemberGoesBesideAnotherUidAtItsHref) { a_new_member_goes_beside_another_uid_at_its_href(); }
TEST_F(DavSyncRadicale, AWrongPasswordChangesNothing) { wrong_password(); }

}  // namespace
