// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the calendar, contact and account imports, which
// store what they find in a real (encrypted) repository database, then
// exports it again and empties the repository for the next input.
#include <sqlite3.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "interchange/interchange.h"
#include "markup/detail_text.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/tag.h"
#include "model/view_dates.h"
#include "storage/db.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

sqlite3* g_db = nullptr;
uint8_t g_key[32];
std::string g_dir;

int lookup(int repo, RepoRef* out) {
  if (repo != 0 || !g_db) return -1;
  out->store = RepoDb{g_db, g_key, false};
  out->hidden = false;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  log_set_level(LOG_ERROR - 1);  // errors are expected here by the thousand
  strings_set_language(0);
  char tmpl[] = "/tmp/ordika-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  g_dir = tmpl;
  random_bytes(g_key, 32);
  g_db = db_create_repo((g_dir + "/data").c_str(), g_key);
  if (!g_db) abort();
  // Durability does not matter for a scratch database; speed does.
  sqlite3_exec(g_db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  model().repo_lookup = lookup;
  int64_t root = tag_create(0, 0, "/");
  if (root < 1) abort();
  model().view = static_cast<int32_t>(root);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  int events = import_calendar_text(text, size, model().view);
  int cards = import_contacts_text(text, size, model().view);
  int keys = key_import_text(text, size, model().view);
  if (events < 0 || cards < 0 || keys < -1) abort();
  std::vector<int64_t> slots;
  int64_t c = -1;
  while (Item* item = slot_next<Item>(model().items, &c)) {
    slots.push_back(c);
    // Every stored item shows, and repeats from a due time at or after 1970.
    if (item->due < 0) abort();
    item_detail_text(item);
    displayed_occurrence(item);
  }
  if (static_cast<int>(slots.size()) != events + cards + (keys > 0 ? keys : 0)) abort();
  int n = 0;
  calendar_text(0, -1, &n);
  contacts_text(0, -1, &n);
  accounts_text(0, -1, &n);
  for (int64_t s : slots) item_remove(s);
  return 0;
}
