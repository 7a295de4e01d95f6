// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications through org.freedesktop.Notifications over GDBus.
// Every call is asynchronous so that a slow or missing service never stalls
// the window; the titles sent stay out of the log.
#include "app/desktop_notify.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "support/local_dates.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

const char kName[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";

struct Notifier {
  GDBusConnection* bus = nullptr;    // owned reference: the connection in use
  bool bus_tried = false;
  bool override = false;             // desktop_notify_use_bus
  GDBusConnection* given = nullptr;  // owned reference
  guint action_sub = 0;
  guint closed_sub = 0;
  std::map<guint32, std::array<uint8_t, 16>> open;  // notification id -> item
  NotifyOpenFn on_open = nullptr;
  void* data = nullptr;
  int failures = 0;
  int generation = 0;  // replies of a dropped connection are ignored
};

Notifier& notifier() {
  static Notifier n;
  return n;
}

void failed(const char* what) {
  Notifier& n = notifier();
  if (n.failures++ == 0) log_message(LOG_WARNING, "desktop_notify: %s", what);
}

void on_signal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal, GVariant* params,
               gpointer) {
  Notifier& n = notifier();
  if (strcmp(signal, "ActionInvoked") == 0 && g_variant_is_of_type(params, G_VARIANT_TYPE("(us)"))) {
    guint32 id = 0;
    const gchar* action = nullptr;
    g_variant_get(params, "(u&s)", &id, &action);
    auto it = n.open.find(id);
    if (it == n.open.end() || strcmp(action, "default") != 0) return;
    std::array<uint8_t, 16> uuid = it->second;
    n.open.erase(it);
    if (n.on_open) n.on_open(uuid.data(), n.data);
  } else if (strcmp(signal, "NotificationClosed") == 0 && g_variant_is_of_type(params, G_VARIANT_TYPE("(uu)"))) {
    guint32 id = 0, reason = 0;
    g_variant_get(params, "(uu)", &id, &reason);
    n.open.erase(id);
  }
}

// No address in the environment and no bus at the usual place: asking GLib
// for the session bus would autolaunch one for the X display instead.
bool session_bus_known() {
  const char* addr = getenv("DBUS_SESSION_BUS_ADDRESS");
  if (addr && *addr) return true;
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return false;
  std::string path = std::string(runtime) + "/bus";
  return g_file_test(path.c_str(), G_FILE_TEST_EXISTS);
}

GDBusConnection* bus() {
  Notifier& n = notifier();
  if (!n.bus && !n.bus_tried) {
    n.bus_tried = true;
    if (n.override) {
      if (n.given) n.bus = G_DBUS_CONNECTION(g_object_ref(n.given));
      else failed("no bus");
    } else if (!session_bus_known()) {
      failed("no session bus");
    } else {
      GError* err = nullptr;
      n.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
      if (!n.bus) failed(err ? err->message : "no session bus");
      g_clear_error(&err);
    }
  }
  if (n.bus && !n.action_sub) {
    n.action_sub = g_dbus_connection_signal_subscribe(n.bus, nullptr, kName, "ActionInvoked", kPath, nullptr,
                                                      G_DBUS_SIGNAL_FLAGS_NONE, on_signal, nullptr, nullptr);
    n.closed_sub = g_dbus_connection_signal_subscribe(n.bus, nullptr, kName, "NotificationClosed", kPath, nullptr,
                                                      G_DBUS_SIGNAL_FLAGS_NONE, on_signal, nullptr, nullptr);
  }
  return n.bus;
}

struct Pending {
  int generation;
  std::array<uint8_t, 16> uuid;
};

void on_notify_reply(GObject* source, GAsyncResult* res, gpointer data) {
  auto* p = static_cast<Pending*>(data);
  Notifier& n = notifier();
  GError* err = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &err);
  if (!reply) {
    if (p->generation == n.generation) failed(err ? err->message : "no reply");
    g_clear_error(&err);
  } else {
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    if (p->generation == n.generation && id != 0) n.open[id] = p->uuid;
  }
  delete p;
}

std::string time_text(int64_t when) {
  return when <= 0 ? std::string() : shown_date_time(when, DATE_SHORT);
}

}  // namespace

void desktop_notify_set_open(NotifyOpenFn fn, void* data) {
  Notifier& n = notifier();
  n.on_open = fn;
  n.data = data;
}

int desktop_notify_item(const uint8_t uuid[16], const char* title, int64_t when) {
  GDBusConnection* c = bus();
  if (!c) return -1;
  Notifier& n = notifier();
  // Servers that speak markup read the body as such: the text is escaped.
  gchar* body = g_markup_escape_text(time_text(when).c_str(), -1);
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  g_variant_builder_add(&actions, "s", "default");
  g_variant_builder_add(&actions, "s", ui_string(STR_OPEN));
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  // The installed desktop file and icon carry the application id.
  g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("org.ordika.Ordika"));
  g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
  const char* summary = title && *title ? title : ui_string(STR_APP_NAME);
  GVariant* params = g_variant_new("(susssasa{sv}i)", ui_string(STR_APP_NAME), 0u, "org.ordika.Ordika", summary, body,
                                   &actions, &hints, -1);
  g_free(body);
  auto* p = new Pending{n.generation, {}};
  memcpy(p->uuid.data(), uuid, 16);
  g_dbus_connection_call(c, kName, kPath, kName, "Notify", params, G_VARIANT_TYPE("(u)"),
                         G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, on_notify_reply, p);
  return 0;
}

void desktop_notify_use_bus(GDBusConnection* c) {
  desktop_notify_stop();
  Notifier& n = notifier();
  if (n.given) g_object_unref(n.given);
  n.given = c ? G_DBUS_CONNECTION(g_object_ref(c)) : nullptr;
  n.override = true;
}

void desktop_notify_use_session_bus() {
  desktop_notify_stop();
  Notifier& n = notifier();
  if (n.given) g_object_unref(n.given);
  n.given = nullptr;
  n.override = false;
}

void desktop_notify_stop() {
  Notifier& n = notifier();
  if (n.bus) {
    if (n.action_sub) g_dbus_connection_signal_unsubscribe(n.bus, n.action_sub);
    if (n.closed_sub) g_dbus_connection_signal_unsubscribe(n.bus, n.closed_sub);
    g_object_unref(n.bus);
  }
  n.bus = nullptr;
  n.action_sub = n.closed_sub = 0;
  n.bus_tried = false;
  n.open.clear();
  n.failures = 0;
  n.generation++;
}

int desktop_notify_failures() { return notifier().failures; }
