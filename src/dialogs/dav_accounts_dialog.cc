// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar and contacts accounts dialog: one row per account (its
// repository, server address, user and last sync) with Add, Synchronise and
// Remove; and the sync of one account under the sync dialog.
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "dialogs/dav_dialogs.h"
#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/sync_dialog.h"
#include "storage/repo.h"
#include "sync/error_text.h"
#include "support/log.h"
#include "support/strings.h"
#include "sync/dav_account.h"
#include "sync/dav_sync.h"
#include "sync/sync_driver.h"

namespace {

enum { RESPONSE_ADD = 1, RESPONSE_SYNC = 2, RESPONSE_REMOVE = 3 };
enum { COL_REPO, COL_URL, COL_USER, COL_LAST, COL_REPO_INDEX, N_COLS };

struct AccountsDialog {
  GtkWidget* dialog = nullptr;
  GtkWidget* view = nullptr;
  GtkWidget* empty = nullptr;  // the line shown instead of an empty list
  GtkWidget* list = nullptr;   // the scrolled list
  GtkListStore* store = nullptr;
};

std::string repo_name(int repo) {
  if (repo < 0 || static_cast<size_t>(repo) >= repo_table().size()) return "";
  return repo_table()[static_cast<size_t>(repo)].name;
}

// The selected account's repository table index, or -1.
int selected_repo(AccountsDialog* a) {
  GtkTreeModel* m = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(a->view)), &m, &it)) return -1;
  int repo = -1;
  gtk_tree_model_get(m, &it, COL_REPO_INDEX, &repo, -1);
  return repo;
}

void on_selection(GtkTreeSelection*, gpointer p) {
  auto* a = static_cast<AccountsDialog*>(p);
  bool has = selected_repo(a) >= 0;
  gtk_dialog_set_response_sensitive(GTK_DIALOG(a->dialog), RESPONSE_SYNC, has);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(a->dialog), RESPONSE_REMOVE, has);
}

// Fills the list and selects the row of `select_repo` (else the first).
void fill(AccountsDialog* a, int select_repo) {
  std::vector<DavAccountRow> rows;
  if (dav_account_list(&rows) != 0) log_message(LOG_ERROR, "dav_accounts_dialog: listing failed");
  gtk_list_store_clear(a->store);
  GtkTreeIter chosen;
  bool have = false;
  for (const DavAccountRow& r : rows) {
    GtkTreeIter it;
    gtk_list_store_insert_with_values(a->store, &it, -1, COL_REPO, repo_name(r.repo).c_str(), COL_URL, r.url.c_str(),
                                      COL_USER, r.user.c_str(), COL_LAST, dav_last_sync_text(r.last_sync).c_str(),
                                      COL_REPO_INDEX, r.repo, -1);
    if (!have || r.repo == select_repo) chosen = it;
    have = true;
  }
  gtk_widget_set_visible(a->empty, rows.empty());
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(a->view));
  if (have) gtk_tree_selection_select_iter(sel, &chosen);
  on_selection(sel, a);
}

// The question before an account goes: Cancel is the default, the removal
// is styled as destructive, and the repository stays unless the user also
// asks for it to go.
bool ask_remove(const std::string& name, bool* delete_repo) {
  GtkWidget* also = gtk_check_button_new_with_label(ui_text(STR_DAV_REMOVE_DELETE_REPO));
  gtk_widget_set_name(also, "dav-delete-repo");
  g_object_ref_sink(also);
  SafeQuestion q;
  q.title_id = STR_DAV_ACCOUNTS;
  q.primary = ui_format(STR_DAV_ASK_REMOVE, name.c_str());
  q.secondary = ui_string_line(STR_DAV_ASK_REMOVE_DETAIL);
  q.cancel_id = STR_DAV_BUTTON_CANCEL;
  q.yes_id = STR_DAV_BUTTON_REMOVE_ACCOUNT;
  q.destructive = true;
  q.extra = also;
  bool yes = ask_safe_default(q);
  *delete_repo = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(also));
  g_object_unref(also);
  return yes;
}

// True when the account went.
bool remove_account(int repo) {
  DavAccountRow row;
  if (dav_account_find(repo, &row) != 0) return false;
  bool delete_repo = false;
  if (!ask_remove(repo_name(repo), &delete_repo)) return false;
  // The account first: a repository that stays is then a local one.
  int rc = dav_account_remove(row.number);
  log_message(LOG_INFO, "remove_account: %lld %d: %d", static_cast<long long>(row.number), delete_repo ? 1 : 0, rc);
  if (rc != 0) {
    show_message(STR_DAV_ACCOUNTS, STR_DAV_REMOVE_FAILED);
    return false;
  }
  if (delete_repo && (rc = repo_delete(repo)) != 0) {
    log_message(LOG_ERROR, "remove_account: repository %d: %d", repo, rc);
    show_message(STR_DAV_ACCOUNTS, error_message_id(rc));
  }
  return true;
}

