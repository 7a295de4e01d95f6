// SPDX-License-Identifier: GPL-3.0-or-later
// Kept components: splitting files into components, the entries they make,
// and writing a kept component back with the item's changes.
#include "interchange/components.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>

#include "interchange/content_line.h"
#include "interchange/ical.h"
#include "interchange/import_internal.h"
#include "interchange/interchange.h"
#include "interchange/vcard_edit.h"
#include "model/forms.h"
#include "model/full_rule.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/time_zone.h"
#include "support/log.h"
#include "support/text.h"

namespace {

// One property or BEGIN/END line: as stored (continuation lines included,
// CR LF ended) and as read (unfolded).
struct Line {
  std::string raw;
  std::string text;
};

// Lines of a text, line ends made CR LF; a leading byte order mark goes.
std::vector<Line> split_lines(const std::string& s) {
  std::vector<Line> out;
  size_t pos = s.size() >= 3 && s.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos < s.size()) {
    size_t nl = s.find('\n', pos);
    size_t end = nl == std::string::npos ? s.size() : nl;
    size_t e = end;
    while (e > pos && s[e - 1] == '\r') e--;
    std::string physical = s.substr(pos, e - pos);
    pos = end + 1;
    if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t') && !out.empty()) {
      out.back().raw += physical + "\r\n";
      out.back().text.append(physical, 1, std::string::npos);
      continue;
    }
    if (physical.empty()) continue;
    out.push_back({physical + "\r\n", physical});
  }
  return out;
}

std::string join(const std::vector<Line>& lines, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to && i < lines.size(); i++) out += lines[i].raw;
  return out;
}

// The property name (upper case, group removed) and the value.
std::string name_of(const std::string& text) {
  size_t end = text.find_first_of(";:");
  std::string n = text.substr(0, end);
  size_t dot = n.rfind('.');
  if (dot != std::string::npos) n = n.substr(dot + 1);
  for (char& c : n) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return n;
}
std::string head_of(const std::string& text) {
  size_t colon = content_value_colon(text);
  return colon == std::string::npos ? text : text.substr(0, colon);
}
std::string value_of(const std::string& text) {
  size_t colon = content_value_colon(text);
  return colon == std::string::npos ? std::string() : text.substr(colon + 1);
}
bool is_begin(const Line& l, const char* kind) {
  return name_of(l.text) == "BEGIN" && (!kind || strcasecmp(value_of(l.text).c_str(), kind) == 0);
}
bool is_end(const Line& l) { return name_of(l.text) == "END"; }

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

// A component: [begin, end] are its BEGIN and END lines.
struct Block {
  std::string kind;  // upper case
  size_t begin = 0, end = 0;
};

// The components directly inside [from, to) (lines at that depth), and the
// property lines there.
void blocks_in(const std::vector<Line>& lines, size_t from, size_t to, std::vector<Block>* blocks,
               std::vector<size_t>* props) {
  size_t i = from;
  while (i < to) {
    if (is_begin(lines[i], nullptr)) {
      Block b;
      b.kind = upper(value_of(lines[i].text));
      b.begin = i;
      int depth = 0;
      size_t j = i;
      for (; j < to; j++) {
        if (is_begin(lines[j], nullptr)) depth++;
        else if (is_end(lines[j]) && --depth == 0) break;
      }
      b.end = j < to ? j : to - 1;
      blocks->push_back(b);
      i = b.end + 1;
      continue;
    }
    if (props && !is_end(lines[i])) props->push_back(i);
    i++;
  }
}

// The first property `name` directly inside the block; npos when none.
size_t prop_in(const std::vector<Line>& lines, const Block& b, const char* name) {
  int depth = 0;
  for (size_t i = b.begin + 1; i < b.end; i++) {
    if (is_begin(lines[i], nullptr)) depth++;
    else if (is_end(lines[i])) depth--;
    else if (depth == 0 && name_of(lines[i].text) == name) return i;
  }
  return std::string::npos;
}

