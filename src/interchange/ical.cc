// SPDX-License-Identifier: GPL-3.0-or-later
#include "interchange/ical.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "interchange/content_line.h"
#include "model/recur.h"
#include "model/time_zone.h"
#include "support/log.h"
#include "support/text.h"

namespace {

bool digits(const char* p, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (!isdigit(static_cast<unsigned char>(p[i]))) return false;
  return true;
}

int num(const char* p, size_t n) {
  int v = 0;
  for (size_t i = 0; i < n; i++) v = v * 10 + (p[i] - '0');
  return v;
}

// Case-insensitive comparison of [p, p+n) with a literal.
bool ieq(const char* p, size_t n, const char* lit) {
  return std::strlen(lit) == n && strncasecmp(p, lit, n) == 0;
}

// Name of a content line (before the first ";" or ":"), compared whole.
bool prop_is(const std::string& line, const char* name) {
  size_t n = std::strlen(name);
  return line.size() > n && strncasecmp(line.c_str(), name, n) == 0 && (line[n] == ':' || line[n] == ';');
}

const char* const kDayNames[7] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
const char* const kFreqNames[5] = {"", "DAILY", "WEEKLY", "MONTHLY", "YEARLY"};

}  // namespace

int ical_parse_time(const char* text, size_t len, int64_t* out) {
  if (!text || (len != 8 && len != 15 && len != 16)) return -1;
  if (!digits(text, 8)) return -1;
  if (text[0] != '1' && text[0] != '2') return -1;
  struct tm tm {};
  tm.tm_year = num(text, 4) - 1900;
  int month = num(text + 4, 2), day = num(text + 6, 2);
  if (month < 1 || month > 12 || text[6] > '3' || day < 1 || day > 31) return -1;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  bool utc = false;
  if (len > 8) {
    if (text[8] != 'T' || !digits(text + 9, 6)) return -1;
    tm.tm_hour = num(text + 9, 2);
    tm.tm_min = num(text + 11, 2);
    tm.tm_sec = num(text + 13, 2);
    if (tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60) return -1;
    utc = len == 16 && text[15] == 'Z';
  }
  time_t t;
  if (utc) {
    t = timegm(&tm);
  } else {
    tm.tm_isdst = -1;
    t = mktime(&tm);
  }
  *out = static_cast<int64_t>(t);
  return 0;
}

const TimeZone* ical_zone_of(const std::string& head, const IcalZones& zones) {
  std::string tzid = content_param(head, "TZID");
  if (tzid.empty()) return nullptr;
  auto found = zones.find(tzid);
  return time_zone_find(tzid, found == zones.end() ? std::string() : found->second);
}

int ical_parse_time_in(const std::string& head, const char* text, size_t len, const IcalZones& zones, int64_t* out) {
  int64_t t;
  if (ical_parse_time(text, len, &t) != 0) return -1;
  // Dates are whole local days, and a "Z" time is UTC whatever the zone.
  const TimeZone* zone = len == 15 ? ical_zone_of(head, zones) : nullptr;
  if (zone) {
    t = time_zone_time_of(zone, WallTime{num(text, 4), num(text + 4, 2), num(text + 6, 2), num(text + 9, 2),
                                         num(text + 11, 2), num(text + 13, 2)});
  }
  *out = t;
  return 0;
}

