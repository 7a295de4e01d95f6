// SPDX-License-Identifier: GPL-3.0-or-later
// Our exported calendars and address books must be read by other programs:
// Python's icalendar and vobject parse them and report what they see.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "interchange_fixture.h"

namespace {

const char* python() {
  // The system interpreter carries the Debian modules.
  return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

const char kScript[] = R"PY(
import sys
try:
    import icalendar, vobject
except ImportError:
    sys.exit(77)
ics, vcf = sys.argv[1], sys.argv[2]
data = open(ics, 'rb').read()
cal = icalendar.Calendar.from_ical(data)
for c in cal.walk():
    if c.name in ('VEVENT', 'VTODO'):
        start = c.get('DTSTART') or c.get('DUE')
        rrule = c.get('RRULE')
        alarms = [str(a.get('TRIGGER').dt) for a in c.walk('VALARM')]
        print('ICAL|%s|%s|%s|%s|%s|%s' % (c.name, c.get('SUMMARY'), start.dt.isoformat() if start else '',
              ';'.join(sorted(rrule.to_ical().decode().split(';'))) if rrule else '', ','.join(alarms), c.get('DESCRIPTION')))
for comp in vobject.readComponents(data.decode('utf-8')):
    for ev in comp.components():
        if ev.name in ('VEVENT', 'VTODO'):
            print('VOBJ|%s|%s' % (ev.name, ev.summary.value))
for card in vobject.readComponents(open(vcf, encoding='utf-8').read()):
    tels = ','.join('%s/%s' % (t.value, '+'.join(sorted(t.params.get('TYPE', [])))) for t in card.contents.get('tel', []))
    mails = ','.join(m.value for m in card.contents.get('email', []))
    note = card.note.value if 'note' in card.contents else ''
    adr = card.contents.get('adr')
    street = adr[0].value.street if adr else ''
    print('VCARD|%s|%s|%s|%s|%s|%s' % (card.fn.value, card.n.value.family, tels, mails, street, note))
)PY";

class IndependentParsersTest : public InterchangeTest {};

TEST_F(IndependentParsersTest, IcalendarAndVobjectReadOurExports) {
  ItemForm ev;
  ev.title = "Review: budget, plan; risks \xE2\x80\x94 " + std::string(60, 'x');
  ev.body = "Agenda\n1. one\\two\n2. caf\xC3\xA9";
  ev.due = 1893492000;  // 2030-01-01 10:00 UTC
  ev.end = ev.due + 3600;
  ev.freq = FREQ_WEEKLY;
  ev.interval_minus_one = 1;
  ev.by_day = 2 | 8;
  ev.end_kind = RECUR_UNTIL;
  ev.until = ev.due + 60 * 86400;
  ev.remind_unit = 1;
  ev.remind_count = 90;
  ASSERT_GE(item_store(-1, ITEM_EVENT, ev, 0, model().view), 0);
  ItemForm task;
  task.title = "Monthly report";
  task.due = 1893492000;
  task.freq = FREQ_MONTHLY;
  task.by_day = 1;
  task.end_kind = RECUR_COUNT;
  task.recur_count = 6;
  task.remind_unit = 3;
  task.remind_count = 2;
  ASSERT_GE(item_store(-1, ITEM_TASK, task, 0, model().view), 0);
  ItemForm undated;
  undated.title = "Someday";
  undated.flags = ITEM_COMPLETED;
  ASSERT_GE(item_store(-1, ITEM_TASK, undated, 0, model().view), 0);
  ASSERT_EQ(import_vcf("BEGIN:VCARD\nVERSION:3.0\nN:Doe;John\nFN:Doe\\, John\nTEL;TYPE=HOME;TYPE=CELL:+1 555 0100\n"
                       "EMAIL;TYPE=INTERNET:john@example.org\nADR;TYPE=WORK:;;1 Main St\\, Apt 2;Springfield;;12345;;\n"
                       "NOTE:" + std::string(90, 'n') + "\\nsecond line\nEND:VCARD\n"),
            1);

  std::string ics = dir.file("out.ics"), vcf = dir.file("out.vcf"), py = dir.file("check.py"),
              out = dir.file("check.out");
  ASSERT_EQ(export_calendar(ics.c_str(), 0, -1), 3);
  ASSERT_EQ(export_contacts(vcf.c_str(), 0, -1), 1);
  write("check.py", kScript);
  std::string cmd = std::string(python()) + " " + py + " " + ics + " " + vcf + " > " + out + " 2>&1";
  int status = std::system(cmd.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) GTEST_SKIP() << "no python3";
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "python3 without icalendar or vobject";
  std::string result = read(out);
  ASSERT_EQ(WEXITSTATUS(status), 0) << result;

  EXPECT_NE(result.find("ICAL|VEVENT|" + ev.title + "|2030-01-01T10:00:00+00:00|BYDAY=MO,WE;FREQ=WEEKLY;INTERVAL=2;"
                        "UNTIL=20300302T100000Z|-1 day, 22:30:00|" + ev.body + "\n"),
            std::string::npos)
      << result;
  EXPECT_NE(result.find("ICAL|VTODO|Monthly report|2030-01-01T10:00:00+00:00|BYDAY=1TU;COUNT=6;FREQ=MONTHLY|-2 days, "
                        "0:00:00|\n"),
            std::string::npos)
      << result;
  EXPECT_NE(result.find("ICAL|VTODO|Someday||||\n"), std::string::npos) << result;
  EXPECT_NE(result.find("VOBJ|VEVENT|" + ev.title + "\n"), std::string::npos) << result;
  EXPECT_NE(result.find("VOBJ|VTODO|Monthly report\n"), std::string::npos) << result;
  EXPECT_NE(result.find("VCARD|Doe, John|Doe|+1 555 0100/CELL+HOME|john@example.org|1 Main St, Apt 2|" +
                        std::string(90, 'n') + "\nsecond line\n"),
            std::string::npos)
      << result;
}

}  // namespace
