// SPDX-License-Identifier: GPL-3.0-or-later
// The next timer and the calendar marks over 10,000 repeating items.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>

#include "bench_time.h"
#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"

namespace {

constexpr int kItems = 10000;

int64_t now_fixed() { return local(2026, 3, 28, 12, 0); }

// Items starting over the last year with every kind of rule. `sparse` keeps
// every occurrence on the first half of each month's days, so that the month
// marks never fill up and every item is examined.
void fill(bool sparse) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  items_reset();
  srand(7);
  for (int i = 0; i < kItems; i++) {
    int64_t slot;
    Item* item = item_new(&slot);
    item->type = i % 2 ? ITEM_EVENT : ITEM_TASK;
    int day = 1 + rand() % (sparse ? 14 : 28);
    item->due = local(2025, 1 + rand() % 12, day, rand() % 24, (rand() % 4) * 15);
    Recurrence& r = item->recurrence;
    switch (sparse ? 3 + i % 2 : i % 6) {
      case 0: r.freq = FREQ_DAILY; r.interval_minus_one = static_cast<uint8_t>(rand() % 3); break;
      case 1: r.freq = FREQ_WEEKLY; break;
      case 2: r.freq = FREQ_WEEKLY; r.by_day = static_cast<uint8_t>(1 + rand() % 127); break;
      case 3: r.freq = FREQ_MONTHLY; break;
      case 4: r.freq = FREQ_YEARLY; break;
      default: r.freq = FREQ_MONTHLY; r.by_day = 1; break;
    }
    if (i % 10 == 0) {
      r.end_kind = RECUR_COUNT;
      item->recur_count = 5 + rand() % 100;
    } else if (i % 10 == 1) {
      r.end_kind = RECUR_UNTIL;
      item->last_occurrence = local(2026, 1 + rand() % 12, 1, 0, 0);
    }
    item->remind_offset = (i % 3) ? 600 : 0;
    item->created = item->modified = 1;
    item_set_last_occurrence(item);
    item_next_remind(item, now_fixed());
  }
}

void BM_GetNextTimer(benchmark::State& state) {
  fill(false);
  int64_t now = now_fixed();
  for (auto _ : state) benchmark::DoNotOptimize(get_next_timer(now));
  items_reset();
}
BENCHMARK(BM_GetNextTimer)->Unit(benchmark::kMillisecond);

void BM_CalendarMonthMarks(benchmark::State& state) {
  fill(false);
  for (auto _ : state) benchmark::DoNotOptimize(calendar_month_marks(2026, 3));
  items_reset();
}
BENCHMARK(BM_CalendarMonthMarks)->Unit(benchmark::kMillisecond);

void BM_CalendarMonthMarksSparse(benchmark::State& state) {
  fill(true);
  for (auto _ : state) benchmark::DoNotOptimize(calendar_month_marks(2026, 3));
  items_reset();
}
BENCHMARK(BM_CalendarMonthMarksSparse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
