// SPDX-License-Identifier: GPL-3.0-or-later
// Adding a calendar and contacts account: the form (server address, user
// name, password), discovery on a worker behind the progress dialog, the
// explicit trust of a certificate that does not verify, and the choice of
// the calendars and address books that become the new repository's tags.
// The form stays up behind the later steps, so that an error leaves what
// the user typed in place for a second attempt.
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/wipe.h"
#include "dialogs/dav_dialogs.h"
#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_row.h"
#include "dialogs/progress.h"
#include "support/log.h"
#include "support/strings.h"
#include "sync/dav_account.h"
#include "sync/dav_discover.h"
#include "sync/dav_http.h"

namespace {

enum { RESPONSE_CONNECT = 1, RESPONSE_ADD = 3 };

struct AddForm {
  GtkWidget* dialog = nullptr;
  GtkWidget* server = nullptr;
  GtkWidget* user = nullptr;
  GtkWidget* password = nullptr;
};

void on_form_changed(GtkEditable*, gpointer p) {
  auto* f = static_cast<AddForm*>(p);
  // A user name such as alice@example.org names the domain itself.
  const char* user = gtk_entry_get_text(GTK_ENTRY(f->user));
  bool ready = *user && !dav_account_address(gtk_entry_get_text(GTK_ENTRY(f->server)), user).empty();
  gtk_dialog_set_response_sensitive(GTK_DIALOG(f->dialog), RESPONSE_CONNECT, ready);
}

void build_form(AddForm* f) {
  f->dialog = dialog_new(STR_DAV_ADD_TITLE);
  dialog_add_button(f->dialog, STR_DAV_BUTTON_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(f->dialog, STR_DAV_BUTTON_CONNECT, RESPONSE_CONNECT);
  gtk_dialog_set_default_response(GTK_DIALOG(f->dialog), RESPONSE_CONNECT);
  GtkWidget* grid = form_grid_new();
  gtk_container_set_border_width(GTK_CONTAINER(grid), 10);
  f->server = gtk_entry_new();
  gtk_widget_set_name(f->server, "dav-server");
  gtk_entry_set_placeholder_text(GTK_ENTRY(f->server), "dav.example.org");
  gtk_entry_set_input_purpose(GTK_ENTRY(f->server), GTK_INPUT_PURPOSE_URL);
  form_row_mnemonic(grid, 0, STR_DAV_FIELD_SERVER, f->server);
  GtkWidget* hint = gtk_label_new(ui_string(STR_DAV_SERVER_HINT));
  gtk_label_set_line_wrap(GTK_LABEL(hint), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(hint), 50);
  gtk_label_set_xalign(GTK_LABEL(hint), 0.0f);
  gtk_style_context_add_class(gtk_widget_get_style_context(hint), GTK_STYLE_CLASS_DIM_LABEL);
  gtk_grid_attach(GTK_GRID(grid), hint, 1, 1, 1, 1);
  f->user = gtk_entry_new();
  gtk_widget_set_name(f->user, "dav-user");
  form_row_mnemonic(grid, 2, STR_DAV_FIELD_USER, f->user);
  f->password = gtk_entry_new();
  gtk_widget_set_name(f->password, "dav-password");
  gtk_entry_set_visibility(GTK_ENTRY(f->password), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(f->password), GTK_INPUT_PURPOSE_PASSWORD);
  form_row_mnemonic(grid, 3, STR_DAV_FIELD_PASSWORD, f->password);
  for (GtkWidget* e : {f->server, f->user, f->password}) {
    gtk_entry_set_activates_default(GTK_ENTRY(e), TRUE);
    g_signal_connect(e, "changed", G_CALLBACK(on_form_changed), f);
  }
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(f->dialog))), grid, TRUE, TRUE, 0);
  on_form_changed(nullptr, f);
  gtk_widget_show_all(f->dialog);
  gtk_widget_grab_focus(f->server);
}

// --- discovery ----------------------------------------------------------

struct DiscoverJob {
  DavAccount account;
  DavClient client;
  DavDiscovery found;
  ~DiscoverJob() { wipe(&account.password); }
};

