// SPDX-License-Identifier: GPL-3.0-or-later
// The window's panes under a display (run with xvfb-run -a): reloading the
// item list of a 10,000-item view, and selecting an item with the rendering
// of its detail text.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "crypto/crypto.h"
#include "model/app_core.h"
#include "model/item.h"
#include "model/list_order.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "support/log.h"
#include "support/strings.h"
#include "views/detail_view_gtk.h"
#include "views/icons_gtk.h"
#include "views/item_list_gtk.h"

namespace {

constexpr int kItems = 10000;

void pump() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

GtkWidget* show_in_window(GtkWidget* child) {
  GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(w), 800, 600);
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_container_add(GTK_CONTAINER(sw), child);
  gtk_container_add(GTK_CONTAINER(w), sw);
  gtk_widget_show_all(w);
  pump();
  return w;
}

// 10,000 items of every kind linked to tag 1, due dates spread over two
// months around now, a tenth repeating, a seventh of the tasks completed.
void fill_items() {
  items_reset();
  tags_reset();
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
  model().repo_lookup = nullptr;
  app_core().settings.show_completed = 1;
  model().view = 1;
}

// Arg: the sort column (2 by date with day headers, 1 by title).
void BM_ItemListReload(benchmark::State& state) {
  fill_items();
  app_core().settings.sort_by = static_cast<int>(state.range(0));
  ItemList* list = item_list_new(ItemListCallbacks{});
  GtkWidget* w = show_in_window(list->view);
  int64_t now = time(nullptr);
  int rows = 0;
  for (auto _ : state) {
    model().selected_item = 5000;
    item_list_reload(list, now);
    rows = list->item_rows;
  }
  state.counters["rows"] = rows;
  gtk_widget_destroy(w);
  pump();
}
BENCHMARK(BM_ItemListReload)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);

// The core's part of a reload: the view's rows in list order.
void BM_ListRowsOnly(benchmark::State& state) {
  fill_items();
  int64_t now = time(nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(list_rows(2, now));
}
BENCHMARK(BM_ListRowsOnly)->Unit(benchmark::kMillisecond);

// The same with the redraw that follows on the main loop.
void BM_ItemListReloadAndDraw(benchmark::State& state) {
  fill_items();
  app_core().settings.sort_by = 2;
  ItemList* list = item_list_new(ItemListCallbacks{});
  GtkWidget* w = show_in_window(list->view);
  int64_t now = time(nullptr);
  for (auto _ : state) {
    model().selected_item = 5000;
    item_list_reload(list, now);
    pump();
  }
  gtk_widget_destroy(w);
  pump();
}
BENCHMARK(BM_ItemListReloadAndDraw)->Unit(benchmark::kMillisecond);

RepoDb g_store;
int lookup(int repo, RepoRef* out) {
  if (repo != 0) return -1;
  out->store = g_store;
  out->hidden = false;
  return 0;
}

// A note of about 2 KB of markup (headings, a table, lists, links, styles)
// and a key, stored in a real repository.
struct StoredItems {
  std::string dir;
  sqlite3* db = nullptr;
  uint8_t key[32];
  int64_t note = -1, account = -1;
  StoredItems() {
    char tmpl[] = "/tmp/ordika-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    random_bytes(key, 32);
    db = db_create_repo((dir + "/data").c_str(), key);
    g_store = RepoDb{db, key, false};
    items_reset();
    tags_reset();
    model().repo_lookup = lookup;
    int64_t root = tag_create(0, 0, "/");
    model().view = static_cast<int32_t>(root);
    std::string body = "= Project notes =\n\n";
    for (int i = 0; i < 6; i++) {
      body += "== Section " + std::to_string(i) + " ==\n";
      body += "Some **bold** and //italic// text with a [[https://example.org/" + std::to_string(i) +
              "|link]].\n* first point\n** nested point\n# numbered\n\n";
      body += "|=Name|=Value|=Note|\n|alpha|1|plain|\n|beta|22|**bold**|\n\n";
    }
    ItemForm f;
    f.title = "note";
    f.body = body;
    f.markup = 1;
    note = item_store(-1, ITEM_NOTE, f, 0, root);
    ItemForm k;
    k.title = "account";
    k.body = "https://bank.example\nuser\nS3cret-pass\n0\nnotes\n";
    account = item_store(-1, ITEM_KEY, k, 0, root);
  }
  ~StoredItems() {
    items_reset();
    tags_reset();
    db_close(db);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

struct DetailPane {
  ItemList* list;
  GtkWidget* detail;
};

void on_selection(GtkTreeSelection*, void* d) {
  auto* p = static_cast<DetailPane*>(d);
  std::vector<int64_t> sel = item_list_selected(p->list);
  if (sel.size() == 1) {
    model().selected_item = sel[0];
    detail_view_show_item(p->detail, sel[0]);
  } else {
    detail_view_clear(p->detail);
  }
}

void BM_SelectItemAndRenderDetail(benchmark::State& state) {
  StoredItems items;
  app_core().settings.sort_by = 1;
  DetailPane pane{};
  ItemListCallbacks cb;
  cb.data = &pane;
  cb.selection_changed = on_selection;
  pane.list = item_list_new(cb);
  pane.detail = detail_view_new(MarkupViewCallbacks{});
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_pack_start(GTK_BOX(box), pane.list->view, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), pane.detail, TRUE, TRUE, 0);
  GtkWidget* w = show_in_window(box);
  item_list_reload(pane.list, time(nullptr));
  pump();
  bool flip = false;
  for (auto _ : state) {
    flip = !flip;
    // The note and the key take turns, so the selection changes every time.
    item_list_select_item(pane.list, flip ? items.note : items.account);
  }
  state.counters["chars"] = static_cast<double>(detail_view_text(pane.detail).size());
  gtk_widget_destroy(w);
  pump();
}
BENCHMARK(BM_SelectItemAndRenderDetail)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("NO_AT_BRIDGE", "1", 1);
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "no display: run under xvfb-run -a\n");
    return 1;
  }
  log_set_file("/dev/null");
  strings_set_language(0);
  icons_load(1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  log_stop();
  return 0;
}
