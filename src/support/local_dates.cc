// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/local_dates.h"

#include <ctime>

#include "support/strings.h"

namespace {

bool g_iso = false;

std::string two_digits(int n) { return std::string(1, static_cast<char>('0' + n / 10 % 10)) + char('0' + n % 10); }

// Expands a pattern of the string table (see names.txt) for one date and
// time; letters outside quotes that name no field are copied.
std::string expand(const char* pattern, const struct tm& tm) {
  std::string out;
  for (const char* p = pattern; *p;) {
    char c = *p;
    if (c == '\'') {
      for (p++; *p && *p != '\''; p++) out += *p;
      if (*p) p++;
      continue;
    }
    int run = 1;
    while (p[run] == c) run++;
    p += run;
    switch (c) {
      case 'd': out += run >= 2 ? two_digits(tm.tm_mday) : std::to_string(tm.tm_mday); break;
      case 'M':
        if (run >= 4) out += ui_line(STR_RULE_MONTHS_OF, tm.tm_mon);
        else if (run == 3) out += ui_line(STR_MONTHS_SHORT, tm.tm_mon);
        else out += run == 2 ? two_digits(tm.tm_mon + 1) : std::to_string(tm.tm_mon + 1);
        break;
      case 'y': out += std::to_string(tm.tm_year + 1900); break;
      case 'H': out += run >= 2 ? two_digits(tm.tm_hour) : std::to_string(tm.tm_hour); break;
      case 'h': {
        int h = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
        out += run >= 2 ? two_digits(h) : std::to_string(h);
        break;
      }
      case 'm': out += two_digits(tm.tm_min); break;
      case 'a': out += ui_line(STR_AM_PM, tm.tm_hour < 12 ? 0 : 1); break;
      default: out.append(static_cast<size_t>(run), c); break;
    }
  }
  return out;
}

bool local(int64_t t, struct tm* tm) {
  if (t == 0) return false;
  time_t tt = static_cast<time_t>(t);
  return localtime_r(&tt, tm) != nullptr;
}

const char* date_pattern(DateLength length) {
  if (g_iso) return "y-MM-dd";
  return ui_text(length == DATE_LONG ? STR_DATE_LONG : STR_DATE_SHORT);
}

const char* time_pattern() { return g_iso ? "HH:mm" : ui_text(STR_TIME_SHORT); }

}  // namespace

std::string shown_date(int64_t t, DateLength length) {
  struct tm tm {};
  return local(t, &tm) ? expand(date_pattern(length), tm) : std::string();
}

std::string shown_ymd(int year, int month, int day, DateLength length) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  return expand(date_pattern(length), tm);
}

std::string shown_time(int64_t t) {
  struct tm tm {};
  return local(t, &tm) ? expand(time_pattern(), tm) : std::string();
}

void shown_dates_iso(bool on) { g_iso = on; }

std::string shown_date_time(int64_t t, DateLength length) {
  struct tm tm {};
  if (!local(t, &tm)) return std::string();
  std::string date = expand(date_pattern(length), tm), time = expand(time_pattern(), tm);
  if (g_iso) return date + " " + time;
  return ui_format(length == DATE_LONG ? STR_DATE_TIME_LONG : STR_DATE_TIME_SHORT, date.c_str(), time.c_str());
}
