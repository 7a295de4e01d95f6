// SPDX-License-Identifier: GPL-3.0-or-later
// Typed dates of the date picker.
#include "dialogs/date_text.h"

#include <time.h>

#include <cstring>

namespace {

// strptime over the whole text (trailing blanks allowed).
bool scan(const char* text, const char* format, struct tm* tm) {
  std::memset(tm, 0, sizeof *tm);
  tm->tm_hour = -1;  // tells whether the format held a time
  const char* end = strptime(text, format, tm);
  if (!end) return false;
  while (*end == ' ' || *end == '\t') end++;
  return *end == '\0';
}

struct Form {
  const char* format;
  bool has_date;
};

// Most specific first, so that a date is never read as a shorter form.
const Form kForms[] = {
    {"%Y-%m-%d %H:%M:%S", true}, {"%Y-%m-%d %H:%M", true}, {"%Y-%m-%dT%H:%M:%S", true},
    {"%Y-%m-%dT%H:%M", true},    {"%Y-%m-%d", true},       {"%x %H:%M:%S", true},
    {"%x %H:%M", true},          {"%x %X", true},          {"%x", true},
    {"%H:%M:%S", false},         {"%H:%M", false},
};

}  // namespace

std::string date_text_format(int64_t time, bool date_only) {
  if (time == 0) return {};
  time_t t = static_cast<time_t>(time);
  struct tm tm;
  if (!localtime_r(&t, &tm)) return {};
  char buf[32];
  size_t n = strftime(buf, sizeof buf, date_only ? "%F" : "%F %H:%M", &tm);
  return std::string(buf, n);
}

int date_text_parse(const std::string& text, bool date_only, int64_t previous, int64_t* out) {
  size_t a = text.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) {
    *out = 0;
    return 0;
  }
  size_t b = text.find_last_not_of(" \t\r\n");
  std::string t = text.substr(a, b - a + 1);
  if (t.find('\n') != std::string::npos) return -1;

  struct tm tm;
  const Form* form = nullptr;
  for (const Form& f : kForms) {
    if (scan(t.c_str(), f.format, &tm)) {
      form = &f;
      break;
    }
  }
  if (!form) return -1;
  if (!form->has_date && date_only) return -1;

  struct tm base;
  time_t prev = previous > 0 ? static_cast<time_t>(previous) : time(nullptr);
  if (!localtime_r(&prev, &base)) return -1;
  int hour = tm.tm_hour, minute = tm.tm_min;
  if (!form->has_date) {
    tm.tm_year = base.tm_year;
    tm.tm_mon = base.tm_mon;
    tm.tm_mday = base.tm_mday;
  }
  if (date_only) {
    hour = 0;
    minute = 0;
  } else if (hour < 0) {
    hour = previous > 0 ? base.tm_hour : 0;
    minute = previous > 0 ? base.tm_min : 0;
  }
  int year = tm.tm_year + 1900, month = tm.tm_mon, day = tm.tm_mday;
  if (year < 1970 || year > 9999 || month < 0 || month > 11 || day < 1 || day > 31) return -1;
  if (hour > 23 || minute < 0 || minute > 59) return -1;

  struct tm want;
  std::memset(&want, 0, sizeof want);
  want.tm_year = year - 1900;
  want.tm_mon = month;
  want.tm_mday = day;
  want.tm_hour = hour;
  want.tm_min = minute;
  want.tm_isdst = -1;
  time_t r = mktime(&want);
  if (r == static_cast<time_t>(-1) || r <= 0) return -1;
  // mktime moves 31 April to 1 May; a typed day that does not exist is an
  // error, not another day. (A clock time skipped by daylight saving keeps
  // the day and is moved by the library.)
  if (want.tm_year != year - 1900 || want.tm_mon != month || want.tm_mday != day) return -1;
  *out = static_cast<int64_t>(r);
  return 0;
}
