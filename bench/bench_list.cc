// SPDX-License-Identifier: GPL-3.0-or-later
// List computation over a large view and the item search over stored bodies.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "crypto/crypto.h"
#include "model/app_core.h"
#include "model/item.h"
#include "model/list.h"
#include "model/list_order.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/search.h"
#include "model/tag.h"
#include "model/view_dates.h"
#include "storage/db.h"
#include "storage/journal.h"

namespace {

constexpr int kItems = 10000;

RepoDb g_store;
int lookup(int repo, RepoRef* out) {
  if (repo != 0) return -1;
  out->store = g_store;
  out->hidden = false;
  return 0;
}

// 10,000 items of every kind linked to tag 1; a tenth repeat daily, weekly or
// monthly from dates up to a year back, most have reminders.
void fill_items() {
  items_reset();
  tags_reset();
  Model& m = model();
  int64_t now = time(nullptr);
  srand(7);
  for (int i = 0; i < kItems; i++) {
    int64_t slot;
    Item* item = item_new(&slot);
    item->type = static_cast<int8_t>(i % 5);
    item->title = "item " + std::to_string(i);
    item->created = item->modified = now - 1000;
    if (item->type <= ITEM_EVENT) {
      item->due = now + (rand() % (60 * 86400)) - 30 * 86400;
      item->remind_offset = i % 3 ? 600 : 0;
      if (i % 10 == 0) {
        item->recurrence.freq = static_cast<uint8_t>(1 + i / 10 % 3);
        item->due = now - (rand() % (365 * 86400));
      }
      if (i % 7 == 0) item->flags = ITEM_COMPLETED;
    }
    item_set_last_occurrence(item);
    tag_link_append(1, static_cast<int32_t>(slot));
  }
  m.repo_lookup = nullptr;
  app_core().settings.show_completed = 1;
}

int64_t walk_view(int64_t now) {
  int64_t sum = 0;
  for (int64_t s = list_next(-1); s >= 0; s = list_next(s)) {
    const Item* item = item_get(s);
    sum += list_time(item) + list_icon(item, now);
  }
  return sum;
}

void BM_ListTagView(benchmark::State& state) {
  fill_items();
  model().view = 1;
  int64_t now = time(nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(walk_view(now));
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ListTagView)->Unit(benchmark::kMillisecond);

// The rows of a 10,000-item view in list order, by date (2), type (0) and
// title (1): collation keys for every title dominate.
void BM_ListRows(benchmark::State& state) {
  fill_items();
  model().view = 1;
  int64_t now = time(nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(list_rows(static_cast<int>(state.range(0)), now));
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ListRows)->Arg(2)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ListFixed(benchmark::State& state) {
  fill_items();
  Model& m = model();
  m.view = VIEW_FIXED;
  m.fixed_kind = static_cast<int32_t>(state.range(0));
  m.calendar_day = local_midnight(time(nullptr));
  int64_t now = time(nullptr);
  for (auto _ : state) {
    upcoming_window(now, app_core().settings.upcoming_days);
    benchmark::DoNotOptimize(walk_view(now));
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ListFixed)
    ->Arg(FIXED_UPCOMING)
    ->Arg(FIXED_CALENDAR_DAY)
    ->Arg(FIXED_UNTAGGED)
    ->Arg(FIXED_ALL)
    ->Unit(benchmark::kMillisecond);

// 10,000 stored notes with 1 KB bodies; the word looked for is in no title
// and in every hundredth body, so every body is read.
struct StoredRepo {
  std::string dir;
  sqlite3* db = nullptr;
  uint8_t key[32];
  StoredRepo() {
    char tmpl[] = "/tmp/ordika-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    random_bytes(key, 32);
    db = db_create_repo((dir + "/data").c_str(), key);
    g_store = RepoDb{db, key, false};
    items_reset();
    tags_reset();
    model().repo_lookup = lookup;
    static const char* words[] = {"alpha", "Beta", "gamma", "délta", "epsilon", "zeta", "Äther", "theta"};
    journal_begin(db);
    int64_t now = time(nullptr);
    for (int i = 0; i < kItems; i++) {
      int64_t slot;
      Item* item = item_new(&slot);
      item->type = ITEM_NOTE;
      item->title = "note " + std::to_string(i);
      item->created = item->modified = now;
      std::string body = i % 100 == 0 ? "see NEEDLE " : "";
      for (int w = 0; body.size() < 1024; w++) {
        body += words[(i + w) % 8];
        body += (w % 12 == 11) ? "\n" : " ";
      }
      body.resize(1024);
      item_save(item, body, 0);
    }
    journal_commit(db);
  }
  ~StoredRepo() {
    db_close(db);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

void BM_ItemsSearch(benchmark::State& state) {
  static StoredRepo repo;
  int case_sensitive = static_cast<int>(state.range(0));
  int found = 0;
  for (auto _ : state) found = items_search(case_sensitive ? "NEEDLE" : "needle", case_sensitive);
  state.counters["found"] = found;
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ItemsSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

// The collation costs what it costs in the user's locale.
int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
