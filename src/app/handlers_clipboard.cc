// SPDX-License-Identifier: GPL-3.0-or-later
// The clipboards. Copy user name and copy password use the desktop's: it is
// emptied first, so a failed copy never leaves an older secret in place, and
// passwords go through the secret clipboard, which clears them again after a
// delay. Copy, copy all, paste and attach use the item clipboard of the core.
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/commands.h"
#include "app/handlers.h"
#include "app/main_window.h"
#include "app/window.h"
#include "crypto/wipe.h"
#include "dialogs/secret_clipboard.h"
#include "dialogs/step_progress.h"
#include "markup/detail_text.h"
#include "model/clipboard.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "support/log.h"
#include "views/item_list_gtk.h"
#include "views/markup_view_gtk.h"

namespace {

// The longest password taken from a link.
constexpr size_t kMaxPassword = 255;

GtkClipboard* desktop_clipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

}  // namespace

void on_copy_user(MainWindow*, int) {
  int64_t slot = model().selected_item;
  log_message(LOG_INFO, "on_copy_name_or_password: %d (%lld)", 0, static_cast<long long>(slot));
  gtk_clipboard_set_text(desktop_clipboard(), "", 0);
  const Item* item = item_get(slot);
  if (!item || item->type != ITEM_KEY) return;
  std::string body = item_body_load(item);
  KeyBody key;
  key_body_parse(body.c_str(), &key);
  if (!key.user.empty()) gtk_clipboard_set_text(desktop_clipboard(), key.user.c_str(), -1);
  wipe(&body);
  wipe(&key.password);
}

void on_copy_password(MainWindow* w, int) {
  int64_t slot = model().selected_item;
  log_message(LOG_INFO, "on_copy_name_or_password: %d (%lld)", 1, static_cast<long long>(slot));
  gtk_clipboard_set_text(desktop_clipboard(), "", 0);
  if (slot < 0 || !w->detail) return;
  const std::vector<MarkupLink>* links = markup_view_links(GTK_TEXT_VIEW(w->detail));
  if (!links) return;
  for (const MarkupLink& link : *links) {
    char buf[kMaxPassword + 1] = {};
    WipeOnExit guard(buf, sizeof buf);
    if (password_link_decode(link.target.c_str(), buf, sizeof buf) < 0) continue;
    clipboard_put_secret(buf);
    return;
  }
}

// --- The item clipboard ------------------------------------------------------------------

void on_copy_items(MainWindow* w, int) {
  std::vector<int64_t> rows = item_list_selected(w->items);
  log_message(LOG_INFO, "on_copy_items: %d", static_cast<int>(rows.size()));
  std::vector<int32_t> slots(rows.begin(), rows.end());
  copy_items(slots);
  commands_refresh(w);
}

void on_copy_all(MainWindow* w, int) {
  copy_all_items();
  commands_refresh(w);
}

namespace {

// From this many items on, a paste runs under the progress dialog.
constexpr size_t kPasteWithProgress = 200;

bool paste_step(size_t done, size_t total, void* ctx) { return static_cast<StepProgress*>(ctx)->step(done, total); }

}  // namespace

int paste_with_progress(int64_t tag, const std::vector<int32_t>& entries) {
  if (paste_size(entries) < kPasteWithProgress) return paste_items(tag, entries);
  StepProgress progress(STR_APP_NAME, STR_PASTE);
  return paste_items(tag, entries, paste_step, &progress);
}

void on_paste(MainWindow* w, int) {
  int64_t tag = model().view;
  if (tag < 1 || clipboard().empty()) return;
  int n;
  {
    RefreshPause pause(w);
    // A copy of the clipboard: it may change while the window draws.
    std::vector<int32_t> entries = clipboard();
    n = paste_with_progress(tag, entries);
  }
  if (n == -1) log_message(LOG_ERROR, "on_paste: %d", n);
  commands_refresh(w);
}

void on_attach(MainWindow* w, int) {
  if (attach_items() != 0) return;
  commands_refresh(w);
}
