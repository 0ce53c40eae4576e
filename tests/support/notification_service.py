"""A stand-in desktop notification service for tests.

notification_service.py RECORD answer|silent

Owns org.freedesktop.Notifications on the session bus ($DBUS_SESSION_BUS_ADDRESS), creates RECORD
once it does, and appends one line "application<TAB>summary<TAB>body" per Notify call before it
answers; "silent" keeps every call unanswered.
"""
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

INTERFACE = Gio.DBusNodeInfo.new_for_xml("""
<node><interface name="org.freedesktop.Notifications"><method name="Notify">
  <arg direction="in" type="s"/><arg direction="in" type="u"/><arg direction="in" type="s"/>
  <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="in" type="as"/>
  <arg direction="in" type="a{sv}"/><arg direction="in" type="i"/>
  <arg direction="out" type="u"/>
</method></interface></node>""").interfaces[0]

record, mode = sys.argv[1], sys.argv[2]
unanswered = []


def on_call(connection, sender, path, interface, method, parameters, invocation):
    application, _, _, summary, body = parameters.unpack()[:5]
    with open(record, "a", encoding="utf-8") as out:
        out.write(f"{application}\t{summary}\t{body}\n")
    if mode == "silent":
        unanswered.append(invocation)
    else:
        invocation.return_value(GLib.Variant("(u)", (1,)))


def on_bus(connection, name):
    connection.register_object("/org/freedesktop/Notifications", INTERFACE, on_call, None, None)


def on_name(connection, name):
    open(record, "a", encoding="utf-8").close()


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                 Gio.BusNameOwnerFlags.NONE, on_bus, on_name, lambda *_: sys.exit(1))
GLib.MainLoop().run()