// The VEVENT and VTODO blocks of a calendar text, and the one that is the
// item (the first without RECURRENCE-ID, else the first).
struct CalendarParts {
  std::vector<Line> lines;
  std::vector<Block> items;
  int master = -1;
  IcalZones zones;
};

bool calendar_parts(const std::string& text, CalendarParts* p) {
  p->lines = split_lines(text);
  std::vector<Block> top;
  blocks_in(p->lines, 0, p->lines.size(), &top, nullptr);
  for (const Block& b : top) {
    if (b.kind == "VCALENDAR") {
      std::vector<Block> inner;
      blocks_in(p->lines, b.begin + 1, b.end, &inner, nullptr);
      for (const Block& c : inner) {
        if (c.kind == "VEVENT" || c.kind == "VTODO") p->items.push_back(c);
        size_t tz = c.kind == "VTIMEZONE" ? prop_in(p->lines, c, "TZID") : std::string::npos;
        if (tz == std::string::npos) continue;
        std::string& zone = p->zones[value_of(p->lines[tz].text)];
        for (size_t i = c.begin; i <= c.end; i++) zone += p->lines[i].text + "\r\n";
      }
    } else if (b.kind == "VEVENT" || b.kind == "VTODO") {
      p->items.push_back(b);
    }
  }
  for (size_t i = 0; i < p->items.size() && p->master < 0; i++)
    if (prop_in(p->lines, p->items[i], "RECURRENCE-ID") == std::string::npos) p->master = static_cast<int>(i);
  if (p->master < 0 && !p->items.empty()) p->master = 0;
  return p->master >= 0;
}

// What ical_parse_component reads: the unfolded lines inside the block.
IcalComponent ical_component_of(const CalendarParts& p, const Block& b) {
  IcalComponent c;
  c.kind = b.kind == "VEVENT" ? ICAL_EVENT : ICAL_TODO;
  for (size_t i = b.begin + 1; i < b.end; i++) c.lines.push_back(p.lines[i].text);
  c.zones = p.zones;
  return c;
}

std::string text_of(const std::vector<Line>& lines) { return join(lines, 0, lines.size()); }

// A time of a content line; DATE values at the clock of `clock` (the
// series' start), as the occurrences of a series fall.
bool line_time(const CalendarParts& p, const std::string& head, const std::string& value, int64_t clock,
               int64_t* out) {
  if (ical_parse_time_in(head, value.data(), value.size(), p.zones, out) != 0) return false;
  if (value.size() == 8 || strcasecmp(content_param(head, "VALUE").c_str(), "DATE") == 0) {
    int64_t t = local_day_at(*out, 0, clock);
    if (t) *out = t;
  }
  return true;
}

// UNTIL as the wall time the expansion compares it with: local, or that of
// the series' zone.
std::string rrule_wall_until(const std::string& rrule, const TimeZone* zone) {
  size_t at = upper(rrule).find("UNTIL=");
  if (at == std::string::npos) return rrule;
  size_t v = at + 6;
  size_t end = rrule.find(';', v);
  if (end == std::string::npos) end = rrule.size();
  std::string value = rrule.substr(v, end - v);
  int64_t t;
  if (value.size() != 16 || ical_parse_time(value.data(), value.size(), &t) != 0) return rrule;
  return rrule.substr(0, v) + ical_format_wall(zone, t) + rrule.substr(end);
}

// The zone whose wall clock a series keeps: its start's TZID (defined by the
// calendar's VTIMEZONE, else known by name), UTC for a start in UTC; none for
// a floating start or a date.
void series_zone(const CalendarParts& p, const Block& m, FullRule* r) {
  size_t ds = prop_in(p.lines, m, "DTSTART");
  if (ds == std::string::npos) return;
  std::string head = head_of(p.lines[ds].text), value = value_of(p.lines[ds].text);
  if (value.size() == 16 && (value[15] == 'Z' || value[15] == 'z')) {
    r->tzid = "UTC";
    return;
  }
  std::string tzid = content_param(head, "TZID");
  if (value.size() != 15 || tzid.empty() || !ical_zone_of(head, p.zones)) return;
  r->tzid = tzid;
  auto found = p.zones.find(tzid);
  if (found != p.zones.end()) r->vtimezone = found->second;
}