int64_t ical_parse_duration(const char* text, size_t len) {
  if (!text) return 0;
  size_t i = 0;
  bool negative = false;
  if (i < len && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= len || text[i++] != 'P') return 0;
  int64_t weeks = 0, days = 0, hours = 0, minutes = 0, seconds = 0;
  bool in_time = false, any = false;
  while (i < len) {
    if (text[i] == 'T' && !in_time) {
      in_time = true;
      i++;
      continue;
    }
    size_t start = i;
    int64_t v = 0;
    while (i < len && isdigit(static_cast<unsigned char>(text[i])) && i - start < 9) v = v * 10 + (text[i++] - '0');
    if (i == start || i >= len) return 0;
    char unit = text[i++];
    if (!in_time && unit == 'W') {
      weeks = v;
    } else if (!in_time && unit == 'D') {
      days = v;
    } else if (in_time && unit == 'H') {
      hours = v;
    } else if (in_time && unit == 'M') {
      minutes = v;
    } else if (in_time && unit == 'S') {
      seconds = v;
    } else {
      return 0;
    }
    any = true;
  }
  if (!any || weeks > 52 || days > 365 || hours > 8760 || minutes > 525600 || seconds > 31536000) return 0;
  int64_t total = seconds + minutes * 60 + hours * 3600 + days * 86400 + weeks * 604800;
  return negative ? -total : total;
}

int ical_parse_rrule(const char* text, const char* end, IcalRule* rule) {
  *rule = IcalRule();
  if (!text || end < text) return -1;
  if (end > text && end[-1] == ';') return -1;
  const char* p = text;
  while (p < end) {
    const char* part_end = static_cast<const char*>(std::memchr(p, ';', end - p));
    if (!part_end) part_end = end;
    const char* eq = static_cast<const char*>(std::memchr(p, '=', part_end - p));
    if (!eq) return -1;
    const char* v = eq + 1;
    size_t vlen = part_end - v;
    size_t nlen = eq - p;
    if (ieq(p, nlen, "FREQ")) {
      rule->freq = 0;
      for (int f = 1; f <= 4; f++)
        if (ieq(v, vlen, kFreqNames[f])) rule->freq = f;
    } else if (ieq(p, nlen, "INTERVAL")) {
      rule->interval = static_cast<int>(std::strtol(std::string(v, vlen).c_str(), nullptr, 10));
    } else if (ieq(p, nlen, "COUNT")) {
      rule->count = static_cast<int>(std::strtol(std::string(v, vlen).c_str(), nullptr, 10));
      rule->end_kind = RECUR_END_COUNT;
    } else if (ieq(p, nlen, "UNTIL")) {
      if (ical_parse_time(v, vlen, &rule->until) != 0) return -1;
      rule->end_kind = RECUR_END_UNTIL;
    } else if (ieq(p, nlen, "BYDAY")) {
      const char* d = v;
      while (d < part_end) {
        const char* comma = static_cast<const char*>(std::memchr(d, ',', part_end - d));
        if (!comma) comma = part_end;
        const char* name = d;
        while (name < comma && (*name == '+' || *name == '-' || isdigit(static_cast<unsigned char>(*name)))) name++;
        for (int w = 0; w < 7; w++)
          if (ieq(name, comma - name, kDayNames[w])) rule->by_day |= 1 << w;
        d = comma + 1;
      }
    }
    p = part_end + 1;
  }
  return 0;
}

std::string ical_format_wall(const TimeZone* zone, int64_t t) {
  char buf[32];
  if (zone) {
    WallTime w = time_zone_wall(zone, t);
    std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d", w.year, w.month, w.day, w.hour, w.minute, w.second);
    return buf;
  }
  time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  localtime_r(&tt, &tm);
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%S", &tm);
  return buf;
}

std::string ical_format_time(int64_t t) {
  if (t == 0) return std::string();
  time_t tt = static_cast<time_t>(t);
  struct tm tm;
  if (!gmtime_r(&tt, &tm)) return std::string();
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
  return buf;
}

std::string ical_escape_text(const char* text) {
  // TEXT escaping is the same as a vCard value's.
  return vcard_escape(text);
}

void ical_write_text(std::string* out, const char* name, const char* text) {
  *out += name;
  std::string esc = ical_escape_text(text);
  content_append_folded(out, esc.data(), esc.size(), std::strlen(name));
}

