// SPDX-License-Identifier: GPL-3.0-or-later
// iCalendar (RFC 5545) subset: time, duration and rule parsing, the TEXT
// writer, the component reader, and the VEVENT/VTODO writer. Folding and
// unescaping are content_line.h, shared with vCard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/forms.h"
#include "model/model.h"

// Written after the at sign of exported UIDs (item_uid); imports recognise
// it to update the item with that uuid.
inline constexpr const char* kIcalVendorDomain = kItemUidDomain;

// "YYYYMMDD" (local midnight), "YYYYMMDDTHHMMSS" (local) or the same with
// "Z" (UTC). 0 and *out set, or -1. Times before 1970 are negative, so the
// result is kept apart from the status.
int ical_parse_time(const char* text, size_t len, int64_t* out);

struct TimeZone;
// The time zones a calendar defines: TZID -> its VTIMEZONE block (CR LF
// lines, unfolded).
using IcalZones = std::map<std::string, std::string>;
// The zone a property's head names with TZID: its VTIMEZONE in `zones`,
// else the system's zone of that name; nullptr without a TZID or for a zone
// neither knows.
const TimeZone* ical_zone_of(const std::string& head, const IcalZones& zones);
// A DATE or DATE-TIME value of the property whose name and parameters are
// `head`: a date at local midnight, a floating time as local wall time, a
// "Z" time as UTC, and a time with a TZID as the wall time of that zone (an
// unknown zone reads as local). 0, or -1 as ical_parse_time.
int ical_parse_time_in(const std::string& head, const char* text, size_t len, const IcalZones& zones, int64_t* out);
// "[+|-]P[nW][nD][T[nH][nM][nS]]" to signed seconds; 0 when it does not match
// or a part exceeds its limit (52 W, 365 D, 8760 H, 525600 M).
int64_t ical_parse_duration(const char* text, size_t len);

enum { RECUR_END_COUNT = 1, RECUR_END_UNTIL = 2 };

struct IcalRule {
  int freq = 0;      // 1 daily, 2 weekly, 3 monthly, 4 yearly
  int interval = 0;  // 0 when absent
  int by_day = 0;    // weekday bits, bit 0 Sunday
  int end_kind = 0;  // RECUR_END_COUNT or RECUR_END_UNTIL
  int count = 0;
  int64_t until = 0;
};
// The RRULE value [text, end). 0, or -1 for a part without "=", a trailing
// ";" or a bad UNTIL.
int ical_parse_rrule(const char* text, const char* end, IcalRule* rule);
// The rule's values for form_set_rule.
RuleFields ical_rule_fields(const IcalRule& r);

// "YYYYMMDDTHHMMSS" as the wall time in the zone (nullptr: local).
std::string ical_format_wall(const TimeZone* zone, int64_t t);
// "%Y%m%dT%H%M%SZ" in UTC; empty for 0.
std::string ical_format_time(int64_t t);
// Appends name (e.g. "SUMMARY:") and the text escaped as TEXT, folded.
void ical_write_text(std::string* out, const char* name, const char* text);
// TEXT escaping: LF as "\n", backslash before ",", ";" and backslash, CR dropped.
std::string ical_escape_text(const char* text);

// Reminder lead time as the largest unit dividing it: weeks, days, hours,
// else minutes (truncated). Unit letters "W", "D", "H", "M".
void ical_reminder_unit(int64_t offset, int* count, char* unit);

// Largest component or vCard kept on import; a larger one is skipped (logged).
constexpr size_t kInterchangeItemMax = 1 << 20;

enum IcalKind { ICAL_EVENT = 1, ICAL_TODO = 0 };

// One VEVENT or VTODO as collected from a file: its unfolded content lines
// (nested components included, so VALARM lines are there).
struct IcalComponent {
  IcalKind kind = ICAL_EVENT;
  std::vector<std::string> lines;
  IcalZones zones;  // the calendar's VTIMEZONEs
};
// Splits the text of a calendar file into its VEVENT and VTODO components.
// Folded lines are joined (exactly one leading space or tab removed). Lines
// outside those components are ignored, but for VTIMEZONEs, which every
// component gets in `zones`; a component larger than
// kInterchangeItemMax or not valid UTF-8 is skipped.
std::vector<IcalComponent> ical_read_components(const char* data, size_t len);

// What a component says, ready to become a task or event.
struct IcalEntry {
  IcalKind kind = ICAL_EVENT;
  std::string uid;  // may be empty
  std::string title;
  std::string body;
  int64_t start = 0;  // event start / task due
  int64_t end = 0;    // events only
  bool completed = false;
  bool has_rule = false;
  IcalRule rule;
  bool has_reminder = false;
  int64_t remind_offset = 0;  // seconds before start; 0 = at the start
};
// 0, or -1 when the component breaks a rule (missing SUMMARY, an event
// without DTSTART, a bad time or rule). The value starts after the first
// ":" outside double quotes; a content line without one is skipped alone. A
// task without DUE and DTSTART has start 0 (no due date).
int ical_parse_component(const IcalComponent& c, IcalEntry* out);
// The uuid named by a UID of ours ("<32 hex digits>@<vendor domain>"): 0, or -1.
int ical_uid_uuid(const std::string& uid, uint8_t uuid[16]);

// The fields of a task or event that the writer needs.
struct IcalItem {
  uint8_t uuid[16] = {};
  bool is_event = false;
  bool completed = false;
  int64_t due = 0;
  int64_t end = 0;
  int freq = 0;
  int interval_minus_one = 0;
  int by_day = 0;
  int end_kind = 0;
  int recur_count = 0;
  int64_t last_occurrence = 0;
  int64_t remind_offset = 0;
  int64_t created = 0;
  int64_t modified = 0;
  std::string title;
  std::string body;
};
// The item's RRULE line (CR LF ended); nothing when it does not repeat.
void ical_write_rrule(std::string* out, const IcalItem& item);
// The TRIGGER value of a reminder lead time: "-PT15M", "-P2D".
std::string ical_trigger_value(int64_t offset);
void ical_begin_calendar(std::string* out);
void ical_end_calendar(std::string* out);
// One VEVENT or VTODO; `now` is the DTSTAMP.
void ical_write_item(std::string* out, const IcalItem& item, int64_t now);
