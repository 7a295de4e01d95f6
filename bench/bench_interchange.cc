// SPDX-License-Identifier: GPL-3.0-or-later
// Import and export of 10,000 events and of 10,000 contacts through an
// encrypted repository database, and the parsing alone for comparison.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "crypto/crypto.h"
#include "interchange/ical.h"
#include "interchange/interchange.h"
#include "interchange/vcard.h"
#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/tag.h"
#include "storage/db.h"
#include "support/log.h"

namespace {

constexpr int kCount = 10000;

// One fresh repository at index 0 with its root tag selected.
struct Repo {
  std::string dir;
  uint8_t key[32] = {};
  sqlite3* db = nullptr;
};
Repo g_repo;

int lookup(int repo, RepoRef* out) {
  if (repo != 0 || !g_repo.db) return -1;
  out->store = RepoDb{g_repo.db, g_repo.key, false};
  out->hidden = false;
  return 0;
}

bool repo_open() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "ordika-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return false;
  g_repo.dir = tmpl;
  random_bytes(g_repo.key, 32);
  g_repo.db = db_create_repo((g_repo.dir + "/data").c_str(), g_repo.key);
  if (!g_repo.db) return false;
  model_reset();
  model().repo_lookup = lookup;
  int64_t root = tag_create(0, 0, "/");
  model().view = static_cast<int32_t>(root);
  return root >= 1;
}

void repo_close() {
  model_reset();
  db_close(g_repo.db);
  g_repo.db = nullptr;
  std::error_code ec;
  std::filesystem::remove_all(g_repo.dir, ec);
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

std::string contacts_file_text() {
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

void BM_ParseEvents(benchmark::State& state) {
  std::string text = events_text();
  for (auto _ : state) {
    int n = 0;
    for (auto& c : ical_read_components(text.data(), text.size())) {
      IcalEntry e;
      n += ical_parse_component(c, &e) == 0;
    }
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ParseEvents)->Unit(benchmark::kMillisecond);

void BM_ImportEvents(benchmark::State& state) {
  std::string text = events_text();
  for (auto _ : state) {
    state.PauseTiming();
    if (!repo_open()) {
      state.SkipWithError("repository");
      return;
    }
    state.ResumeTiming();
    int n = import_calendar_text(text.data(), text.size(), model().view);
    state.PauseTiming();
    if (n != kCount) state.SkipWithError("not every event imported");
    repo_close();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ImportEvents)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ExportEvents(benchmark::State& state) {
  std::string text = events_text();
  if (!repo_open() || import_calendar_text(text.data(), text.size(), model().view) != kCount) {
    state.SkipWithError("set-up");
    return;
  }
  std::string path = g_repo.dir + "/out.ics";
  for (auto _ : state) benchmark::DoNotOptimize(export_calendar(path.c_str(), 0, -1));
  state.SetItemsProcessed(state.iterations() * kCount);
  repo_close();
}
BENCHMARK(BM_ExportEvents)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ParseContacts(benchmark::State& state) {
  std::string text = contacts_file_text();
  for (auto _ : state) {
    int n = 0;
    for (auto& card : vcard_import_cards(text.data(), text.size())) {
      VCardRecord rec;
      n += vcard_parse(card.data(), card.size(), &rec) == 0;
    }
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ParseContacts)->Unit(benchmark::kMillisecond);

void BM_ImportContacts(benchmark::State& state) {
  std::string text = contacts_file_text();
  for (auto _ : state) {
    state.PauseTiming();
    if (!repo_open()) {
      state.SkipWithError("repository");
      return;
    }
    state.ResumeTiming();
    int n = import_contacts_text(text.data(), text.size(), model().view);
    state.PauseTiming();
    if (n != kCount) state.SkipWithError("not every contact imported");
    repo_close();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ImportContacts)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ExportContacts(benchmark::State& state) {
  std::string text = contacts_file_text();
  if (!repo_open() || import_contacts_text(text.data(), text.size(), model().view) != kCount) {
    state.SkipWithError("set-up");
    return;
  }
  std::string path = g_repo.dir + "/out.vcf";
  for (auto _ : state) benchmark::DoNotOptimize(export_contacts(path.c_str(), 0, -1));
  state.SetItemsProcessed(state.iterations() * kCount);
  repo_close();
}
BENCHMARK(BM_ExportContacts)->Unit(benchmark::kMillisecond)->Iterations(3);

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