// The full rule of the master and its overridden instances.
FullRule rule_of(const CalendarParts& p, int64_t start) {
  FullRule r;
  const Block& m = p.items[static_cast<size_t>(p.master)];
  series_zone(p, m, &r);
  const TimeZone* zone = full_rule_zone(r);
  int depth = 0;
  for (size_t i = m.begin + 1; i < m.end; i++) {
    const Line& l = p.lines[i];
    if (is_begin(l, nullptr)) depth++;
    else if (is_end(l)) depth--;
    if (depth != 0 || is_end(l)) continue;
    std::string name = name_of(l.text), head = head_of(l.text), value = value_of(l.text);
    if (name == "RRULE" && r.rrule.empty()) {
      r.rrule = rrule_wall_until(value, zone);
    } else if (name == "EXDATE" || name == "RDATE") {
      if (strcasecmp(content_param(head, "VALUE").c_str(), "PERIOD") == 0) continue;
      size_t pos = 0;
      while (pos <= value.size()) {
        size_t comma = value.find(',', pos);
        if (comma == std::string::npos) comma = value.size();
        int64_t t;
        if (line_time(p, head, value.substr(pos, comma - pos), start, &t))
          (name == "EXDATE" ? r.exdates : r.rdates).push_back(t);
        pos = comma + 1;
      }
    }
  }
  for (size_t k = 0; k < p.items.size(); k++) {
    if (static_cast<int>(k) == p.master) continue;
    size_t rid = prop_in(p.lines, p.items[k], "RECURRENCE-ID");
    if (rid == std::string::npos) continue;
    int64_t id, at;
    const std::string& t = p.lines[rid].text;
    if (!line_time(p, head_of(t), value_of(t), start, &id)) continue;
    at = id;
    size_t ds = prop_in(p.lines, p.items[k], "DTSTART");
    if (ds != std::string::npos) line_time(p, head_of(p.lines[ds].text), value_of(p.lines[ds].text), start, &at);
    r.moved.emplace_back(id, at);
  }
  std::sort(r.exdates.begin(), r.exdates.end());
  std::sort(r.rdates.begin(), r.rdates.end());
  std::sort(r.moved.begin(), r.moved.end());
  return r;
}

bool utf8_ok(const std::string& s) { return utf8_valid_n(s.data(), s.size()) != 0; }

}  // namespace

// --- Naming and splitting ------------------------------------------------------

ComponentKind component_kind(const std::string& text) {
  for (const Line& l : split_lines(text)) {
    if (!is_begin(l, nullptr)) continue;
    std::string kind = upper(value_of(l.text));
    if (kind == "VEVENT") return COMPONENT_EVENT;
    if (kind == "VTODO") return COMPONENT_TODO;
    if (kind == "VCARD") return COMPONENT_CARD;
  }
  return COMPONENT_NONE;
}

std::string component_uid(const std::string& text) {
  std::vector<Line> lines = split_lines(text);
  int depth = 0, item_depth = -1;
  for (const Line& l : lines) {
    if (is_begin(l, nullptr)) {
      depth++;
      std::string kind = upper(value_of(l.text));
      if (item_depth < 0 && (kind == "VEVENT" || kind == "VTODO" || kind == "VCARD")) item_depth = depth;
    } else if (is_end(l)) {
      depth--;
    } else if (depth == item_depth && name_of(l.text) == "UID") {
      std::string v = value_of(l.text);
      return content_unescape(v.data(), v.size());
    }
  }
  return std::string();
}

