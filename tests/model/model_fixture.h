// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the model tests: a clean model per test and a scoped
// time zone.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "model/app_core.h"
#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/tag.h"

// Every process-wide state reset, with the view on the list of all items.
inline void model_clean() {
  app_reset();
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
}

// Sets TZ for the scope (and restores the previous value).
class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (old) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

// Local time of a date and time of day in the current zone.
inline int64_t lt(int y, int mon, int d, int h = 0, int mi = 0, int s = 0) {
  struct tm tm = {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mon - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

// "YYYY-MM-DD HH:MM:SS" of a time in the current zone.
inline std::string fmt(int64_t t) {
  time_t tt = t;
  struct tm tm;
  localtime_r(&tt, &tm);
  char buf[64];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

inline Recurrence rule(int freq, int interval_minus_one = 0, int by_day = 0, int end_kind = RECUR_FOREVER) {
  Recurrence r;
  r.freq = static_cast<uint8_t>(freq);
  r.interval_minus_one = static_cast<uint8_t>(interval_minus_one);
  r.by_day = static_cast<uint8_t>(by_day);
  r.end_kind = static_cast<uint8_t>(end_kind);
  return r;
}

// A fresh in-memory item (no storage).
inline Item* add_item(int type, int64_t due, Recurrence r = Recurrence{}, int64_t* slot = nullptr) {
  int64_t s;
  Item* item = item_new(&s);
  item->type = static_cast<int8_t>(type);
  item->due = due;
  item->recurrence = r;
  item->created = item->modified = 1;
  item_set_last_occurrence(item);
  if (slot) *slot = s;
  return item;
}

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override { model_clean(); }
  void TearDown() override { model_clean(); }
};
