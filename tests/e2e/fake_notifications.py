#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in for the desktop's notification service on the session bus.

Usage: fake_notifications.py RECORD TRIGGER

Each Notify call is appended to RECORD as a JSON line (RECORD is created
empty once the name is owned). When the file TRIGGER appears, the user's
click on the last notification is played: ActionInvoked with "default".
"""
import json
import os
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
XML = """
<node><interface name='org.freedesktop.Notifications'>
  <method name='Notify'>
    <arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>
    <arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>
    <arg type='a{sv}' direction='in'/><arg type='i' direction='in'/><arg type='u' direction='out'/>
  </method>
  <method name='GetCapabilities'><arg type='as' direction='out'/></method>
  <method name='CloseNotification'><arg type='u' direction='in'/></method>
  <method name='GetServerInformation'>
    <arg type='s' direction='out'/><arg type='s' direction='out'/>
    <arg type='s' direction='out'/><arg type='s' direction='out'/>
  </method>
  <signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>
  <signal name='NotificationClosed'><arg type='u'/><arg type='u'/></signal>
</interface></node>
"""

record, trigger = sys.argv[1], sys.argv[2]
state = {"next": 0, "last": 0}


def on_call(conn, sender, path, iface, method, params, invocation):
    if method == "Notify":
        app, _replaces, _icon, summary, body, actions, _hints, _timeout = params.unpack()
        state["next"] += 1
        state["last"] = state["next"]
        with open(record, "a") as f:
            f.write(json.dumps({"id": state["next"], "app": app, "summary": summary, "body": body,
                                "actions": actions}) + "\n")
        invocation.return_value(GLib.Variant("(u)", (state["next"],)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
    elif method == "GetServerInformation":
        invocation.return_value(GLib.Variant("(ssss)", ("fake", "ordika-tests", "1", "1.2")))
    else:
        invocation.return_value(None)


def poll(conn):
    if os.path.exists(trigger) and state["last"]:
        os.remove(trigger)
        conn.emit_signal(None, PATH, NAME, "ActionInvoked", GLib.Variant("(us)", (state["last"], "default")))
    return True


def main():
    conn = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    info = Gio.DBusNodeInfo.new_for_xml(XML)
    conn.register_object(PATH, info.interfaces[0], on_call, None, None)
    # DBUS_NAME_FLAG_DO_NOT_QUEUE; reply 1 is the primary owner.
    reply = conn.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                           GLib.Variant("(su)", (NAME, 4)), GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, 5000,
                           None)
    if reply.unpack()[0] != 1:
        sys.exit("fake_notifications: the name is taken")
    open(record, "w").close()
    GLib.timeout_add(100, poll, conn)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