void build(AccountsDialog* a) {
  a->dialog = dialog_new(STR_DAV_ACCOUNTS);
  gtk_window_set_default_size(GTK_WINDOW(a->dialog), 640, 300);
  GtkWidget* remove = dialog_add_button(a->dialog, STR_DAV_BUTTON_REMOVE, RESPONSE_REMOVE);
  button_set_destructive(remove);
  // Apart from the others, at the far end: no slip of the pointer reaches it.
  GtkWidget* area = gtk_widget_get_parent(remove);
  if (GTK_IS_BUTTON_BOX(area)) gtk_button_box_set_child_secondary(GTK_BUTTON_BOX(area), remove, TRUE);
  dialog_add_button(a->dialog, STR_DAV_BUTTON_SYNC, RESPONSE_SYNC);
  dialog_add_button(a->dialog, STR_DAV_BUTTON_ADD, RESPONSE_ADD);
  dialog_add_button(a->dialog, STR_DAV_BUTTON_CLOSE, GTK_RESPONSE_CLOSE);
  gtk_dialog_set_default_response(GTK_DIALOG(a->dialog), GTK_RESPONSE_CLOSE);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(box), 10);
  a->empty = gtk_label_new(ui_string(STR_DAV_NO_ACCOUNTS));
  gtk_label_set_line_wrap(GTK_LABEL(a->empty), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(a->empty), 60);
  gtk_style_context_add_class(gtk_widget_get_style_context(a->empty), GTK_STYLE_CLASS_DIM_LABEL);
  gtk_widget_set_no_show_all(a->empty, TRUE);
  gtk_box_pack_start(GTK_BOX(box), a->empty, FALSE, FALSE, 0);

  a->store = gtk_list_store_new(N_COLS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT);
  a->view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(a->store));
  g_object_unref(a->store);
  gtk_widget_set_name(a->view, "dav-accounts");
  const struct {
    StrId title;
    int column;
    bool expand;
  } columns[] = {{STR_DAV_COLUMN_REPOSITORY, COL_REPO, false},
                 {STR_DAV_COLUMN_ADDRESS, COL_URL, true},
                 {STR_DAV_COLUMN_USER, COL_USER, false},
                 {STR_DAV_COLUMN_LAST_SYNC, COL_LAST, false}};
  for (const auto& c : columns) {
    GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(ui_string(c.title), gtk_cell_renderer_text_new(),
                                                                      "text", c.column, nullptr);
    gtk_tree_view_column_set_expand(col, c.expand);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(a->view), col);
  }
  g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(a->view)), "changed", G_CALLBACK(on_selection), a);
  a->list = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(a->list), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(a->list), a->view);
  gtk_box_pack_start(GTK_BOX(box), a->list, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(a->dialog))), box, TRUE, TRUE, 0);
}

}  // namespace

bool dav_accounts_dialog() {
  AccountsDialog a;
  build(&a);
  gtk_widget_show_all(a.dialog);
  fill(&a, -1);
  gtk_widget_grab_focus(a.view);
  bool changed = false;
  {
    ModalScope scope(a.dialog);
    for (;;) {
      int r = scope.run();
      int repo = selected_repo(&a);
      if (r == RESPONSE_ADD) {
        int added = -1;
        int rc = dav_add_account(&added);
        if (rc != 1) changed = true;
        if (rc == 0) dav_sync_dialog(added, false);  // the first sync pulls everything
        fill(&a, added);
      } else if (r == RESPONSE_SYNC && repo >= 0) {
        dav_sync_dialog(repo, false);
        changed = true;
        fill(&a, repo);
      } else if (r == RESPONSE_REMOVE && repo >= 0) {
        if (remove_account(repo)) {
          changed = true;
          fill(&a, -1);
        }
      } else if (r != RESPONSE_SYNC && r != RESPONSE_REMOVE) {
        break;
      }
    }
  }
  gtk_widget_destroy(a.dialog);
  return changed;
}

int dav_sync_dialog(int repo, bool quiet, DavSyncSummary* summary) {
  DavSyncSession sync;
  std::string name = repo_name(repo);
  int rc = dav_sync_setup(&sync, repo);
  if (rc != 0) {
    log_message(LOG_ERROR, "dav_sync_dialog: setup %d: %d", repo, rc);
    if (!quiet) show_message_text(STR_SYNCHRONISE, ui_format(STR_DAV_SYNC_FAILED, name.c_str(),
                                                              sync.summary.message.c_str()));
    if (summary) *summary = sync.summary;
    return rc;
  }
  auto outcome = [&](const SyncSummary& sum) {
    SyncOutcome out;
    if (sum.result == 0) {
      out.text = dav_summary_text(sync.summary);
      // Conflicts are worth reading; plain counts go by themselves.
      out.stay = !quiet && sync.summary.conflicts > 0;
    } else {
      out.text = ui_format(STR_DAV_SYNC_FAILED, name.c_str(), dav_failure_text(sync.summary, sum.result).c_str());
      out.stay = !quiet;
    }
    return out;
  };
  log_message(LOG_INFO, "dav_sync_dialog: %d%s", repo, quiet ? " (timer)" : "");
  int result = sync_dialog_run([&](SyncDriver* d) { dav_sync_begin(d, &sync); }, name.c_str(), outcome);
  if (summary) *summary = sync.summary;
  return result;
}
