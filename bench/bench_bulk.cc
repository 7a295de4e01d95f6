// SPDX-License-Identifier: GPL-3.0-or-later
// Bulk work against what the hardware allows: importing 10,000 events or
// contacts, pasting, trashing and deleting 10,000 items, each next to a
// baseline run in the same process: parsing the same file (imports only)
// and inserting as many rows of the same size into a plain SQLite file in
// one transaction. The "ratio" counter is the operation's wall time over
// the baseline's; the target is at most 3.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "interchange/ical.h"
#include "interchange/interchange.h"
#include "interchange/vcard.h"
#include "model/clipboard.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "support/log.h"

namespace {

constexpr int kCount = 10000;
using Clock = std::chrono::steady_clock;

double cpu_now() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU seconds of the measured parts, beside their wall time: on a shared
// machine the wall-time ratio moves with the load, the CPU ratio less.
double g_cpu = 0;

double seconds_of(const std::function<void()>& f) {
  double c0 = cpu_now();
  auto t0 = Clock::now();
  f();
  g_cpu += cpu_now() - c0;
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

void set_counters(benchmark::State& state, double total, double base_total, double cpu, double base_cpu) {
  double n = static_cast<double>(state.iterations());
  state.counters["baseline_ms"] = benchmark::Counter(base_total * 1000 / n);
  state.counters["ratio"] = benchmark::Counter(base_total > 0 ? total / base_total : 0);
  state.counters["cpu_ms"] = benchmark::Counter(cpu * 1000 / n);
  state.counters["base_cpu_ms"] = benchmark::Counter(base_cpu * 1000 / n);
  state.counters["cpu_ratio"] = benchmark::Counter(base_cpu > 0 ? cpu / base_cpu : 0);
  state.SetItemsProcessed(state.iterations() * kCount);
}

// Two fresh encrypted repositories (0 and 1), each with its root tag.
struct Repos {
  std::string dir;
  uint8_t key[2][32] = {};
  sqlite3* db[2] = {};
  int64_t root[2] = {-1, -1};
};
Repos g;

int lookup(int repo, RepoRef* out) {
  if (repo < 0 || repo > 1 || !g.db[repo]) return -1;
  out->store = RepoDb{g.db[repo], g.key[repo], false};
  out->hidden = false;
  return 0;
}

bool repos_open() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "ordika-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return false;
  g.dir = tmpl;
  model_reset();
  model().repo_lookup = lookup;
  for (int i = 0; i < 2; i++) {
    random_bytes(g.key[i], 32);
    g.db[i] = db_create_repo((g.dir + "/data" + std::to_string(i)).c_str(), g.key[i]);
    if (!g.db[i]) return false;
    g.root[i] = tag_create(i, 0, "/");
    if (g.root[i] < 1) return false;
  }
  return true;
}

void repos_close() {
  model_reset();
  for (sqlite3*& db : g.db) {
    db_close(db);
    db = nullptr;
  }
  std::error_code ec;
  std::filesystem::remove_all(g.dir, ec);
}

// Average stored sizes of the item rows of repository 0 (c4, c5).
void row_sizes(int* c4, int* c5) {
  sqlite3_stmt* s = nullptr;
  *c4 = *c5 = 0;
  if (sqlite3_prepare_v2(g.db[0], "SELECT avg(length(c4)), avg(length(c5)) FROM t1 WHERE c5 IS NOT NULL", -1, &s,
                         nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    *c4 = sqlite3_column_int(s, 0);
    *c5 = sqlite3_column_int(s, 1);
  }
  sqlite3_finalize(s);
}

// Inserts n rows shaped like t1's (uuid, hash, c3, c4, c5) into a fresh
// plain SQLite file in one transaction, with SQLite's default durability.
double plain_insert_seconds(int n, int c4, int c5) {
  std::string file = g.dir + "/plain";
  std::remove(file.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return -1;
  sqlite3_exec(db, "CREATE TABLE t1(c1, c2, c3 INT, c4, c5, PRIMARY KEY(c1, c2, c3));", nullptr, nullptr, nullptr);
  // The rows' bytes are made before the clock starts.
  size_t row = 16 + 20 + static_cast<size_t>(c4) + static_cast<size_t>(c5);
  std::vector<uint8_t> bytes(row * static_cast<size_t>(n));
  random_bytes(bytes.data(), bytes.size());
  double t = seconds_of([&] {
    sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t1 VALUES (?,?,0,?,?)", -1, &s, nullptr);
    for (int i = 0; i < n; i++) {
      const uint8_t* p = bytes.data() + row * static_cast<size_t>(i);
      sqlite3_bind_blob(s, 1, p, 16, SQLITE_STATIC);
      sqlite3_bind_blob(s, 2, p + 16, 20, SQLITE_STATIC);
      sqlite3_bind_blob(s, 3, p + 36, c4, SQLITE_STATIC);
      sqlite3_bind_blob(s, 4, p + 36 + c4, c5, SQLITE_STATIC);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  });
  sqlite3_close(db);
  std::remove(file.c_str());
  return t;
}

std::string events_text() {
  std::string out;
  ical_begin_calendar(&out);
  for (int i = 0; i < kCount; i++) {
    char buf[512];
    int day = 1 + i % 28, month = 1 + i % 12;
    std::snprintf(buf, sizeof buf,
                  "BEGIN:VEVENT\r\nUID:bench-%d@example.org\r\nDTSTART:2030%02d%02dT%02d0000Z\r\n"
                  "DTEND:2030%02d%02dT%02d3000Z\r\n%sSUMMARY:Event number %d\\, with a comma\r\n"
                  "DESCRIPTION:Room %d\\nSecond line of the description\r\n"
                  "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n",
                  i, month, day, i % 24, month, day, i % 24,
                  i % 3 == 0 ? "RRULE:FREQ=WEEKLY;BYDAY=MO,WE;COUNT=10\r\n" : "", i, i);
    out += buf;
  }
  ical_end_calendar(&out);
  return out;
}

std::string contacts_text() {
  std::string out;
  for (int i = 0; i < kCount; i++) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Family%d;Given%d\r\nFN:Given%d Family%d\r\nBDAY:19%02d%02d%02d\r\n"
                  "TEL;TYPE=CELL:+49 170 %07d\r\nTEL;TYPE=WORK;TYPE=VOICE:+49 30 %07d\r\n"
                  "EMAIL;TYPE=INTERNET:person%d@example.org\r\nADR;TYPE=HOME:;;Street %d;Berlin;;10115;Germany;DE\r\n"
                  "NOTE:Met at the conference\\, table %d\r\nEND:VCARD\r\n",
                  i, i, i, i, 50 + i % 50, 1 + i % 12, 1 + i % 28, i, i, i, i, i);
    out += buf;
  }
  return out;
}

void parse_events(const std::string& text) {
  int n = 0;
  for (auto& c : ical_read_components(text.data(), text.size())) {
    IcalEntry e;
    n += ical_parse_component(c, &e) == 0;
  }
  benchmark::DoNotOptimize(n);
}

void parse_contacts(const std::string& text) {
  int n = 0;
  for (auto& card : vcard_import_cards(text.data(), text.size())) {
    VCardRecord rec;
    n += vcard_parse(card.data(), card.size(), &rec) == 0;
  }
  benchmark::DoNotOptimize(n);
}

// One measured run: set-up (not timed), the operation (timed) and its
// baseline (parse, when given, plus the plain insert of as many rows).
void run(benchmark::State& state, const std::function<bool()>& setup, const std::function<int()>& op,
         const std::function<void()>& parse) {
  double total = 0, base_total = 0, cpu = 0, base_cpu = 0;
  for (auto _ : state) {
    if (!repos_open() || !setup()) {
      state.SkipWithError("set-up");
      repos_close();
      return;
    }
    // The rows' sizes: those set up before (trash, undo), else those made.
    int c4 = 0, c5 = 0;
    row_sizes(&c4, &c5);
    int n = 0;
    g_cpu = 0;
    double t = seconds_of([&] { n = op(); });
    cpu += g_cpu;
    if (n != kCount) {
      state.SkipWithError("not every item handled");
      repos_close();
      return;
    }
    if (c5 == 0) row_sizes(&c4, &c5);
    g_cpu = 0;
    double base = parse ? seconds_of(parse) : 0;
    base += plain_insert_seconds(kCount, c4, c5);
    base_cpu += g_cpu;
    repos_close();
    state.SetIterationTime(t);
    total += t;
    base_total += base;
  }
  set_counters(state, total, base_total, cpu, base_cpu);
}

const std::string& events() {
  static const std::string text = events_text();
  return text;
}
const std::string& contacts() {
  static const std::string text = contacts_text();
  return text;
}

// All item slots of repository `repo`.
std::vector<int64_t> items_of(int repo) {
  std::vector<int64_t> out;
  int64_t c = -1;
  while (const Item* item = slot_next<Item>(model().items, &c))
    if (item->repo == repo) out.push_back(c);
  return out;
}

bool import_events_into_0() { return import_calendar_text(events().data(), events().size(), g.root[0]) == kCount; }

void BM_ImportEvents(benchmark::State& state) {
  run(
      state, [] { return true; },
      [] { return import_calendar_text(events().data(), events().size(), g.root[0]); },
      [] { parse_events(events()); });
}
BENCHMARK(BM_ImportEvents)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_ImportContacts(benchmark::State& state) {
  run(
      state, [] { return true; },
      [] { return import_contacts_text(contacts().data(), contacts().size(), g.root[0]); },
      [] { parse_contacts(contacts()); });
}
BENCHMARK(BM_ImportContacts)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_PasteItems(benchmark::State& state) {
  run(
      state,
      [] {
        if (!import_events_into_0()) return false;
        std::vector<int32_t> slots;
        for (int64_t s : items_of(0)) slots.push_back(static_cast<int32_t>(s));
        copy_items(slots);
        return true;
      },
      [] { return paste_repo(g.root[1]); }, nullptr);
}
BENCHMARK(BM_PasteItems)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The window runs its events between the pieces of a paste: the longest
// stretch without a report, the final commit included, is how long it can
// look frozen. "hold_ms" is that stretch, "commit_ms" the commit's share.
void BM_PasteLongestHold(benchmark::State& state) {
  double hold = 0, commit = 0;
  for (auto _ : state) {
    if (!repos_open() || !import_events_into_0()) {
      state.SkipWithError("set-up");
      repos_close();
      return;
    }
    std::vector<int32_t> slots;
    for (int64_t s : items_of(0)) slots.push_back(static_cast<int32_t>(s));
    struct Gaps {
      Clock::time_point last = Clock::now();
      double longest = 0;
    } gaps;
    auto report = [](size_t, size_t, void* ctx) {
      auto* g = static_cast<Gaps*>(ctx);
      auto t = Clock::now();
      g->longest = std::max(g->longest, std::chrono::duration<double>(t - g->last).count());
      g->last = t;
      return true;
    };
    auto t0 = Clock::now();
    int n = paste_items(g.root[1], slots, report, &gaps);
    auto t1 = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    double tail = std::chrono::duration<double>(t1 - gaps.last).count();
    hold = std::max({hold, gaps.longest, tail});
    commit = std::max(commit, tail);
    repos_close();
    if (n != kCount) {
      state.SkipWithError("not every item handled");
      return;
    }
  }
  state.counters["hold_ms"] = hold * 1000;
  state.counters["commit_ms"] = commit * 1000;
}
BENCHMARK(BM_PasteLongestHold)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_TrashItems(benchmark::State& state) {
  run(state, import_events_into_0, [] { return items_toggle_flag(items_of(0), ITEM_TRASHED); }, nullptr);
}
BENCHMARK(BM_TrashItems)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_DeleteItems(benchmark::State& state) {
  // The baseline takes the sizes of the rows before they are deleted.
  int c4 = 0, c5 = 0;
  double total = 0, base_total = 0, cpu = 0, base_cpu = 0;
  for (auto _ : state) {
    if (!repos_open() || !import_events_into_0()) {
      state.SkipWithError("set-up");
      repos_close();
      return;
    }
    row_sizes(&c4, &c5);
    int n = 0;
    g_cpu = 0;
    double t = seconds_of([&] { n = items_remove(items_of(0)); });
    cpu += g_cpu;
    g_cpu = 0;
    double base = plain_insert_seconds(kCount, c4, c5);
    base_cpu += g_cpu;
    repos_close();
    if (n != kCount) {
      state.SkipWithError("not every item deleted");
      return;
    }
    state.SetIterationTime(t);
    total += t;
    base_total += base;
  }
  set_counters(state, total, base_total, cpu, base_cpu);
}
BENCHMARK(BM_DeleteItems)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// Taking an import of 10,000 events back with one undo step.
void BM_UndoImport(benchmark::State& state) {
  run(state, import_events_into_0, [] { return journal_undo(g.db[0]) == 0 ? kCount : -1; }, nullptr);
}
BENCHMARK(BM_UndoImport)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  log_set_level(LOG_WARNING);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  log_stop();
  return 0;
}
