// SPDX-License-Identifier: GPL-3.0-or-later
// Recurrences in full, for items whose Recurrence cannot say them: a
// recurrence rule as iCalendar writes it (last Friday of the month, several
// numbered weekdays, month-day lists, set positions...), with occurrences
// added (RDATE), taken out (EXDATE) and moved (overridden instances).
//
// The rule is kept in the source store beside the item and attached to the
// item when its repository mounts; lists, calendar marks, reminders and the
// detail text then follow it. Expansion keeps the wall clock of the series'
// zone (its start's TZID, or UTC), else local time as every other recurrence
// here, and is cached per item: a query after the first costs a binary
// search.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct Item;
struct TimeZone;

struct FullRule {
  std::string rrule;             // RRULE value; UNTIL as local time; empty: only rdates
  std::vector<int64_t> exdates;  // occurrences taken out, sorted
  std::vector<int64_t> rdates;   // occurrences added, sorted
  // Overridden instances: (the occurrence it replaces, its own start), sorted
  // by the first.
  std::vector<std::pair<int64_t, int64_t>> moved;
  // The zone whose wall clock the series keeps ("UTC" for a start in UTC);
  // empty: local. Its VTIMEZONE when the calendar defined it.
  std::string tzid;
  std::string vtimezone;
};

// The rule's zone; nullptr for local time (also for a zone nobody knows).
const TimeZone* full_rule_zone(const FullRule& rule);

// The text kept in the source store: lines "RRULE:<value>", "EXDATE:<t>,<t>",
// "RDATE:<t>,...", "MOVED:<t>=<t>,..." (times as decimal seconds), "TZID:<id>"
// and one "VTIMEZONE:<line>" per unfolded line of its definition, each ended
// by LF, empty parts left out.
std::string full_rule_format(const FullRule& rule);
// 0, or -1 when a line is malformed or the RRULE does not parse.
int full_rule_parse(const std::string& text, FullRule* out);

// True when an RRULE value (and the occurrences added, taken out or moved)
// says more than the item's own Recurrence can: anything but FREQ,
// INTERVAL, COUNT, UNTIL, WKST and plain weekdays of a weekly rule. A
// monthly rule on one numbered weekday 1..4 is the item's own when it is the
// weekday and week of `start`. A series in a zone whose clock differs from
// the local one while it runs needs its rule too.
bool full_rule_needed(const FullRule& rule, int64_t start);

// --- Items ---------------------------------------------------------------------

// Attaches a rule (its text) to the item in `slot`, or detaches it (empty
// text), and works out its last occurrence again. 0, or -1 when the text does
// not parse (the item is left without one).
int item_full_rule_set(int64_t slot, const std::string& text);
// The item's rule, or nullptr.
const FullRule* item_full_rule(const Item* item);
// Forgets every attached rule (the item collection is reset).
void full_rules_reset();
// Forgets what was expanded (the local time zone changed); the rules stay.
void full_rules_expire();

// The item's first occurrence at or after `from`; 0 for none. Only for an
// item with a rule.
int64_t full_rule_from(const Item* item, int64_t from);
// The item's last occurrence, or RECUR_FOREVER_TIME when the rule has no end.
int64_t full_rule_last(const Item* item);
// Calls fn(t) for each occurrence in [from, to), in order.
void full_rule_each(const Item* item, int64_t from, int64_t to, const std::function<void(int64_t)>& fn);

// The rule for people in the current language: "Monthly, on the last
// Friday", "Every Monday and Thursday, except 24 December".
std::string full_rule_text(const FullRule& rule, int64_t start);
