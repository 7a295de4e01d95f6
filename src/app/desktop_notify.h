// SPDX-License-Identifier: GPL-3.0-or-later
// Reminders on the desktop's notification service (org.freedesktop.
// Notifications on the session bus), so that they are seen while the window
// is hidden or on another workspace. Without a service nothing is shown and
// the log says so once.
#pragma once

#include <gio/gio.h>

#include <cstdint>

// Runs on the main loop when the user picks a notification's default action.
using NotifyOpenFn = void (*)(const uint8_t uuid[16], void* data);
void desktop_notify_set_open(NotifyOpenFn fn, void* data);

// Sends a notification with the item's title and the time `when` whose
// default action opens the item. Asynchronous: 0 when it was handed to the
// bus, -1 when there is no session bus.
int desktop_notify_item(const uint8_t uuid[16], const char* title, int64_t when);

// Tests: the connection to use instead of the session bus (a reference is
// taken); nullptr for none at all. Kept until desktop_notify_use_session_bus.
void desktop_notify_use_bus(GDBusConnection* bus);
void desktop_notify_use_session_bus();
// End of the run: drops the connection, the signal subscriptions, the open
// notifications and the failure count.
void desktop_notify_stop();
// Failures since the start of the run; only the first reaches the log.
int desktop_notify_failures();