std::vector<std::string> component_split(const std::string& text) {
  std::vector<std::string> out;
  std::vector<Line> lines = split_lines(text);
  std::vector<Block> top;
  std::vector<size_t> top_props;
  blocks_in(lines, 0, lines.size(), &top, &top_props);
  // Bare components outside any VCALENDAR count as one calendar.
  std::vector<std::pair<std::vector<size_t>, std::vector<Block>>> calendars;
  std::vector<Block> loose;
  for (const Block& b : top) {
    if (b.kind == "VCARD") {
      out.push_back(join(lines, b.begin, b.end + 1));
    } else if (b.kind == "VCALENDAR") {
      std::vector<Block> inner;
      std::vector<size_t> props;
      blocks_in(lines, b.begin + 1, b.end, &inner, &props);
      calendars.emplace_back(props, inner);
    } else {
      loose.push_back(b);
    }
  }
  if (!loose.empty()) calendars.emplace_back(std::vector<size_t>(), loose);

  for (const auto& [props, blocks] : calendars) {
    std::string head = "BEGIN:VCALENDAR\r\n";
    for (size_t i : props) head += lines[i].raw;
    if (props.empty()) head += "VERSION:2.0\r\n";
    std::map<std::string, std::string> zones;
    struct Group {
      std::string uid;
      bool has_master = false;
      std::vector<const Block*> blocks;
    };
    std::vector<Group> groups;
    std::map<std::string, size_t> latest;
    for (const Block& b : blocks) {
      if (b.kind == "VTIMEZONE") {
        size_t tz = prop_in(lines, b, "TZID");
        if (tz != std::string::npos) zones[value_of(lines[tz].text)] = join(lines, b.begin, b.end + 1);
        continue;
      }
      if (b.kind != "VEVENT" && b.kind != "VTODO") continue;
      size_t u = prop_in(lines, b, "UID");
      std::string uid = u == std::string::npos ? std::string() : value_of(lines[u].text);
      bool is_override = prop_in(lines, b, "RECURRENCE-ID") != std::string::npos;
      auto found = uid.empty() ? latest.end() : latest.find(uid);
      // Overrides join their series; a second series with one UID stands
      // alone rather than being folded into the first.
      if (found != latest.end() && (is_override || !groups[found->second].has_master)) {
        Group& g = groups[found->second];
        g.blocks.push_back(&b);
        g.has_master = g.has_master || !is_override;
        continue;
      }
      groups.push_back({uid, !is_override, {&b}});
      if (!uid.empty()) latest[uid] = groups.size() - 1;
    }
    // Instances whose series is not in the file are events of their own.
    std::vector<Group> split;
    for (Group& g : groups) {
      if (g.has_master || g.blocks.size() < 2) {
        split.push_back(std::move(g));
        continue;
      }
      for (const Block* b : g.blocks) split.push_back({g.uid, false, {b}});
    }
    for (const Group& g : split) {
      std::string body, used;
      for (const Block* b : g.blocks) {
        body += join(lines, b->begin, b->end + 1);
        for (size_t i = b->begin; i <= b->end; i++) {
          std::string tzid = content_param(head_of(lines[i].text), "TZID");
          if (!tzid.empty() && used.find("\n" + tzid + "\n") == std::string::npos) used += "\n" + tzid + "\n";
        }
      }
      std::string tz;
      for (const auto& [id, block] : zones)
        if (used.find("\n" + id + "\n") != std::string::npos) tz += block;
      out.push_back(head + tz + body + "END:VCALENDAR\r\n");
    }
  }
  return out;
}

// --- Components into entries ------------------------------------------------------