intptr_t discover_worker(void* p) {
  auto* job = static_cast<DiscoverJob*>(p);
  int rc = dav_open(&job->client, job->account);
  if (rc == 0) rc = dav_discover(&job->client, &job->found);
  return rc;
}

// The user's cancel reaches the running request through the client's flag.
void discover_cancel(void* p) { static_cast<DiscoverJob*>(p)->client.cancel = true; }

// The question about a certificate that did not verify: its fingerprint, a
// cancel that is the default, and the trust that the user has to choose.
bool ask_trust(const DavClient& c, int rc) {
  std::string text = dav_error_message(c, rc);
  size_t br = text.find('\n');
  SafeQuestion q;
  q.type = GTK_MESSAGE_WARNING;
  q.title_id = STR_DAV_UNTRUSTED_TITLE;
  q.primary = text.substr(0, br);
  q.secondary = br == std::string::npos ? "" : text.substr(br + 1);
  q.cancel_id = STR_DAV_BUTTON_CANCEL;
  q.yes_id = STR_DAV_BUTTON_TRUST;
  q.selectable = true;  // the fingerprint is to be compared, and can be copied
  bool trusted = ask_safe_default(q);
  log_message(LOG_INFO, "ask_trust: %s", trusted ? "trusted" : "refused");
  return trusted;
}

// Discovery for the account, asking about an untrusted certificate on the
// way. The finished job (its client and what it found) with the next step.
std::unique_ptr<DiscoverJob> discover(const DavAccount& account, DavAddNext* next) {
  DavAccount attempt = account;
  for (;;) {
    auto job = std::make_unique<DiscoverJob>();
    job->account = attempt;
    intptr_t rc = run_with_progress_hook(STR_DAV_ADD_TITLE, STR_DAV_DISCOVERING, discover_worker, job.get(), false,
                                         discover_cancel);
    if (job->client.cancel) rc = DAV_ERR_CANCELLED;
    *next = dav_add_next(static_cast<int>(rc), job->client.fingerprint, job->found.collections.size());
    log_message(LOG_INFO, "discover: %d, %d collections", static_cast<int>(rc),
                static_cast<int>(job->found.collections.size()));
    if (*next == DAV_NEXT_ERROR) show_message_text(STR_DAV_ADD_TITLE, dav_error_message(job->client, static_cast<int>(rc)));
    if (*next == DAV_NEXT_NOTHING_FOUND)
      show_message_text(STR_DAV_ADD_TITLE, dav_error_message(job->client, DAV_ERR_NO_SERVICE));
    if (*next != DAV_NEXT_ASK_TRUST) {
      wipe(&attempt.password);
      return job;
    }
    if (!ask_trust(job->client, static_cast<int>(rc))) {
      *next = DAV_NEXT_FORM;
      wipe(&attempt.password);
      return job;
    }
    attempt.trusted_fingerprint = job->client.fingerprint;
  }
}

// --- the choice of collections -------------------------------------------

enum { COL_ON, COL_SWATCH, COL_NAME, COL_KIND, COL_INDEX, N_COLS };

struct Chooser {
  GtkWidget* dialog = nullptr;
  GtkListStore* store = nullptr;
};

void chooser_update(Chooser* c) {
  bool any = false;
  GtkTreeIter it;
  GtkTreeModel* m = GTK_TREE_MODEL(c->store);
  for (bool ok = gtk_tree_model_get_iter_first(m, &it); ok && !any; ok = gtk_tree_model_iter_next(m, &it)) {
    gboolean on = FALSE;
    gtk_tree_model_get(m, &it, COL_ON, &on, -1);
    any = on;
  }
  gtk_dialog_set_response_sensitive(GTK_DIALOG(c->dialog), RESPONSE_ADD, any);
}

void toggle_row(Chooser* c, GtkTreePath* path) {
  GtkTreeIter it;
  if (!gtk_tree_model_get_iter(GTK_TREE_MODEL(c->store), &it, path)) return;
  gboolean on = FALSE;
  gtk_tree_model_get(GTK_TREE_MODEL(c->store), &it, COL_ON, &on, -1);
  gtk_list_store_set(c->store, &it, COL_ON, !on, -1);
  chooser_update(c);
}