void ical_reminder_unit(int64_t offset, int* count, char* unit) {
  if (offset < 0) offset = -offset;
  if (offset != 0 && offset % 604800 == 0) {
    *count = static_cast<int>(offset / 604800);
    *unit = 'W';
  } else if (offset != 0 && offset % 86400 == 0) {
    *count = static_cast<int>(offset / 86400);
    *unit = 'D';
  } else if (offset != 0 && offset % 3600 == 0) {
    *count = static_cast<int>(offset / 3600);
    *unit = 'H';
  } else {
    *count = static_cast<int>(offset / 60);
    *unit = 'M';
  }
}

std::vector<IcalComponent> ical_read_components(const char* data, size_t len) {
  std::vector<IcalComponent> result;
  if (!data) return result;
  // Unfold into logical lines first.
  size_t pos = 0;
  if (len >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) pos = 3;
  std::vector<std::string> lines = content_unfold(data + pos, len - pos, kInterchangeItemMax);

  bool collecting = false;
  bool oversized = false;
  size_t size = 0;
  IcalComponent cur;
  IcalZones zones;
  std::string zone, zone_id;
  for (auto& line : lines) {
    if (!collecting && !zone.empty()) {
      zone += line + "\r\n";
      size_t colon = content_value_colon(line);
      if (prop_is(line, "TZID") && zone_id.empty() && colon != std::string::npos) zone_id = line.substr(colon + 1);
      if (strcasecmp(line.c_str(), "END:VTIMEZONE") == 0) {
        if (!zone_id.empty()) zones[zone_id] = zone;
        zone.clear();
        zone_id.clear();
      }
      continue;
    }
    if (!collecting && strcasecmp(line.c_str(), "BEGIN:VTIMEZONE") == 0) {
      zone = line + "\r\n";
      continue;
    }
    if (!collecting) {
      if (strcasecmp(line.c_str(), "BEGIN:VEVENT") == 0 || strcasecmp(line.c_str(), "BEGIN:VTODO") == 0) {
        collecting = true;
        oversized = false;
        size = 0;
        cur = IcalComponent();
        cur.kind = strcasecmp(line.c_str(), "BEGIN:VEVENT") == 0 ? ICAL_EVENT : ICAL_TODO;
      }
      continue;
    }
    if (strcasecmp(line.c_str(), "BEGIN:VEVENT") == 0 || strcasecmp(line.c_str(), "BEGIN:VTODO") == 0) continue;
    bool end_event = strcasecmp(line.c_str(), "END:VEVENT") == 0;
    bool end_todo = strcasecmp(line.c_str(), "END:VTODO") == 0;
    if (end_event || end_todo) {
      if ((end_event && cur.kind == ICAL_EVENT) || (end_todo && cur.kind == ICAL_TODO)) {
        collecting = false;
        bool valid = true;
        for (auto& l : cur.lines)
          if (!utf8_valid_n(l.data(), l.size())) valid = false;
        if (oversized) {
          log_message(LOG_WARNING, "ical_read_components: component over %zu bytes skipped", kInterchangeItemMax);
        } else if (valid) {
          result.push_back(std::move(cur));
        }
      }
      continue;
    }
    size += line.size() + 2;
    if (size > kInterchangeItemMax) {
      oversized = true;
      continue;
    }
    cur.lines.push_back(line);
  }
  for (IcalComponent& c : result) c.zones = zones;
  return result;
}

