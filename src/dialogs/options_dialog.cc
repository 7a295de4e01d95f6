// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/options_dialog.h"

#include <gtk/gtk.h>
#include <sys/stat.h>

#include <string>

#include "dialogs/layout.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "model/app_core.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

const int kUpcomingDays[] = {1, 2, 3, 4, 5, 7, 10, 14};
const int kIdleMinutes[] = {0, 1, 2, 3, 5, 10, 15, 20, 25, 30};
enum { LANGUAGES = 5, MAX_ROOT_LEN = 4078 };

// The first entry not below the stored value; above the last, the last.
template <size_t N>
int list_index(const int (&values)[N], int stored) {
  for (size_t i = 0; i < N; i++)
    if (values[i] >= stored) return static_cast<int>(i);
  return static_cast<int>(N) - 1;
}

template <size_t N>
int list_value(const int (&values)[N], GtkWidget* combo) {
  int i = gtk_combo_box_get_active(GTK_COMBO_BOX(combo));
  if (i < 0 || static_cast<size_t>(i) >= N) i = 0;
  return values[i];
}

struct Options {
  GtkWidget* dialog = nullptr;
  GtkWidget* root = nullptr;
};

void on_idle_changed(GtkComboBox* combo, gpointer unit) {
  count_unit_label_update(static_cast<GtkWidget*>(unit), list_value(kIdleMinutes, GTK_WIDGET(combo)));
}

void on_root_changed(GtkEditable* e, gpointer d) {
  gtk_dialog_set_response_sensitive(GTK_DIALOG(d), GTK_RESPONSE_OK, *gtk_entry_get_text(GTK_ENTRY(e)) != 0);
}

void on_browse(GtkButton*, gpointer p) {
  auto* o = static_cast<Options*>(p);
  GtkWidget* fc = gtk_file_chooser_dialog_new(ui_string(STR_SELECT_REPOSITORY_FOLDER), GTK_WINDOW(o->dialog),
                                              GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, ui_string(STR_CANCEL),
                                              GTK_RESPONSE_CANCEL, ui_string(STR_SELECT), GTK_RESPONSE_ACCEPT, nullptr);
  const char* now = gtk_entry_get_text(GTK_ENTRY(o->root));
  if (*now) gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(fc), now);
  {
    ModalScope scope(fc);
    if (scope.run() == GTK_RESPONSE_ACCEPT) {
      gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(fc));
      if (folder && *folder) gtk_entry_set_text(GTK_ENTRY(o->root), folder);
      g_free(folder);
    }
  }
  gtk_widget_destroy(fc);
}

bool folder_ok(const std::string& path) {
  struct stat st;
  return path.size() <= MAX_ROOT_LEN && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void store_int(const char* name, int value) {
  if (setting_put_int(config_db(), name, value) != 0) log_message(LOG_ERROR, "options_dialog: storing %s failed", name);
}

}  // namespace

bool options_dialog(const std::function<void()>& relabel) {
  AppCore& a = app_core();
  Settings& s = a.settings;
  Options o;
  o.dialog = dialog_new(STR_OPTIONS);
  dialog_add_button(o.dialog, STR_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(o.dialog, STR_OK, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(o.dialog), GTK_RESPONSE_OK);

  GtkWidget* notebook = gtk_notebook_new();
  gtk_container_set_border_width(GTK_CONTAINER(notebook), 5);

  GtkWidget* grid = form_grid_new();
  GtkWidget* language =
      combo_from_list(ui_string(STR_LANGUAGE_LIST), s.language >= 0 && s.language < LANGUAGES ? s.language : 0);
  gtk_widget_set_name(language, "language");
  form_row(grid, 0, STR_LANGUAGE, language);
  GtkWidget* alert = gtk_check_button_new();
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(alert), s.new_reminders_alert != 0);
  form_row(grid, 1, STR_ALERT_REMINDERS, alert);
  GtkWidget* upcoming = combo_from_list(ui_string(STR_UPCOMING_DAYS_LIST), list_index(kUpcomingDays, s.upcoming_days));
  gtk_widget_set_name(upcoming, "upcoming");
  form_row(grid, 2, STR_UPCOMING_DAYS, upcoming);
  std::string old_root = setting_get(config_db(), "repo_root");
  o.root = gtk_entry_new();
  gtk_widget_set_name(o.root, "root");
  gtk_entry_set_text(GTK_ENTRY(o.root), old_root.c_str());
  gtk_widget_set_hexpand(o.root, TRUE);
  GtkWidget* browse = button_new(STR_BROWSE);
  form_row(grid, 3, STR_REPOSITORY_FOLDER, button_row({o.root, browse}));
  set_accessible_name(o.root, STR_REPOSITORY_FOLDER);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), grid, gtk_label_new(ui_string(STR_PAGE_GENERAL)));

  GtkWidget* grid2 = form_grid_new();
  GtkWidget* idle = combo_from_list(ui_string(STR_IDLE_TIMEOUT_LIST), list_index(kIdleMinutes, s.idle_timeout));
  gtk_widget_set_name(idle, "idle");
  form_row(grid2, 0, STR_IDLE_TIMEOUT, idle);
  GtkWidget* idle_unit = count_unit_label_new(STR_UNIT_MINUTE, list_value(kIdleMinutes, idle));
  gtk_grid_attach(GTK_GRID(grid2), idle_unit, 2, 0, 1, 1);
  g_signal_connect(idle, "changed", G_CALLBACK(on_idle_changed), idle_unit);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), grid2, gtk_label_new(ui_string(STR_PAGE_SECURITY)));

  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(o.dialog))), notebook, FALSE, FALSE, 5);
  g_signal_connect(o.root, "changed", G_CALLBACK(on_root_changed), o.dialog);
  g_signal_connect(browse, "clicked", G_CALLBACK(on_browse), &o);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(o.dialog), GTK_RESPONSE_OK, !old_root.empty());
  gtk_widget_show_all(o.dialog);

  bool accepted = false;
  int old_language = s.language;
  {
    ModalScope scope(o.dialog);
    while (scope.run() == GTK_RESPONSE_OK) {
      std::string root = gtk_entry_get_text(GTK_ENTRY(o.root));
      if (root.empty()) continue;
      if (root != old_root) {
        if (!folder_ok(root)) {
          show_message(STR_APP_NAME, STR_MSG_REPO_ROOT_MISSING);
          continue;
        }
        if (setting_put_str(config_db(), "repo_root", root.c_str()) != 0) {
          log_message(LOG_ERROR, "options_dialog: storing repo_root failed");
          show_message(STR_APP_NAME, STR_MSG_REPO_ROOT_MISSING);
          continue;
        }
        a.repo_root = root;
      }
      int lang = gtk_combo_box_get_active(GTK_COMBO_BOX(language));
      s.language = lang >= 0 && lang < LANGUAGES ? lang : 0;
      s.new_reminders_alert = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(alert)) ? 1 : 0;
      s.upcoming_days = list_value(kUpcomingDays, upcoming);
      s.idle_timeout = list_value(kIdleMinutes, idle);
      store_int("ui.language", s.language);
      store_int("ui.new_reminders_alert", s.new_reminders_alert);
      store_int("ui.upcoming_days", s.upcoming_days);
      store_int("ui.idle_timeout", s.idle_timeout);
      accepted = true;
      break;
    }
  }
  gtk_widget_destroy(o.dialog);
  if (accepted && s.language != old_language) {
    strings_set_language(s.language);
    if (relabel) relabel();
  }
  return accepted;
}