void on_toggled(GtkCellRendererToggle*, gchar* path_text, gpointer p) {
  GtkTreePath* path = gtk_tree_path_new_from_string(path_text);
  toggle_row(static_cast<Chooser*>(p), path);
  gtk_tree_path_free(path);
}

// Enter or Space on a row switches it, as a click on its box does.
void on_row_activated(GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, gpointer p) {
  toggle_row(static_cast<Chooser*>(p), path);
}

// A small square of the calendar's colour; none for an address book or a
// calendar without a colour.
GdkPixbuf* swatch(const std::string& color) {
  GdkRGBA rgba;
  if (color.empty() || !gdk_rgba_parse(&rgba, color.c_str())) return nullptr;
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 14, 14);
  auto byte = [](double v) { return static_cast<guint32>(v * 255.0 + 0.5) & 0xff; };
  gdk_pixbuf_fill(pb, byte(rgba.red) << 24 | byte(rgba.green) << 16 | byte(rgba.blue) << 8 | 0xff);
  return pb;
}

// The collections the user keeps; empty when the user cancelled.
std::vector<DavCollection> choose(const DavDiscovery& found, const std::string& repo_name) {
  Chooser c;
  c.dialog = dialog_new(STR_DAV_CHOOSE_TITLE);
  dialog_add_button(c.dialog, STR_DAV_BUTTON_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(c.dialog, STR_DAV_BUTTON_ADD_ACCOUNT, RESPONSE_ADD);
  gtk_dialog_set_default_response(GTK_DIALOG(c.dialog), RESPONSE_ADD);
  gtk_window_set_default_size(GTK_WINDOW(c.dialog), 460, 320);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(box), 10);
  GtkWidget* head = gtk_label_new(ui_format(STR_DAV_CHOOSE_HEADLINE, repo_name.c_str()).c_str());
  gtk_label_set_line_wrap(GTK_LABEL(head), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(head), 60);
  gtk_label_set_xalign(GTK_LABEL(head), 0.0f);
  gtk_box_pack_start(GTK_BOX(box), head, FALSE, FALSE, 0);

  c.store = gtk_list_store_new(N_COLS, G_TYPE_BOOLEAN, GDK_TYPE_PIXBUF, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT);
  for (size_t i = 0; i < found.collections.size(); i++) {
    const DavCollection& col = found.collections[i];
    GdkPixbuf* pb = swatch(col.color);
    const std::string& name = col.display_name.empty() ? col.href : col.display_name;
    gtk_list_store_insert_with_values(c.store, nullptr, -1, COL_ON, TRUE, COL_SWATCH, pb, COL_NAME, name.c_str(),
                                      COL_KIND, ui_string(dav_collection_label(col)), COL_INDEX,
                                      static_cast<int>(i), -1);
    if (pb) g_object_unref(pb);
  }
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(c.store));
  g_object_unref(c.store);
  gtk_widget_set_name(view, "dav-collections");
  GtkTreeView* tv = GTK_TREE_VIEW(view);
  GtkTreeViewColumn* name_col = gtk_tree_view_column_new();
  gtk_tree_view_column_set_title(name_col, ui_string(STR_NAME));
  GtkCellRenderer* toggle = gtk_cell_renderer_toggle_new();
  g_signal_connect(toggle, "toggled", G_CALLBACK(on_toggled), &c);
  gtk_tree_view_column_pack_start(name_col, toggle, FALSE);
  gtk_tree_view_column_add_attribute(name_col, toggle, "active", COL_ON);
  GtkCellRenderer* pix = gtk_cell_renderer_pixbuf_new();
  gtk_tree_view_column_pack_start(name_col, pix, FALSE);
  gtk_tree_view_column_add_attribute(name_col, pix, "pixbuf", COL_SWATCH);
  GtkCellRenderer* text = gtk_cell_renderer_text_new();
  gtk_tree_view_column_pack_start(name_col, text, TRUE);
  gtk_tree_view_column_add_attribute(name_col, text, "text", COL_NAME);
  gtk_tree_view_column_set_expand(name_col, TRUE);
  gtk_tree_view_append_column(tv, name_col);
  gtk_tree_view_append_column(tv, gtk_tree_view_column_new_with_attributes(
                                      ui_string(STR_DAV_COLUMN_CONTENTS), gtk_cell_renderer_text_new(), "text",
                                      COL_KIND, nullptr));
  g_signal_connect(view, "row-activated", G_CALLBACK(on_row_activated), &c);
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(sw), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_container_add(GTK_CONTAINER(sw), view);
  gtk_box_pack_start(GTK_BOX(box), sw, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(c.dialog))), box, TRUE, TRUE, 0);
  gtk_widget_show_all(c.dialog);
  gtk_widget_grab_focus(view);
  chooser_update(&c);

  std::vector<DavCollection> chosen;
  int response;
  {
    ModalScope scope(c.dialog);
    response = scope.run();
  }
  if (response == RESPONSE_ADD) {
    GtkTreeIter it;
    GtkTreeModel* m = GTK_TREE_MODEL(c.store);
    for (bool ok = gtk_tree_model_get_iter_first(m, &it); ok; ok = gtk_tree_model_iter_next(m, &it)) {
      gboolean on = FALSE;
      int index = -1;
      gtk_tree_model_get(m, &it, COL_ON, &on, COL_INDEX, &index, -1);
      if (on && index >= 0 && static_cast<size_t>(index) < found.collections.size())
        chosen.push_back(found.collections[static_cast<size_t>(index)]);
    }
  }
  gtk_widget_destroy(c.dialog);
  return chosen;
}

