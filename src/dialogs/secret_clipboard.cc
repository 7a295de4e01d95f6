// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/secret_clipboard.h"

#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "crypto/wipe.h"

namespace {

unsigned delay_ms = 30000;
guint timer = 0;
std::string pending;  // the password the timer looks for

gboolean on_clear(gpointer) {
  timer = 0;
  GtkClipboard* cb = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gchar* now = gtk_clipboard_wait_for_text(cb);
  // Text the user copied since then is theirs: left alone.
  if (now && pending == now) {
    gtk_clipboard_set_text(cb, "", 0);
    gtk_clipboard_clear(cb);
  }
  if (now) {
    wipe(now, strlen(now));
    g_free(now);
  }
  wipe(&pending);
  return G_SOURCE_REMOVE;
}

}  // namespace

void clipboard_put_secret(const char* text) {
  if (!text) text = "";
  if (timer) g_source_remove(timer);
  wipe(&pending);
  pending = text;
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text, -1);
  timer = g_timeout_add(delay_ms, on_clear, nullptr);
}

void clipboard_secret_set_delay(unsigned ms) { delay_ms = ms; }
