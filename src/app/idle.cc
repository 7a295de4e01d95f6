// SPDX-License-Identifier: GPL-3.0-or-later
// The idle timeout: after the configured minutes without user input the
// program quits, which locks every repository behind the master password
// again. The user's idle time comes from the X screen-saver extension,
// loaded at run time so that the program starts without it.
#include <dlfcn.h>
#include <gdk/gdkx.h>

#include "app/main_window.h"
#include "app/startup.h"
#include "app/timers.h"
#include "app/window.h"
#include "dialogs/modal.h"
#include "model/app_core.h"
#include "support/log.h"

namespace {

// XScreenSaverInfo of <X11/extensions/scrnsaver.h>, whose development
// package the program does not need.
struct XssInfo {
  Window window;
  int state;
  int kind;
  unsigned long til_or_since;
  unsigned long idle;  // milliseconds
  unsigned long event_mask;
};
using XssQueryInfo = int (*)(Display*, Drawable, XssInfo*);

// The library is loaded into the process once, whichever window asks.
struct IdleLib {
  void* handle = nullptr;
  XssQueryInfo query = nullptr;
  bool off_logged = false;
  bool query_failed_logged = false;
};

IdleLib& lib() {
  static IdleLib l;
  return l;
}

void log_off(const char* why) {
  IdleLib& l = lib();
  if (l.off_logged) return;
  l.off_logged = true;
  log_message(LOG_WARNING, "%s", why);
}

int64_t x_idle_ms() {
  IdleLib& l = lib();
  GdkDisplay* d = gdk_display_get_default();
  if (!l.query || !d || !GDK_IS_X11_DISPLAY(d)) return -1;
  XssInfo info{};
  if (!l.query(gdk_x11_display_get_xdisplay(d), gdk_x11_get_default_root_xwindow(), &info)) {
    if (!l.query_failed_logged) log_message(LOG_WARNING, "idle_query: the X server does not answer");
    l.query_failed_logged = true;
    return -1;
  }
  return static_cast<int64_t>(info.idle);
}

// The user's idle seconds; 0 when they cannot be known (the timer then
// waits another full period).
int64_t idle_seconds(const MainWindow* w) {
  IdleQueryFn q = w->timers.idle.query;
  int64_t ms = q ? q() : -1;
  return ms > 0 ? ms / 1000 : 0;
}

gboolean on_idle_timer(gpointer data);

void idle_arm(MainWindow* w, int64_t delay) {
  IdleTimer& st = w->timers.idle;
  if (st.source) g_source_remove(st.source);
  if (delay < 1) delay = 1;
  st.delay = delay;
  st.source = g_timeout_add_seconds(static_cast<guint>(delay), on_idle_timer, w);
}

gboolean on_idle_timer(gpointer data) {
  auto* w = static_cast<MainWindow*>(data);
  w->timers.idle.source = 0;
  idle_timer_fire(w);
  return G_SOURCE_REMOVE;
}

}  // namespace

int64_t idle_next_delay(int minutes, int64_t idle_seconds) {
  if (minutes <= 0) return -1;
  int64_t limit = static_cast<int64_t>(minutes) * 60;
  if (idle_seconds < 0) idle_seconds = 0;
  return idle_seconds >= limit ? 0 : limit - idle_seconds;
}

bool idle_probe(MainWindow* w, const std::vector<std::string>& names) {
  IdleTimer& st = w->timers.idle;
  if (st.probed) return st.query != nullptr;
  st.probed = true;
  GdkDisplay* d = gdk_display_get_default();
  if (!d || !GDK_IS_X11_DISPLAY(d)) {
    // Wayland keeps the idle time from programs; the compositor locks.
    log_off("idle_probe: no X display, the idle timeout is off");
    return false;
  }
  IdleLib& l = lib();
  // The versioned name first: the bare one exists only with the
  // development package.
  std::vector<std::string> tried = names.empty() ? std::vector<std::string>{"libXss.so.1", "libXss.so"} : names;
  for (const std::string& name : tried) {
    void* h = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!h) continue;
    if (void* sym = dlsym(h, "XScreenSaverQueryInfo")) {
      l.handle = h;
      l.query = reinterpret_cast<XssQueryInfo>(sym);
      break;
    }
    dlclose(h);
  }
  if (!l.query) {
    log_off("No X11 Screen Saver extension");
    return false;
  }
  st.query = x_idle_ms;
  return true;
}

void idle_timer_fire(MainWindow* w) {
  IdleTimer& st = w->timers.idle;
  if (st.source) g_source_remove(st.source);
  st.source = 0;
  // Read afresh: a timeout switched off in the options ends the chain.
  int64_t idle = idle_seconds(w);
  int64_t delay = idle_next_delay(app_core().settings.idle_timeout, idle);
  if (delay > 0) {
    idle_arm(w, delay);
    return;
  }
  st.delay = -1;
  if (delay < 0) return;
  GtkWindow* top = top_window();
  if (top && top != GTK_WINDOW(w->window)) {
    // A question (discard the changes?) is the user's to answer: the
    // timeout waits for the next period rather than decide it.
    if (GTK_IS_MESSAGE_DIALOG(top)) {
      GtkMessageType type = GTK_MESSAGE_INFO;
      g_object_get(top, "message-type", &type, nullptr);
      if (type == GTK_MESSAGE_QUESTION) {
        log_message(LOG_NOTICE, "idle_timer_fire: a question is open");
        idle_arm(w, static_cast<int64_t>(app_core().settings.idle_timeout) * 60);
        return;
      }
    }
    // Any other dialog closes as its cancel button would; the next look
    // follows in a second.
    if (GTK_IS_DIALOG(top)) gtk_dialog_response(GTK_DIALOG(top), GTK_RESPONSE_CANCEL);
    idle_arm(w, 1);
    return;
  }
  log_message(LOG_MARK, "Idle timeout: %lld", static_cast<long long>(idle));
  (st.quit ? st.quit : app_request_quit)(w);
}

void idle_start(MainWindow* w) {
  if (!idle_probe(w)) return;
  int minutes = app_core().settings.idle_timeout;
  if (minutes > 0) idle_arm(w, static_cast<int64_t>(minutes) * 60);
}

void idle_rearm(MainWindow* w) {
  IdleTimer& st = w->timers.idle;
  if (st.source) g_source_remove(st.source);
  st.source = 0;
  st.delay = -1;
  if (!idle_probe(w)) return;
  int64_t delay = idle_next_delay(app_core().settings.idle_timeout, idle_seconds(w));
  if (delay >= 0) idle_arm(w, delay);
}

void idle_reset(MainWindow* w) {
  IdleTimer& st = w->timers.idle;
  IdleLib& l = lib();
  if (st.source) g_source_remove(st.source);
  st.source = 0;
  st.query = nullptr;
  st.probed = false;
  l.query = nullptr;
  if (l.handle) dlclose(l.handle);
  l.handle = nullptr;
  l.off_logged = false;
  l.query_failed_logged = false;
}
