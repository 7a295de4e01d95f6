// SPDX-License-Identifier: GPL-3.0-or-later
// From the accepted master password to the main window drawn, with a
// repository of 100,000 items all listed (the fixed list of every item),
// against mounting alone. Run under a display (xvfb-run -a), in each locale
// of interest: LC_ALL=en_US.UTF-8 makes the titles' collation keys dear.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/window.h"
#include "crypto/crypto.h"
#include "model/app_core.h"
#include "model/item.h"
#include "model/model.h"
#include "model/mount.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "views/item_list_gtk.h"

namespace {

constexpr int kItems = 100000;
constexpr int kTags = 100;
const char kPassword[] = "Bench-Master-Password-1";

void pump() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

std::vector<uint8_t> padded(const std::string& text) {
  std::vector<uint8_t> p((text.size() + 16) & ~size_t{15}, 0);
  std::copy(text.begin(), text.end(), p.begin());
  return p;
}

// The root tag, kTags tags under it, kItems items of every kind each linked
// to one tag, a quarter with reminders, written as one group.
int write_items(RepoEntry* e, uint8_t root_uuid[16]) {
  if (repo_open(e) != 0) return -1;
  RepoDb r{e->db, e->key, false};
  int64_t now = time(nullptr);
  int rc = journal_begin(e->db);
  auto write = [&](const uint8_t uuid[16], const std::string& text) {
    uint8_t hash[20];
    sha1(hash, text.data(), text.size());
    std::vector<uint8_t> row = padded(text);
    return object_write(r, uuid, hash, row.data(), row.size(), nullptr, 0, false);
  };
  std::vector<std::array<uint8_t, 16>> tags(kTags + 1);
  for (int t = 0; rc == 0 && t <= kTags; t++) {
    random_bytes(tags[t].data(), 16);
    Tag tag;
    if (t > 0) std::memcpy(tag.parent, tags[0].data(), 16);
    tag.name = t == 0 ? "/" : "tag " + std::to_string(t);
    tag.modified = now;
    rc = write(tags[t].data(), tag_string_format(tag));
  }
  for (int i = 0; rc == 0 && i < kItems; i++) {
    uint8_t uuid[16];
    random_bytes(uuid, 16);
    Item item;
    item.type = static_cast<int8_t>(i % 5);
    item.title = "Item number " + std::to_string(i) + " with a title of usual length";
    item.created = now - 86400;
    item.modified = now;
    if (item.type <= ITEM_EVENT) {
      item.due = now + (i % 1000) * 3600;
      item.end = item.type == ITEM_EVENT ? item.due + 3600 : 0;
      if (i % 4 == 0) item.remind_offset = 900;
    }
    rc = write(uuid, item_header_format(item));
    if (rc == 0) rc = link_add(r, tags[1 + i % kTags].data(), uuid);
  }
  if (rc == 0) rc = journal_commit(e->db);
  if (rc == 0) rc = db_exec(e->db, "BEGIN;");
  if (rc == 0) rc = journal_reset(e->db);
  if (rc == 0) rc = db_exec(e->db, "COMMIT;");
  std::memcpy(root_uuid, tags[0].data(), 16);
  repo_close(e);
  return rc;
}

struct Profile {
  std::string home;
  uint8_t root[16] = {};
  bool ready = false;
};

StartupIO io() {
  StartupIO s;
  s.ask_password = [](int, std::string* pw) {
    *pw = kPassword;
    return 0;
  };
  s.ask_new_password = s.ask_password;
  s.ask_confirmation = s.ask_password;
  return s;
}

// A profile whose only repository holds the items; started (unlocked and
// mounted) once, then unmounted so that each run mounts again.
Profile& profile() {
  static Profile p;
  if (p.ready) return p;
  std::string tmpl = (std::filesystem::temp_directory_path() / "ordika-bench-start-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  p.home = mkdtemp(buf.data());
  std::string dir = p.home + "/.config/Ordika";
  std::filesystem::create_directories(dir);
  std::filesystem::create_directories(p.home + "/Ordika");
  sqlite3* cfg = config_create(dir.c_str(), kPassword);
  config_set(cfg, dir);
  repo_set_hooks(RepoHooks{});  // the rows below include the root tag
  std::string path;
  repo_create_dir((p.home + "/Ordika").c_str(), &path);
  RepoRecord rec;
  rec.name = "bench";
  rec.path = path;
  rec.password = "Bench-Repo-Password-1!";
  int index = -1;
  int rc = repo_register(rec, &index);
  if (rc == 0) rc = write_items(&repo_table()[index], p.root);
  if (rc != 0) std::fprintf(stderr, "bench profile: %d\n", rc);
  repo_state_reset();
  if (app_startup("Ordika", p.home.c_str(), 0, io()) != STARTUP_READY) std::fprintf(stderr, "startup failed\n");
  clean_data();
  p.ready = true;
  return p;
}

// The fixed list of all items: the largest list the window can show.
void select_all_items() {
  model().view = VIEW_FIXED;
  model().fixed_kind = FIXED_ALL;
  model().selected_item = -1;
}

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void on_drawn(GtkWidget*, cairo_t*, gpointer done) { *static_cast<bool*>(done) = true; }

void BM_MountAlone(benchmark::State& state) {
  profile();
  for (auto _ : state) {
    repo_mount_all();
    select_all_items();
    state.PauseTiming();
    clean_data();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_MountAlone)->Unit(benchmark::kMillisecond)->Iterations(5);

// The window is usable once drawn: its list then holds the first rows, and
// idle slices add the rest. "first_frame_ratio" is the time to the drawn
// window over the mount's, from the sums over the iterations; "fill_cpu_ms"
// the slices' time until every row is listed.
void BM_MountAndWindowDrawn(benchmark::State& state) {
  profile();
  int64_t rows_drawn = 0, rows = 0;
  double cpu[4] = {};  // mount, build and fill, show and draw, the rest of the list
  for (auto _ : state) {
    double t0 = cpu_seconds();
    repo_mount_all();
    select_all_items();
    double t1 = cpu_seconds();
    MainWindow w;
    window_start(&w);
    double t2 = cpu_seconds();
    bool drawn = false;
    g_signal_connect_after(w.item_list, "draw", G_CALLBACK(on_drawn), &drawn);
    gtk_widget_show_all(w.window);
    while (!drawn) gtk_main_iteration_do(TRUE);
    double t3 = cpu_seconds();
    GtkTreeModel* m = gtk_tree_view_get_model(GTK_TREE_VIEW(w.item_list));
    rows_drawn = gtk_tree_model_iter_n_children(m, nullptr);
    while (w.items->fill_source) gtk_main_iteration_do(TRUE);
    double t4 = cpu_seconds();
    cpu[0] += t1 - t0;
    cpu[1] += t2 - t1;
    cpu[2] += t3 - t2;
    cpu[3] += t4 - t3;
    state.PauseTiming();
    rows = gtk_tree_model_iter_n_children(gtk_tree_view_get_model(GTK_TREE_VIEW(w.item_list)), nullptr);
    window_stop(&w);
    pump();
    clean_data();
    state.ResumeTiming();
  }
  state.counters["rows_drawn"] = static_cast<double>(rows_drawn);
  state.counters["rows"] = static_cast<double>(rows);
  double n = static_cast<double>(state.iterations());
  state.counters["mount_cpu_ms"] = cpu[0] * 1000 / n;
  state.counters["window_cpu_ms"] = cpu[1] * 1000 / n;
  state.counters["draw_cpu_ms"] = cpu[2] * 1000 / n;
  state.counters["fill_cpu_ms"] = cpu[3] * 1000 / n;
  state.counters["first_frame_ratio"] = (cpu[0] + cpu[1] + cpu[2]) / cpu[0];
}
BENCHMARK(BM_MountAndWindowDrawn)->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "no display: run under xvfb-run -a\n");
    return 1;
  }
  log_set_level(3);
  strings_set_language(0);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Profile& p = profile();
  app_shutdown();
  std::error_code ec;
  if (!std::getenv("ORDIKA_BENCH_KEEP")) std::filesystem::remove_all(p.home, ec);
  return 0;
}
