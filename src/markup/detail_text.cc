// SPDX-License-Identifier: GPL-3.0-or-later
#include "markup/detail_text.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "crypto/wipe.h"
#include "interchange/interchange.h"
#include "interchange/vcard.h"
#include "model/full_rule.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/tag.h"
#include "model/view_dates.h"
#include "support/local_dates.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/text.h"

namespace {

// Structured texts of keys and contacts are shown from 4096-byte buffers.
constexpr size_t kStructuredMax = 4094;
constexpr int kMaxLinks = 64;
constexpr size_t kLinkLength = 43;  // "[[ordika:" + 32 hex digits + "]]"

const char* label(StrId id) {
  const char* s = ui_string(id);
  return s ? s : "";
}

// Weekday labels by tm_wday / by_day bit (Sunday first).
const StrId kWeekdayIds[7] = {STR_SUNDAY,   STR_MONDAY, STR_TUESDAY, STR_WEDNESDAY,
                              STR_THURSDAY, STR_FRIDAY, STR_SATURDAY};

StrId type_name_id(int type) {
  switch (type) {
    case ITEM_TASK: return STR_TYPE_TASK;
    case ITEM_EVENT: return STR_TYPE_EVENT;
    case ITEM_NOTE: return STR_TYPE_NOTE;
    case ITEM_VCARD: return STR_TYPE_CONTACT;
    case ITEM_KEY: return STR_TYPE_KEY;
    default: return STR_TYPE_NOTE;
  }
}

std::string date_time(int64_t t) { return shown_date_time(t, DATE_LONG); }

void labelled(std::string* out, StrId id, const std::string& value, bool colon = false) {
  *out += "|**";
  *out += label(id);
  if (colon) *out += ui_colon();
  *out += "**|";
  *out += value;
  *out += '\n';
}

// Line n of a list label (lines separated by LF or CR LF).
std::string label_line(StrId id, int n) {
  const char* start;
  const char* end;
  text_line(label(id), n, &start, &end);
  std::string s(start, end);
  while (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

// Cuts a structured text to the size of its buffer, at a character boundary.
void cap_structured(std::string* text, const char* who) {
  if (text->size() <= kStructuredMax) return;
  log_message(LOG_WARNING, "Buffer overrun in %s", who);
  size_t cut = kStructuredMax + 1;  // a 4096-byte buffer keeps 4095 bytes
  while (cut > 0 && (static_cast<unsigned char>((*text)[cut]) & 0xC0) == 0x80) cut--;
  OPENSSL_cleanse(text->data() + cut, text->size() - cut);
  text->resize(cut);
}

// An event always has a recurrence line ("none" without); a task has one
// when it repeats.
bool shows_recurrence(const Item& item) {
  return item.type == ITEM_EVENT || (item.type == ITEM_TASK && item.recurrence.freq != FREQ_NONE);
}

// The recurrence line's value.
std::string recurrence_value(const Item& item) {
  // A rule from another calendar says it in its own words.
  if (const FullRule* full = item_full_rule(&item)) {
    std::string text = full_rule_text(*full, item.due);
    if (!text.empty()) return text;
  }
  const Recurrence& r = item.recurrence;
  if (r.freq < FREQ_DAILY || r.freq > FREQ_YEARLY) return label(STR_NONE_WORD);
  std::string s = label(str_at(STR_FREQ_RANGE, r.freq - 1));
  std::string phrase = recurrence_text(r, item.recur_count, item.last_occurrence, item.due);
  if (!phrase.empty()) s += ", " + phrase;
  return s;
}

void append_body(std::string* out, const std::string& body, bool markup) {
  *out += '\n';
  if (!markup) *out += "{{{";
  *out += body;
  if (!markup) *out += "}}}";
}

std::string vcard_text_of(const std::string& v) {
  // Escapes undone up to the first raw line end.
  std::string out;
  for (size_t i = 0; i < v.size(); i++) {
    char c = v[i];
    if (c == '\r' || c == '\n') break;
    if (c != '\\' || i + 1 >= v.size()) {
      out += c;
      continue;
    }
    char e = v[++i];
    if (e == 'n' || e == 'N') out += '\n';
    else if (e == 't') out += '\t';
    else if (e != 'r') out += e;
  }
  return out;
}

}  // namespace

std::string reminder_text(int64_t offset) {
  if (offset <= 0) return label(STR_NONE_WORD);
  StrId id = STR_REMIND_N_MINUTES_BEFORE;  // minutes
  int64_t unit = 60;
  if (offset % 604800 == 0) {
    id = STR_REMIND_N_WEEKS_BEFORE;
    unit = 604800;
  } else if (offset % 86400 == 0) {
    id = STR_REMIND_N_DAYS_BEFORE;
    unit = 86400;
  } else if (offset % 3600 == 0) {
    id = STR_REMIND_N_HOURS_BEFORE;
    unit = 3600;
  }
  return ui_plural_format(id, static_cast<long long>(offset / unit));
}

std::string recurrence_text(const Recurrence& r, int32_t count, int64_t until, int64_t start) {
  time_t st = static_cast<time_t>(start);
  struct tm tm {};
  localtime_r(&st, &tm);
  int interval = r.interval_minus_one + 1;
  std::string s;
  switch (r.freq) {
    case FREQ_DAILY:
      if (interval > 1) s += ui_plural_format(STR_EVERY_N_DAYS, interval);
      break;
    case FREQ_WEEKLY: {
      if (interval > 1) s += ui_plural_format(STR_EVERY_N_WEEKS, interval) + " ";
      s += label(STR_ON_WEEKDAYS);
      int days = r.by_day & 0x7F;
      if (!days) days = 1 << tm.tm_wday;
      bool first = true;
      for (int d = 0; d < 7; d++) {
        if (!(days & (1 << d))) continue;
        if (!first) s += ",";
        s += " ";
        s += label(kWeekdayIds[d]);
        first = false;
      }
      break;
    }
    case FREQ_MONTHLY:
      if (interval > 1) s += ui_plural_format(STR_EVERY_N_MONTHS, interval) + " ";
      if (r.by_day) {
        // The week the series repeats on, as the recurrence counts it; one
        // text per weekday, as ordinals agree with the weekday's gender.
        s += ui_line(str_at(STR_NTH_WEEKDAY_RANGE, tm.tm_wday), week_of_month(tm.tm_mday));
      } else {
        s += ui_format(STR_ON_DAY_N, tm.tm_mday);
      }
      break;
    case FREQ_YEARLY:
      if (interval > 1) s += ui_plural_format(STR_EVERY_N_YEARS, interval);
      break;
    default:
      return std::string();
  }
  if (r.end_kind == RECUR_UNTIL) {
    if (!s.empty()) s += ", ";
    s += ui_format(STR_UNTIL_DATE, shown_date(until, DATE_LONG).c_str());
  } else if (r.end_kind == RECUR_COUNT) {
    if (!s.empty()) s += ", ";
    s += ui_plural_format(STR_ENDS_AFTER_N, count);
  }
  return s;
}

std::string linked_item_header(const Item* item) {
  if (!item) return std::string();
  std::string s = "**";
  s += label(type_name_id(item->type));
  s += ui_colon();
  s += " ";
  s += item->title;
  s += "**\n\n";
  return s;
}

std::string key_markup(const std::string& body) {
  KeyBody key;
  key_body_parse(body.c_str(), &key);
  std::string out;
  out.reserve(256 + body.size() * 2);
  labelled(&out, STR_WEB_ADDRESS, key.url.empty() ? std::string() : "[[" + key.url + "]]");
  if (!key.user.empty()) labelled(&out, STR_USER_NAME, "{{{" + key.user + "}}}");
  if (!key.password.empty()) {
    std::string hex = hex_encode(reinterpret_cast<const uint8_t*>(key.password.data()), key.password.size());
    out += "|**";
    out += label(STR_PASSWORD);
    out += "**|[[password:";
    out += hex;
    out += "|\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F]]\n";
    wipe(&hex);
    wipe(&key.password);
  }
  if (key.date != 0) labelled(&out, STR_EXPIRES, shown_date(key.date, DATE_LONG));
  if (!key.notes.empty()) out += "\n" + key.notes + "\n";
  cap_structured(&out, "key_markup");
  return out;
}

int password_link_decode(const char* target, char* out, size_t size) {
  static const char kPrefix[] = "password:";
  if (!target || !out || std::strncmp(target, kPrefix, sizeof kPrefix - 1) != 0) return -1;
  const char* hex = target + sizeof kPrefix - 1;
  size_t n = std::strlen(hex);
  if (n % 2 != 0 || n / 2 + 1 > size) return -1;
  if (hex_decode(hex, reinterpret_cast<uint8_t*>(out), n / 2) != 0) {
    OPENSSL_cleanse(out, n / 2);
    return -1;
  }
  out[n / 2] = '\0';
  return static_cast<int>(n / 2);
}

std::string vcard_markup(const std::string& body) {
  VCardRecord rec;
  if (vcard_parse(body.data(), body.size(), &rec) != 0) return std::string();
  std::string out;
  std::string family = vcard_family_name(rec), given = vcard_given_name(rec);
  std::string heading = family + (!family.empty() && !given.empty() ? ", " : "") + given;
  // Cards without N (common from phones) are headed by what names them.
  if (heading.empty()) heading = vcard_title(rec);
  out += "==" + heading + "\n||\n";
  std::string org = vcard_org_name(rec);
  if (!org.empty()) labelled(&out, STR_ORGANIZATION, org);
  if (rec.birthday) {
    labelled(&out, STR_BIRTHDAY,
             shown_ymd(rec.birthday / 10000, rec.birthday / 100 % 100, rec.birthday % 100, DATE_LONG));
  }
  if (!rec.url.empty()) {
    labelled(&out, STR_WEB_ADDRESS, "[[" + vcard_url(rec) + "]]");
    out += "||\n";
  } else if (rec.birthday || !org.empty()) {
    out += "||\n";
  }
  int n = 0;
  for (const VCardTyped& p : rec.phones) {
    if (n++ >= kVcardMaxPhones) break;
    int f = p.flags, k;
    if (f & TEL_FAX) k = f & TEL_HOME ? 4 : f & TEL_WORK ? 5 : 6;
    else if (f & TEL_CELL) k = 0;
    else if (f & TEL_HOME) k = 1;
    else if (f & TEL_WORK) k = 2;
    else if (f & TEL_PREF) k = 3;
    else if (f & TEL_PAGER) k = 7;
    else k = 8;
    out += "|**" + label_line(STR_PHONE_KINDS, k) + ui_colon() + "**|" + vcard_unescape(p.value) + "\n";
  }
  if (!rec.phones.empty()) out += "||\n";
  n = 0;
  for (const VCardTyped& e : rec.emails) {
    if (n++ >= kVcardMaxEmails) break;
    int k = e.flags & EMAIL_HOME ? 0 : e.flags & EMAIL_WORK ? 1 : 2;
    out += "|**" + label_line(STR_EMAIL_KINDS, k) + ui_colon() + "**|" + vcard_unescape(e.value) + "\n";
  }
  if (!rec.emails.empty()) out += "||\n";
  bool any_address = false;
  n = 0;
  for (const VCardAddress& a : rec.addresses) {
    if (n++ >= kVcardMaxAddresses) break;
    int k = a.flags & ADR_HOME ? 0 : a.flags & ADR_WORK ? 1 : 2;
    out += "|**" + label_line(STR_ADDRESS_KINDS, k) + ui_colon() + "**|" + vcard_address_text(a) + "\n";
    any_address = true;
  }
  if (any_address) out += "||\n";
  out += vcard_text_of(rec.note);
  cap_structured(&out, "vcard_markup");
  return out;
}

std::string item_detail_text_in_tag(int64_t slot) {
  const Item* item = item_get(slot);
  int64_t tag = item_home_tag(slot);
  if (!item || tag < 1) return item_detail_text(item);
  Model& m = model();
  int32_t view = m.view;
  int64_t selected = m.selected_item;
  m.view = static_cast<int32_t>(tag);
  m.selected_item = slot;
  std::string text = item_detail_text(item);
  m.view = view;
  m.selected_item = selected;
  return text;
}

std::string item_detail_text(const Item* item, bool nested) {
  if (!item) return std::string();
  std::string body = item_body_load(item);
  if (item->type == ITEM_VCARD || item->type == ITEM_KEY) {
    if (body.empty()) return body;
    std::string out = item->type == ITEM_VCARD ? vcard_markup(body) : key_markup(body);
    wipe(&body);
    return out;
  }
  std::string out;
  out.reserve(body.size() + 1024);
  if (item->due) {
    int64_t occurrence = displayed_occurrence(item);
    labelled(&out, item->type == ITEM_EVENT ? STR_LABEL_START : STR_LABEL_DUE, date_time(occurrence));
    // Without an occurrence to show there is no end to show either.
    if (item->end)
      labelled(&out, STR_LABEL_END, occurrence ? date_time(item->end + occurrence - item->due) : std::string());
    if (item->remind_offset) labelled(&out, STR_LABEL_REMINDER, reminder_text(item->remind_offset));
  }
  if (shows_recurrence(*item)) labelled(&out, STR_LABEL_RECURRENCE, recurrence_value(*item));
  if (body.empty()) return out;

  // Leading links to other items.
  struct Linked {
    std::string header, text;
  };
  std::vector<Linked> linked;
  size_t pos = 0;
  int taken = 0;
  while (body.size() - pos >= kLinkLength && body.compare(pos, 9, "[[ordika:") == 0 &&
         body.compare(pos + 41, 2, "]]") == 0) {
    if (!nested && taken < kMaxLinks) {
      taken++;
      std::string hex = body.substr(pos + 9, 32);
      const Item* other = item_get(item_find_hex(hex.c_str()));
      if (other) linked.push_back({linked_item_header(other), item_detail_text(other, true)});
    }
    pos += kLinkLength;
    while (pos < body.size() && (body[pos] == '\r' || body[pos] == '\n')) pos++;
  }
  if (pos < body.size()) append_body(&out, body.substr(pos), item->markup != 0);
  for (const Linked& l : linked) {
    out += "\n\n";
    for (int i = 0; i < 16; i++) out += "\xE2\x80\x94";
    out += "\n";
    out += l.header;
    out += l.text;
  }
  return out;
}

std::string history_detail_text(const char* stored, const std::string& body) {
  if (!stored) return std::string();
  std::string out;
  if (stored[0] && stored[1] == ':') {
    Item rec;
    if (item_parse_header(stored, &rec) != 0) return std::string();
    // The count or until time follows the first ";" of the header.
    const char* semi = std::strchr(stored, ';');
    int64_t field7 = semi ? std::strtoll(semi + 1, nullptr, 10) : 0;
    labelled(&out, STR_LABEL_TITLE, rec.title);
    labelled(&out, STR_DETAIL_MODIFIED, date_time(rec.modified));
    labelled(&out, STR_TYPE, label(type_name_id(rec.type)), true);
    if (rec.type == ITEM_TASK || rec.type == ITEM_EVENT || rec.type == ITEM_NOTE)
      labelled(&out, STR_MARKUP, label(rec.markup ? STR_YES : STR_NO), true);
    if (rec.type == ITEM_TASK || rec.type == ITEM_EVENT) {
      labelled(&out, STR_LABEL_REMINDER, reminder_text(rec.remind_offset));
      if (rec.type == ITEM_TASK) {
        labelled(&out, STR_LABEL_DUE, date_time(rec.due));
      } else {
        labelled(&out, STR_LABEL_START, date_time(rec.due));
        labelled(&out, STR_LABEL_END, date_time(rec.end));
      }
      if (rec.recurrence.end_kind == RECUR_COUNT) rec.recur_count = static_cast<int32_t>(field7);
      else if (rec.recurrence.end_kind == RECUR_UNTIL) rec.last_occurrence = field7;
      if (shows_recurrence(rec)) labelled(&out, STR_LABEL_RECURRENCE, recurrence_value(rec));
    }
    if (rec.type == ITEM_VCARD || rec.type == ITEM_KEY) {
      if (!body.empty()) out += "\n" + (rec.type == ITEM_VCARD ? vcard_markup(body) : key_markup(body));
    } else if (!body.empty()) {
      append_body(&out, body, rec.markup != 0);
    }
    return out;
  }
  // A tag string: parent uuid, modification time, name.
  const char* c1 = std::strchr(stored, ':');
  const char* c2 = c1 ? std::strchr(c1 + 1, ':') : nullptr;
  int64_t modified = c1 ? std::strtoll(c1 + 1, nullptr, 10) : 0;
  labelled(&out, STR_TYPE, label(STR_TYPE_TAG), true);
  labelled(&out, STR_DETAIL_NAME, c2 ? std::string(c2 + 1) : std::string());
  labelled(&out, STR_DETAIL_MODIFIED, date_time(modified));
  return out;
}

std::string history_version_text(const HistoryView& view, int64_t slot) {
  const std::string* header = history_header(view, slot);
  const Item* version = header ? history_get(view, slot) : nullptr;
  if (!version) return std::string();
  std::string body = item_body_load(version);
  std::string out = history_detail_text(header->c_str(), body);
  wipe(&body);
  return out;
}