int ical_parse_component(const IcalComponent& c, IcalEntry* out) {
  *out = IcalEntry();
  out->kind = c.kind;
  bool has_start = false, has_end = false, has_due = false, has_summary = false;
  int64_t start = 0, end = 0, due = 0, duration = 0;
  // Nested components (alarms, others): only an alarm's TRIGGER counts, so
  // that an alarm's own SUMMARY or DESCRIPTION never replaces the item's.
  std::vector<std::string> nested;
  for (const std::string& line : c.lines) {
    if (line.empty()) continue;
    size_t colon = content_value_colon(line);
    // One malformed line costs that line, not the component.
    if (colon == std::string::npos) continue;
    const char* v = line.c_str() + colon + 1;
    size_t vlen = line.size() - colon - 1;
    if (prop_is(line, "BEGIN")) {
      nested.emplace_back(v, vlen);
      continue;
    }
    if (prop_is(line, "END")) {
      if (!nested.empty()) nested.pop_back();
      continue;
    }
    if (!nested.empty()) {
      // The first alarm is the item's reminder; the others stay in the kept
      // component.
      if (strcasecmp(nested.back().c_str(), "VALARM") == 0 && prop_is(line, "TRIGGER") && !out->has_reminder) {
        out->has_reminder = true;
        if (vlen > 0 && v[0] == '-') {
          int64_t d = ical_parse_duration(v, vlen);
          out->remind_offset = d < 0 ? -d : d;
        } else {
          out->remind_offset = 0;
        }
      }
      continue;
    }
    if (prop_is(line, "UID")) {
      out->uid.assign(v, vlen);
    } else if (prop_is(line, "DTSTART")) {
      if (ical_parse_time_in(line.substr(0, colon), v, vlen, c.zones, &start) != 0) return -1;
      has_start = true;
    } else if (prop_is(line, "DTEND")) {
      if (ical_parse_time_in(line.substr(0, colon), v, vlen, c.zones, &end) != 0) return -1;
      has_end = true;
    } else if (prop_is(line, "DUE")) {
      if (ical_parse_time_in(line.substr(0, colon), v, vlen, c.zones, &due) != 0) return -1;
      has_due = true;
    } else if (prop_is(line, "DURATION")) {
      duration = ical_parse_duration(v, vlen);
    } else if (prop_is(line, "STATUS")) {
      if (ieq(v, vlen, "COMPLETED")) out->completed = true;
    } else if (prop_is(line, "RRULE")) {
      if (ical_parse_rrule(v, v + vlen, &out->rule) != 0) return -1;
      out->has_rule = out->rule.freq != 0;
    } else if (prop_is(line, "SUMMARY")) {
      out->title = content_unescape(v, vlen);
      has_summary = true;
    } else if (prop_is(line, "DESCRIPTION")) {
      out->body = content_unescape(v, vlen);
    }
  }
  if (!has_summary) return -1;
  if (c.kind == ICAL_EVENT) {
    if (!has_start) return -1;
    out->start = start;
    out->end = has_end ? end : start + duration;
  } else {
    if (has_due) {
      out->start = due;
    } else if (has_start) {
      out->start = start + duration;
    } else {
      out->start = 0;  // a task without a date is still a task
    }
  }
  return 0;
}

int ical_uid_uuid(const std::string& uid, uint8_t uuid[16]) {
  size_t dl = std::strlen(kIcalVendorDomain);
  if (uid.size() != 33 + dl || uid[32] != '@') return -1;
  if (strncasecmp(uid.c_str() + 33, kIcalVendorDomain, dl) != 0) return -1;
  return hex_decode(uid.c_str(), uuid, 16);
}

void ical_begin_calendar(std::string* out) {
  *out +=
      "BEGIN:VCALENDAR\r\n"
      "PRODID:-//Velmor Inc.//Ordika Calendar 1.0//EN\r\n"
      "VERSION:2.0\r\n"
      "CALSCALE:GREGORIAN\r\n"
      "METHOD:PUBLISH\r\n";
}

void ical_end_calendar(std::string* out) { *out += "END:VCALENDAR\r\n"; }

