"""A stand-in StatusNotifierWatcher with a host, as a KDE or AppIndicator panel offers.

Writes to the file named by its argument, for each item that registers:
    item <bus name> <object path>
    id <Id>
    menu <label>|<type>|<visible>     one line for each top-level entry of its menu
    end
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
out = open(sys.argv[1], "w", buffering=1)

WATCHER = "org.kde.StatusNotifierWatcher"


class Watcher(dbus.service.Object):
    def __init__(self):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # An item names either its own bus name or an object path on the caller's.
        path = service if service.startswith("/") else "/StatusNotifierItem"
        name = sender if service.startswith("/") else service
        self.items.append(name + path)
        self.ItemRegistered(name + path)
        GLib.timeout_add(200, self.describe, name, path, [20])

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def ItemRegistered(self, service):
        pass

    def properties(self):
        return {
            "IsStatusNotifierHostRegistered": True,
            "ProtocolVersion": dbus.Int32(0),
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
        }

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, iface, prop):
        return self.properties()[prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, iface):
        return self.properties()

    # Qt looks for the host property in the introspection data before it offers its icon
    # here; without it, it decides that there is no tray.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return """<node><interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
<signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
</interface></node>"""

    def describe(self, name, path, tries):
        # The item may export its menu a moment after registering: asked again until it has one.
        try:
            item = bus.get_object(name, path)
            props = item.GetAll("org.kde.StatusNotifierItem", dbus_interface=dbus.PROPERTIES_IFACE)
            menu = bus.get_object(name, props["Menu"])
            _, layout = menu.GetLayout(0, -1, [], dbus_interface="com.canonical.dbusmenu")
        except dbus.DBusException as e:
            props, layout = None, None
            error = str(e)
        tries[0] -= 1
        if (layout is None or not layout[2]) and tries[0] > 0:
            return True
        out.write("item %s %s\n" % (name, path))
        if props is None:
            out.write("error %s\n" % error)
        else:
            out.write("id %s\n" % props.get("Id", ""))
            for child in layout[2]:
                p = child[1]
                out.write("menu %s|%s|%s\n" % (p.get("label", ""), p.get("type", ""),
                                               bool(p.get("visible", True))))
        out.write("end\n")
        return False


# The name is taken once the object answers, so whoever sees the name can use it.
watcher = Watcher()
bus.request_name(WATCHER)
GLib.MainLoop().run()
