// Copy user name and copy password: the clipboard is emptied first, so a
// failed copy never leaves an older secret in place. Passwords go through
// the secret clipboard, which clears them again after a delay.
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/handlers.h"
#include "app/window.h"
#include "crypto/wipe.h"
#include "dialogs/secret_clipboard.h"
#include "model/item.h"
#include "model/model.h"
#include "support/log.h"
#include "views/detail_text.h"
#include "views/markup_view_gtk.h"

namespace {

// The longest password taken from a link.
constexpr size_t kMaxPassword = 255;

GtkClipboard* clipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

}  // namespace

void on_copy_user(MainWindow*, int) {
  int64_t slot = model().selected_item;
  log_message(LOG_INFO, "on_copy_name_or_password: %d (%lld)", 0, static_cast<long long>(slot));
  gtk_clipboard_set_text(clipboard(), "", 0);
  const Item* item = item_get(slot);
  if (!item || item->type != ITEM_KEY) return;
  std::string body = item_body_load(item);
  KeyBody key;
  key_body_parse(body.c_str(), &key);
  if (!key.user.empty()) gtk_clipboard_set_text(clipboard(), key.user.c_str(), -1);
  wipe(&body);
  wipe(&key.password);
}

void on_copy_password(MainWindow* w, int) {
  int64_t slot = model().selected_item;
  log_message(LOG_INFO, "on_copy_name_or_password: %d (%lld)", 1, static_cast<long long>(slot));
  gtk_clipboard_set_text(clipboard(), "", 0);
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
