// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and shutdown of the program.
#include "app/startup.h"

#include <openssl/crypto.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/app_hooks.h"
#include "app/commands.h"
#include "app/instance.h"
#include "app/main_window.h"
#include "app/signals.h"
#include "app/timers.h"
#include "app/window.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/password_prompt.h"
#include "model/app_core.h"
#include "model/model.h"
#include "support/log.h"
#include "support/strings.h"
#include "views/icons_gtk.h"
#include "views/item_list_gtk.h"
#include "views/tag_tree_gtk.h"

namespace {

// Closes the dialog on top, if one runs, as its cancel button would.
void cancel_top_dialog() {
  GtkWindow* top = top_window();
  if (top && GTK_IS_DIALOG(top)) gtk_dialog_response(GTK_DIALOG(top), GTK_RESPONSE_CANCEL);
}

// The quit path waits until no dialog runs: a command that opened one must
// see it end normally before the window goes.
gboolean quit_when_idle(gpointer data) {
  auto* w = static_cast<MainWindow*>(data);
  if (!w->built) return G_SOURCE_REMOVE;
  if (top_window() != GTK_WINDOW(w->window)) {
    cancel_top_dialog();
    return G_SOURCE_CONTINUE;
  }
  main_window_quit(w);
  return G_SOURCE_REMOVE;
}

// A quit signal before the window exists cancels the prompt on screen; the
// start-up then ends as after a cancel. With the window, the quit path.
void on_quit_signal(void* data, int) {
  auto* w = static_cast<MainWindow*>(data);
  bool again = w->quit_requested;
  w->quit_requested = true;
  if (!w->built) {
    cancel_top_dialog();
    return;
  }
  set_program_ending(true);
  if (!again) g_timeout_add(50, quit_when_idle, w);
  quit_when_idle(w);
}

void on_raise_request(void* data) { main_window_present(static_cast<MainWindow*>(data)); }

int ask(const MainWindow* w, StrId headline, StrId text, bool rules, std::string* out) {
  if (w->quit_requested) return 1;
  int rc = rules ? password_prompt(STR_APP_NAME, headline, text, 10, 7, out)
                 : password_prompt_simple(STR_APP_NAME, headline, text, out);
  return w->quit_requested ? 1 : rc;
}

StartupIO dialogs_io(const MainWindow* w) {
  StartupIO io;
  io.ask_password = [w](int, std::string* pw) { return ask(w, STR_ENTER_MASTER_PASSWORD, STR_NONE, false, pw); };
  io.ask_new_password = [w](int, std::string* pw) {
    return ask(w, STR_CHOOSE_MASTER_PASSWORD, STR_PASSWORD_RULES_10, true, pw);
  };
  io.ask_confirmation = [w](int, std::string* pw) {
    return ask(w, STR_REPEAT_MASTER_PASSWORD, STR_NONE, false, pw);
  };
  io.show_message = [w](StrId id) {
    if (!w->quit_requested) show_message(STR_APP_NAME, id);
  };
  return io;
}

int screen_scale() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  return monitor ? gdk_monitor_get_scale_factor(monitor) : 1;
}

void restore_tag_position(MainWindow* w) {
  GtkTreeView* view = GTK_TREE_VIEW(w->tag_tree);
  GtkTreePath* path = tag_tree_selected_row(w->tags);
  if (!path) path = gtk_tree_path_new_first();
  else gtk_tree_view_expand_to_path(view, path);
  gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
  gtk_tree_path_free(path);
  gtk_widget_grab_focus(w->item_list);
}

}  // namespace

void window_start(MainWindow* w) {
  Model& m = model();
  if (icons_load(screen_scale()) != 0) log_message(LOG_WARNING, "window_start: icons missing");
  GList* icons = nullptr;
  if (icon_get(ICON_SLOT_APP)) icons = g_list_append(icons, icon_get(ICON_SLOT_APP));
  if (icon_get(ICON_SLOT_APP_48)) icons = g_list_append(icons, icon_get(ICON_SLOT_APP_48));
  gtk_window_set_default_icon_list(icons);
  g_list_free(icons);

  // Selections made while building are not places to go back to.
  w->navigating = true;
  main_window_create(w);
  w->list_type_shown = -1;
  set_list_type(w, m.fixed_kind);
  tray_create(w);
  restore_tag_position(w);
  w->reminders_shown = -1;
  int64_t now = time(nullptr);
  tray_refresh(w, now);
  if (w->hooks.data_timer_arm) w->hooks.data_timer_arm(w, now);
  notify_install(w);
  nav_push(w);
  w->navigating = false;
  commands_refresh(w);
}

void window_stop(MainWindow* w) {
  notify_remove();
  if (w->window && w->built) {
    w->quitting = true;
    gtk_widget_destroy(w->window);
  }
  w->window = nullptr;
  w->built = false;
  if (w->item_popup) gtk_widget_destroy(w->item_popup);
  w->item_popup = nullptr;
  if (w->tray_menu) gtk_widget_destroy(w->tray_menu);
  w->tray_menu = nullptr;
  if (w->tray) g_object_unref(w->tray);
  w->tray = nullptr;
}

void app_request_quit(MainWindow* w) { on_quit_signal(w, 0); }

int app_main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  MainWindow window;
  MainWindow* w = &window;
  timers_install(w);
  const char* locale = setlocale(LC_ALL, nullptr);
  std::string locale_name = locale ? locale : "C";
  int language = language_from_locale(locale_name.c_str());
  const char* profile = argc > 1 && argv[1][0] ? argv[1] : "Ordika";
  strings_set_language(language);

  // Blocked from the start, so no prompt can be killed halfway; the quit
  // signals come through the main loop instead.
  signals_block_all();
  guint watch = signals_watch_quit(on_quit_signal, w);

  InstanceLock lock;
  const char* home = getenv("HOME");
  if (home && *home && !strchr(profile, '/') && strcmp(profile, ".") != 0 && strcmp(profile, "..") != 0) {
    std::string dir = std::string(home) + "/.config/" + profile;
    int claim = instance_claim(dir, &lock, on_raise_request, w);
    if (claim == INSTANCE_RAISED) {
      fprintf(stderr, "ordika: profile \"%s\" is already open; its window was brought to the front.\n", profile);
      signals_unwatch(watch);
      return 0;
    }
    if (claim == INSTANCE_UNREACHABLE) {
      fprintf(stderr, "ordika: profile \"%s\" is already open in another Ordika, which did not answer.\n",
              profile);
      signals_unwatch(watch);
      return 1;
    }
  }

  int rc = app_startup(profile, nullptr, language, dialogs_io(w));
  if (rc != STARTUP_READY || w->quit_requested) {
    if (rc == STARTUP_READY) app_shutdown();
    instance_release(&lock);
    signals_unwatch(watch);
    log_stop();  // the writer thread owns the last lines
    return rc == STARTUP_READY ? 0 : startup_exit_status(rc);
  }

  window_start(w);
  AppHooks& hooks = w->hooks;
  if (app_core().has_account && hooks.update_check_start) hooks.update_check_start(w);
  if (hooks.idle_start) hooks.idle_start(w);
  gtk_window_set_title(GTK_WINDOW(w->window), ui_string(STR_APP_NAME));
  gtk_widget_show_all(w->window);
  if (!w->quit_requested) gtk_main();

  if (hooks.stop) hooks.stop(w);
  window_stop(w);
  app_shutdown();
  instance_release(&lock);
  signals_unwatch(watch);
  log_stop();
  return 0;
}