void ical_write_rrule(std::string* out, const IcalItem& it) {
  if (it.freq < 1 || it.freq > 4) return;
  char buf[64];
  *out += "RRULE:FREQ=";
  *out += kFreqNames[it.freq];
  if (it.interval_minus_one != 0) {
    std::snprintf(buf, sizeof buf, ";INTERVAL=%d", it.interval_minus_one + 1);
    *out += buf;
  }
  if (it.freq == 3) {
    time_t t = static_cast<time_t>(it.due);
    struct tm tm {};
    localtime_r(&t, &tm);
    if (it.by_day)
      std::snprintf(buf, sizeof buf, ";BYDAY=%d%s", week_of_month(tm.tm_mday) + 1, kDayNames[tm.tm_wday]);
    else
      std::snprintf(buf, sizeof buf, ";BYMONTHDAY=%d", tm.tm_mday);
    *out += buf;
  } else if (it.freq == 2 && it.by_day) {
    *out += ";BYDAY=";
    bool first = true;
    for (int w = 0; w < 7; w++) {
      if (!(it.by_day & (1 << w))) continue;
      if (!first) *out += ",";
      *out += kDayNames[w];
      first = false;
    }
  }
  if (it.end_kind == RECUR_END_UNTIL) {
    *out += ";UNTIL=" + ical_format_time(it.last_occurrence);
  } else if (it.end_kind == RECUR_END_COUNT) {
    std::snprintf(buf, sizeof buf, ";COUNT=%d", it.recur_count);
    *out += buf;
  }
  *out += "\r\n";
}

namespace {

// A time of 0 (not set) leaves the property out: an empty value is invalid
// for other readers and for our own, which would drop the whole item.
void write_time(std::string* out, const char* name, int64_t t) {
  if (t == 0) return;
  *out += name;
  *out += ical_format_time(t);
  *out += "\r\n";
}

void write_uid(std::string* out, const IcalItem& it) {
  *out += "UID:" + item_uid(it.uuid) + "\r\n";
}

}  // namespace

void ical_write_item(std::string* out, const IcalItem& it, int64_t now) {
  if (it.is_event) {
    *out += "BEGIN:VEVENT\r\n";
    write_uid(out, it);
    write_time(out, "DTSTART:", it.due);
    write_time(out, "DTEND:", it.end);
    ical_write_rrule(out, it);
    write_time(out, "DTSTAMP:", now);
    write_time(out, "CREATED:", it.created);
    write_time(out, "LAST-MODIFIED:", it.modified);
    *out += "STATUS:CONFIRMED\r\nTRANSP:OPAQUE\r\n";
  } else {
    *out += "BEGIN:VTODO\r\n";
    write_uid(out, it);
    write_time(out, "DUE:", it.due);
    // Tasks keep their recurrence too, so re-importing an export of ours
    // does not wipe it.
    ical_write_rrule(out, it);
    write_time(out, "DTSTAMP:", now);
    write_time(out, "CREATED:", it.created);
    write_time(out, "LAST-MODIFIED:", it.modified);
    if (it.completed) {
      *out += "STATUS:COMPLETED\r\n";
      write_time(out, "COMPLETED:", it.due);
    } else
      *out += "STATUS:NEEDS-ACTION\r\n";
  }
  ical_write_text(out, "SUMMARY:", it.title.c_str());
  ical_write_text(out, "DESCRIPTION:", it.body.c_str());
  if (it.remind_offset != 0) {
    *out += "BEGIN:VALARM\r\nACTION:AUDIO\r\nTRIGGER:" + ical_trigger_value(it.remind_offset) + "\r\n";
    *out += "END:VALARM\r\n";
  }
  *out += it.is_event ? "END:VEVENT\r\n" : "END:VTODO\r\n";
}

std::string ical_trigger_value(int64_t offset) {
  int count;
  char unit;
  ical_reminder_unit(offset, &count, &unit);
  char buf[64];
  if (unit == 'D' || unit == 'W')
    std::snprintf(buf, sizeof buf, "-P%d%c", count, unit);
  else
    std::snprintf(buf, sizeof buf, "-PT%d%c", count, unit);
  return buf;
}

RuleFields ical_rule_fields(const IcalRule& r) {
  RuleFields out;
  out.freq = r.freq;
  out.interval = r.interval;
  out.by_day = r.by_day;
  out.end_kind = r.end_kind == RECUR_END_COUNT ? RECUR_COUNT : r.end_kind == RECUR_END_UNTIL ? RECUR_UNTIL : 0;
  out.count = r.count;
  out.until = r.until;
  return out;
}