// What the form holds, the password read into memory that is wiped later.
DavAccount gather(const AddForm& f) {
  DavAccount a;
  a.user = gtk_entry_get_text(GTK_ENTRY(f.user));
  a.url = dav_account_address(gtk_entry_get_text(GTK_ENTRY(f.server)), a.user);
  a.password = gtk_entry_get_text(GTK_ENTRY(f.password));
  return a;
}

}  // namespace

int dav_add_account(int* repo_index) {
  AddForm f;
  build_form(&f);
  int result = 1;
  {
    ModalScope scope(f.dialog);
    while (scope.run() == RESPONSE_CONNECT) {
      DavAccount account = gather(f);
      std::string checked;
      if (dav_normalize_url(account.url, &checked) != 0) {
        wipe(&account.password);
        show_message_text(STR_DAV_ADD_TITLE, ui_string_line(dav_message_id(DAV_ERR_BAD_URL)));
        gtk_widget_grab_focus(f.server);
        continue;
      }
      DavAddNext next = DAV_NEXT_FORM;
      std::unique_ptr<DiscoverJob> job = discover(account, &next);
      if (next != DAV_NEXT_CHOOSE) {
        wipe(&account.password);
        gtk_widget_grab_focus(job->client.status == 401 ? f.password : f.server);
        continue;
      }
      account.trusted_fingerprint = job->account.trusted_fingerprint;
      std::string name = dav_repository_name(account.user, job->client.url);
      std::vector<DavCollection> chosen = choose(job->found, name);
      if (chosen.empty()) {
        wipe(&account.password);
        continue;  // back to the form: another server, or Cancel there
      }
      int index = -1;
      std::vector<DavBoundCollection> bound;
      int rc = dav_account_create(job->client.url, account.user, account.password.c_str(),
                                  account.trusted_fingerprint, chosen, &index, &bound);
      wipe(&account.password);
      log_message(LOG_INFO, "dav_add_account: %d (%d collections)", rc, static_cast<int>(chosen.size()));
      if (rc != 0) {
        show_message(STR_DAV_ADD_TITLE, STR_DAV_ADD_FAILED);
        result = -1;
        break;
      }
      if (repo_index) *repo_index = index;
      result = 0;
      break;
    }
  }
  wipe_entry(f.password);
  gtk_widget_destroy(f.dialog);
  return result;
}
