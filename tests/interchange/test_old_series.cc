// SPDX-License-Identifier: GPL-3.0-or-later
// Repeating events that start long before 1970 move to their first
// occurrence after it, counted series keeping only what is left of their
// count, without a walk over the centuries in between.
#include "interchange_fixture.h"

namespace {

class OldSeries : public InterchangeTest {};

}  // namespace

TEST_F(OldSeries, FirstOccurrenceAfter1970AndTheRestOfTheCount) {
  std::string cal = vcalendar(
      // Mondays and Thursdays from a Thursday in 1901: 7200 before 1970.
      "BEGIN:VEVENT\nUID:w\nDTSTART:19010103T090000Z\nDTEND:19010103T100000Z\n"
      "RRULE:FREQ=WEEKLY;BYDAY=MO,TH;COUNT=7210\nSUMMARY:Weekly\nEND:VEVENT\n"
      // The 31st of the months that have one, from 1900: 490 before 1970.
      "BEGIN:VEVENT\nUID:m\nDTSTART:19000131T120000Z\nRRULE:FREQ=MONTHLY;COUNT=500\nSUMMARY:Monthly\nEND:VEVENT\n"
      // Exactly used up before 1970.
      "BEGIN:VEVENT\nUID:u\nDTSTART:19000131T120000Z\nRRULE:FREQ=MONTHLY;COUNT=490\nSUMMARY:Used\nEND:VEVENT\n"
      // Without an end: the first one after 1970.
      "BEGIN:VEVENT\nUID:f\nDTSTART:19010103T090000Z\nRRULE:FREQ=WEEKLY;BYDAY=MO,TH\nSUMMARY:Forever\nEND:VEVENT\n");
  ImportReport r;
  EXPECT_EQ(3, import_ics(cal, &r));
  EXPECT_EQ(1, r.skipped);
  Item* weekly = titled("Weekly");
  ASSERT_TRUE(weekly);
  EXPECT_EQ(32400, weekly->due);  // Thursday 1 January 1970, 09:00 UTC
  EXPECT_EQ(36000, weekly->end);
  EXPECT_EQ(10, weekly->recur_count);
  Item* monthly = titled("Monthly");
  ASSERT_TRUE(monthly);
  EXPECT_EQ(2635200, monthly->due);  // 31 January 1970, 12:00 UTC
  EXPECT_EQ(10, monthly->recur_count);
  EXPECT_EQ(nullptr, titled("Used"));
  ASSERT_TRUE(titled("Forever"));
  EXPECT_EQ(32400, titled("Forever")->due);
}

// A calendar of many counted series from the Middle Ages (each used up
// before 1970) and one still running: the used-up ones are skipped.
TEST_F(OldSeries, ManyAncientCountedSeries) {
  std::string body;
  for (int i = 0; i < 300; ++i)
    body += "BEGIN:VEVENT\nUID:a" + std::to_string(i) +
            "\nDTSTART:10000101T090000Z\nRRULE:FREQ=DAILY;COUNT=99999\nSUMMARY:Ancient\nEND:VEVENT\n";
  body += "BEGIN:VEVENT\nUID:b\nDTSTART:10000101T090000Z\nRRULE:FREQ=DAILY\nSUMMARY:Still\nEND:VEVENT\n";
  ImportReport r;
  EXPECT_EQ(1, import_ics(vcalendar(body), &r));
  EXPECT_EQ(300, r.skipped);
  ASSERT_TRUE(titled("Still"));
  EXPECT_GT(titled("Still")->due, 0);
  EXPECT_LE(titled("Still")->due, 86400 + 32400);
}
