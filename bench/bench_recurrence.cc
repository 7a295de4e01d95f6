// SPDX-License-Identifier: GPL-3.0-or-later
// A year of occurrences of 10,000 repeating events whose rules only the full
// rule engine says (last Friday, numbered weekdays, month-day lists, set
// positions, exceptions), as the list and the calendar ask for them: each
// event's occurrences over the year and the twelve month marks. Cold: the
// expansion caches emptied first; warm: what every later redraw costs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "model/full_rule.h"
#include "bench_time.h"
#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"

namespace {

constexpr int kItems = 10000;

const char* const kRules[] = {
    "RRULE:FREQ=MONTHLY;BYDAY=-1FR\n",
    "RRULE:FREQ=MONTHLY;BYDAY=2MO,-2MO\n",
    "RRULE:FREQ=MONTHLY;BYMONTHDAY=1,15,-1\n",
    "RRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1\n",
    "RRULE:FREQ=YEARLY;BYMONTH=3,6,9,12;BYDAY=1TH\n",
    "RRULE:FREQ=WEEKLY;BYDAY=MO,TH;COUNT=80\n",
};

// Events starting over the last year, one rule each; weekly ones with an
// exception. Zoned: each keeps New York's clock, seen from Berlin.
void fill(bool zoned = false) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  items_reset();
  srand(11);
  for (int i = 0; i < kItems; i++) {
    int64_t slot;
    Item* item = item_new(&slot);
    item->type = ITEM_EVENT;
    item->due = local(2025, 1 + rand() % 12, 1 + rand() % 28, 8 + rand() % 10, (rand() % 4) * 15);
    item->recurrence.freq = FREQ_MONTHLY;
    item->created = item->modified = 1;
    std::string rule = kRules[i % 6];
    if (i % 6 == 5) rule += "EXDATE:" + std::to_string(item->due + 7 * 86400) + "\n";
    if (zoned) rule += "TZID:America/New_York\n";
    item_full_rule_set(slot, rule);
  }
}

// Every occurrence of 2026 of every item, and the month marks.
int64_t year(int64_t from, int64_t to) {
  int64_t n = 0;
  int64_t cursor = -1;
  while (const Item* item = slot_next<Item>(model().items, &cursor))
    full_rule_each(item, from, to, [&n](int64_t) { n++; });
  for (int m = 1; m <= 12; m++) n += calendar_month_marks(2026, m) != 0;
  return n;
}

void BM_FullRuleYearCold(benchmark::State& state) {
  fill(state.range(0) != 0);
  int64_t from = local(2026, 1, 1, 0, 0), to = local(2027, 1, 1, 0, 0);
  int64_t n = 0;
  for (auto _ : state) {
    full_rules_expire();
    benchmark::DoNotOptimize(n = year(from, to));
  }
  state.counters["occurrences"] = static_cast<double>(n);
  items_reset();
}
// 0: local series; 1: series in another zone.
BENCHMARK(BM_FullRuleYearCold)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FullRuleYearWarm(benchmark::State& state) {
  fill(state.range(0) != 0);
  int64_t from = local(2026, 1, 1, 0, 0), to = local(2027, 1, 1, 0, 0);
  year(from, to);
  for (auto _ : state) benchmark::DoNotOptimize(year(from, to));
  items_reset();
}
BENCHMARK(BM_FullRuleYearWarm)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Attaching the rules at mount: parsing and working out last occurrences.
void BM_FullRuleAttach(benchmark::State& state) {
  for (auto _ : state) fill();
  items_reset();
}
BENCHMARK(BM_FullRuleAttach)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