int calendar_entry_of(const std::string& component, ImportEntry* out) {
  *out = ImportEntry();
  if (component.size() > kInterchangeItemMax || !utf8_ok(component)) {
    log_message(LOG_WARNING, "calendar_entry_of: component over %zu bytes or not UTF-8 skipped", kInterchangeItemMax);
    return -1;
  }
  CalendarParts p;
  if (!calendar_parts(component, &p)) return -1;
  IcalEntry e;
  if (ical_parse_component(ical_component_of(p, p.items[static_cast<size_t>(p.master)]), &e) != 0) return -1;
  if (ical_entry_form(&e, &out->form) != 0) return -1;
  out->type = e.kind == ICAL_EVENT ? ITEM_EVENT : ITEM_TASK;
  out->has_uuid = !e.uid.empty() && ical_uid_uuid(e.uid, out->uuid) == 0;
  out->uid = e.uid;
  out->completed = e.completed;
  out->component = text_of(p.lines);
  FullRule rule = rule_of(p, out->form.due);
  if (full_rule_needed(rule, out->form.due)) out->rule = full_rule_format(rule);
  return 0;
}

int64_t component_to_item(const std::string& text, ItemBatch* batch, int64_t tag, int64_t slot, SourceRecord* kept) {
  ImportEntry e;
  int64_t stored = -1;
  if (component_kind(text) == COMPONENT_CARD) {
    if (contact_entry_of(text, &e) != 0) return -1;
    stored = contact_entry_store(e, batch, tag, slot);
  } else {
    if (calendar_entry_of(text, &e) != 0) return -1;
    e.has_uuid = false;  // the caller decides which item it is
    stored = calendar_entry_store(e, batch, tag, nullptr, slot);
  }
  const Item* item = item_get(stored);
  if (!item) return -1;
  if (kept) {
    *kept = SourceRecord();
    std::memcpy(kept->uuid, item->uuid, 16);
    kept->component = e.component;
    kept->rule = e.rule;
  }
  return stored;
}

// --- Items back into components -----------------------------------------------------

namespace {

// A new content line, folded, CR LF ended.
Line make_line(const std::string& text) {
  Line l;
  content_append_folded(&l.raw, text.data(), text.size(), 0);
  l.text = text;
  return l;
}

std::string local_format(int64_t t, const char* fmt) {
  time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  localtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, fmt, &tm);
  return buf;
}

// A time in the form the property had: a date, the wall time of its TZID's
// zone, a floating time (local), else UTC.
std::string time_like(const std::string& head, const std::string& old_value, int64_t t, const IcalZones& zones) {
  if (strcasecmp(content_param(head, "VALUE").c_str(), "DATE") == 0 || old_value.size() == 8)
    return local_format(t, "%Y%m%d");
  if (const TimeZone* zone = ical_zone_of(head, zones)) return ical_format_wall(zone, t);
  // A zone nobody knows was read as local time.
  if (!content_param(head, "TZID").empty() || (old_value.size() == 15)) return ical_format_wall(nullptr, t);
  return ical_format_time(t);
}

std::string duration_text(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds % 86400 == 0) return "P" + std::to_string(seconds / 86400) + "D";
  return "PT" + std::to_string(seconds) + "S";
}

// Edits of the master component of a kept calendar text.
class MasterEdit {
 public:
  explicit MasterEdit(CalendarParts* p) : p_(p) {}
  Block& master() { return p_->items[static_cast<size_t>(p_->master)]; }

