"""notification_service.py RECORD: a stand-in org.freedesktop.Notifications on the session bus.
RECORD is made once the name is ours; each Notify call appends "application<TAB>summary<TAB>body"
to it. Only the first call is answered: the later ones hang, as in a service that is stuck."""
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

INTERFACE = Gio.DBusNodeInfo.new_for_xml(
    "<node><interface name='org.freedesktop.Notifications'><method name='Notify'>"
    + "".join(f"<arg type='{t}'/>" for t in ["s", "u", "s", "s", "s", "as", "a{sv}", "i"])
    + "<arg direction='out' type='u'/></method></interface></node>").interfaces[0]
record = sys.argv[1]
calls = []


def on_call(connection, sender, path, interface, method, parameters, invocation):
    application, _, _, summary, body = parameters.unpack()[:5]
    with open(record, "a", encoding="utf-8") as out:
        out.write(f"{application}\t{summary}\t{body}\n")
    calls.append(invocation)  # kept, so that the later ones stay unanswered
    if len(calls) == 1:
        invocation.return_value(GLib.Variant("(u)", (1,)))


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                 lambda bus, _: bus.register_object("/org/freedesktop/Notifications", INTERFACE,
                                                    on_call, None, None),
                 lambda *_: open(record, "a").close(), lambda *_: sys.exit(1))
GLib.MainLoop().run()
