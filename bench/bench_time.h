// SPDX-License-Identifier: GPL-3.0-or-later
// Local wall-clock times for the benchmarks' items.
#pragma once

#include <cstdint>
#include <ctime>

inline int64_t local(int y, int mon, int d, int h, int mi) {
  struct tm tm = {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mon - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_isdst = -1;
  return mktime(&tm);
}