  size_t find(const char* name) { return prop_in(p_->lines, master(), name); }
  // Replaces the value of the property (its head kept), or adds it.
  void set(const char* name, const std::string& value, const std::string& new_head = std::string()) {
    size_t i = find(name);
    if (i != std::string::npos) {
      std::string head = new_head.empty() ? head_of(p_->lines[i].text) : new_head;
      p_->lines[i] = make_line(head + ":" + value);
    } else {
      insert(make_line((new_head.empty() ? std::string(name) : new_head) + ":" + value));
    }
  }
  void set_time(const char* name, int64_t t) {
    size_t i = find(name);
    std::string head = i == std::string::npos ? name : head_of(p_->lines[i].text);
    std::string old = i == std::string::npos ? std::string() : value_of(p_->lines[i].text);
    set(name, time_like(head, old, t, p_->zones));
  }
  void set_text(const char* name, const std::string& text) {
    if (text.empty()) {
      remove_all(name);
      return;
    }
    set(name, ical_escape_text(text.c_str()));
  }
  void remove_all(const char* name) {
    for (size_t i; (i = find(name)) != std::string::npos;) erase(i, i + 1);
  }
  // Adds lines before the master's first nested component (or its end).
  void insert(const Line& l) { insert_lines({l}); }
  void insert_lines(const std::vector<Line>& ls) {
    Block& m = master();
    size_t at = m.end;
    for (size_t i = m.begin + 1; i < m.end; i++)
      if (is_begin(p_->lines[i], nullptr)) {
        at = i;
        break;
      }
    insert_at(at, ls);
  }
  // Inserts before line `at`; a block ending there grows.
  void insert_at(size_t at, const std::vector<Line>& ls) {
    p_->lines.insert(p_->lines.begin() + static_cast<std::ptrdiff_t>(at), ls.begin(), ls.end());
    shift(at, static_cast<std::ptrdiff_t>(ls.size()));
  }
  void erase(size_t from, size_t to) {
    p_->lines.erase(p_->lines.begin() + static_cast<std::ptrdiff_t>(from),
                    p_->lines.begin() + static_cast<std::ptrdiff_t>(to));
    shift(from, -static_cast<std::ptrdiff_t>(to - from));
  }
  // The master's first VALARM: [begin, end]; false when none.
  bool first_alarm(Block* out) {
    std::vector<Block> nested;
    blocks_in(p_->lines, master().begin + 1, master().end, &nested, nullptr);
    for (const Block& b : nested)
      if (b.kind == "VALARM") {
        *out = b;
        return true;
      }
    return false;
  }
  void erase_overrides() {
    for (size_t k = p_->items.size(); k-- > 0;) {
      if (static_cast<int>(k) == p_->master) continue;
      Block b = p_->items[k];
      if (prop_in(p_->lines, b, "RECURRENCE-ID") == std::string::npos) continue;
      erase(b.begin, b.end + 1);
    }
  }

 private:
  // Lines at or after `at` moved by `by`: the blocks follow.
  void shift(size_t at, std::ptrdiff_t by) {
    for (Block& b : p_->items) {
      if (b.begin >= at) b.begin = static_cast<size_t>(static_cast<std::ptrdiff_t>(b.begin) + by);
      if (b.end >= at) b.end = static_cast<size_t>(static_cast<std::ptrdiff_t>(b.end) + by);
    }
  }
  CalendarParts* p_;
};

bool same_rule(const ItemForm& a, const ItemForm& b) {
  if (a.freq != b.freq) return false;
  if (a.freq == FREQ_NONE) return true;
  return a.interval_minus_one == b.interval_minus_one && a.by_day == b.by_day && a.end_kind == b.end_kind &&
         (a.end_kind != RECUR_COUNT || a.recur_count == b.recur_count) &&
         (a.end_kind != RECUR_UNTIL || a.until == b.until);
}

int64_t reminder_of(const ItemForm& f) {
  if (f.remind_unit <= 0) return 0;
  int64_t s = remind_unit_seconds(f.remind_unit) * f.remind_count;
  return s > 0 ? s : 1;  // 1: at the due time
}

std::string calendar_with_changes(const Item* item, const std::string& kept) {
  CalendarParts p;
  ImportEntry was;
  if (!calendar_parts(kept, &p) || calendar_entry_of(kept, &was) != 0) return std::string();
  ItemForm now;
  form_from_item(item, &now);
  now.body = item_body_load(item);
  MasterEdit m(&p);
  const ItemForm& w = was.form;
  bool event = m.master().kind == "VEVENT";
  if (now.title != w.title) m.set_text("SUMMARY", now.title);
  if (now.body != w.body) m.set_text("DESCRIPTION", now.body);
  if (now.due != w.due) {
    if (event) {
      m.set_time("DTSTART", now.due);
    } else if (m.find("DUE") != std::string::npos || m.find("DTSTART") == std::string::npos) {
      if (now.due) m.set_time("DUE", now.due);
      else m.remove_all("DUE");
    } else {
      m.set_time("DTSTART", now.due);
    }
  }
  if (event && (now.end != w.end || now.due != w.due)) {
    if (m.find("DURATION") != std::string::npos && m.find("DTEND") == std::string::npos) {
      if (now.end - now.due != w.end - w.due) m.set("DURATION", duration_text(now.end - now.due));
    } else if (now.end != w.end) {
      if (now.end) m.set_time("DTEND", now.end);
      else m.remove_all("DTEND");
    }
  }
  // A rule the editor cannot say is shown read-only and kept as it is.
  if (!item->full_rule && !same_rule(now, w)) {
    IcalItem it;
    it.due = item->due;
    it.freq = now.freq;
    it.interval_minus_one = now.interval_minus_one;
    it.by_day = now.by_day;
    it.end_kind = now.end_kind;
    it.recur_count = now.recur_count;
    it.last_occurrence = item->last_occurrence;
    std::string rrule;
    ical_write_rrule(&rrule, it);
    if (rrule.empty()) {
      for (const char* n : {"RRULE", "RDATE", "EXDATE"}) m.remove_all(n);
      m.erase_overrides();
    } else {
      m.set("RRULE", value_of(rrule.substr(0, rrule.size() - 2)));
    }
  }
  // Storing drops the reminder of an item without a later occurrence: then
  // its absence says nothing, and the alarms stay.
  int64_t lead_now = item->remind_offset, lead_was = reminder_of(w);
  bool reminder_known = lead_now != 0 || item_occurrence_from(item, time(nullptr)) != 0;
  if (lead_now != lead_was && reminder_known) {
    Block alarm;
    bool has = m.first_alarm(&alarm);
    if (!lead_now && has) {
      m.erase(alarm.begin, alarm.end + 1);
    } else if (lead_now && has) {
      std::string trigger = "TRIGGER:" + ical_trigger_value(lead_now);
      size_t t = prop_in(p.lines, alarm, "TRIGGER");
      if (t != std::string::npos) {
        // A relative trigger keeps its parameters; an absolute one becomes relative.
        std::string head = head_of(p.lines[t].text);
        bool absolute = strcasecmp(content_param(head, "VALUE").c_str(), "DATE-TIME") == 0;
        p.lines[t] = make_line(absolute ? trigger : head + ":" + ical_trigger_value(lead_now));
      } else {
        m.insert_at(alarm.end, {make_line(trigger)});
      }
    } else if (lead_now) {
      m.insert_at(m.master().end, {make_line("BEGIN:VALARM"), make_line("ACTION:DISPLAY"),
                                   make_line("DESCRIPTION:" + ical_escape_text(item->title.c_str())),
                                   make_line("TRIGGER:" + ical_trigger_value(lead_now)), make_line("END:VALARM")});
    }
  }
  bool completed = (item->flags & ITEM_COMPLETED) != 0;
  if (!event && completed != was.completed) {
    m.set("STATUS", completed ? "COMPLETED" : "NEEDS-ACTION");
    if (completed) m.set("COMPLETED", ical_format_time(time(nullptr)));
    else m.remove_all("COMPLETED");
  }
  // A series needs a UID to be found again (a file of ours re-imported, a
  // server); one without gets the item's.
  if (m.find("UID") == std::string::npos)
    m.insert(make_line("UID:" + item_uid(item->uuid)));
  return text_of(p.lines);
}

// The shown and edited records of a kept card and the item's card: entries
// paired by value first, then by position, the rest added.
std::vector<int> origins(const std::vector<VCardTyped>& shown, const std::vector<VCardTyped>& edited) {
  std::vector<int> out(edited.size(), -1);
  std::vector<bool> used(shown.size(), false);
  for (size_t j = 0; j < edited.size(); j++)
    for (size_t i = 0; i < shown.size(); i++)
      if (!used[i] && vcard_unescape(shown[i].value) == vcard_unescape(edited[j].value)) {
        out[j] = static_cast<int>(i);
        used[i] = true;
        break;
      }
  for (size_t j = 0; j < edited.size(); j++)
    if (out[j] < 0 && j < shown.size() && !used[j]) {
      out[j] = static_cast<int>(j);
      used[j] = true;
    }
  return out;
}

std::string address_key(const VCardAddress& a) {
  std::string k;
  for (const std::string& p : a.part) k += vcard_unescape(p) + "\x1f";
  return k;
}

std::vector<int> address_origins(const std::vector<VCardAddress>& shown, const std::vector<VCardAddress>& edited) {
  std::vector<VCardTyped> s, e;
  for (const auto& a : shown) s.push_back({a.flags, address_key(a)});
  for (const auto& a : edited) e.push_back({a.flags, address_key(a)});
  return origins(s, e);
}

std::string card_with_changes(const Item* item, const std::string& kept) {
  VCardRecord shown, edited;
  std::string body = item_body_load(item);
  if (vcard_parse(kept.data(), kept.size(), &shown) != 0) return vcard_export_text(body);
  if (vcard_parse(body.data(), body.size(), &edited) != 0) return std::string();
  VCardEdit edit;
  edit.shown = shown;
  edit.edited = edited;
  edit.phone_origin = origins(shown.phones, edited.phones);
  edit.email_origin = origins(shown.emails, edited.emails);
  edit.address_origin = address_origins(shown.addresses, edited.addresses);
  std::string text = vcard_apply_edit(kept, edit);
  // What the kept card had stays as it was; new lines are folded.
  std::vector<Line> before = split_lines(kept);
  std::vector<std::string> raws;
  for (const Line& l : before) raws.push_back(l.raw);
  std::sort(raws.begin(), raws.end());
  std::string out;
  for (const Line& l : split_lines(vcard_with_name(text))) {
    if (std::binary_search(raws.begin(), raws.end(), l.raw)) out += l.raw;
    else out += make_line(l.text).raw;
  }
  return out;
}

}  // namespace

std::string component_for_item(int64_t item_slot, const SourceRecord* kept) {
  const Item* item = item_get(item_slot);
  if (!item) return std::string();
  bool has_kept = kept && !kept->component.empty();
  if (item->type == ITEM_VCARD) {
    if (has_kept && component_kind(kept->component) == COMPONENT_CARD) return card_with_changes(item, kept->component);
    return vcard_export_text(item_body_load(item));
  }
  if (item->type != ITEM_TASK && item->type != ITEM_EVENT) return std::string();
  if (has_kept && component_kind(kept->component) != COMPONENT_CARD) {
    std::string text = calendar_with_changes(item, kept->component);
    if (!text.empty()) return text;
  }
  std::string out;
  ical_begin_calendar(&out);
  calendar_append_plain(item_slot, time(nullptr), &out);
  ical_end_calendar(&out);
  return out;
}

std::vector<std::string> calendar_inner_components(const std::string& text) {
  std::vector<std::string> out;
  std::vector<Line> lines = split_lines(text);
  std::vector<Block> top;
  blocks_in(lines, 0, lines.size(), &top, nullptr);
  for (const Block& b : top) {
    if (b.kind != "VCALENDAR") {
      out.push_back(join(lines, b.begin, b.end + 1));
      continue;
    }
    std::vector<Block> inner;
    blocks_in(lines, b.begin + 1, b.end, &inner, nullptr);
    for (const Block& c : inner) out.push_back(join(lines, c.begin, c.end + 1));
  }
  return out;
}
