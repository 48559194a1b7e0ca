#!/usr/bin/env python3
"""A stand-in status notifier watcher on the session bus: it owns
org.kde.StatusNotifierWatcher at /StatusNotifierWatcher, takes items'
registrations, and reports on standard output, one line each:

  ready
  registered <bus name> <object path>
  gone <bus name>          (an item's bus name left the bus)
"""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IFACE = 'org.kde.StatusNotifierWatcher'


def say(line):
    print(line, flush=True)


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, '/StatusNotifierWatcher')
        self.bus = bus
        self.items = []
        bus.add_signal_receiver(self.owner_changed, 'NameOwnerChanged', 'org.freedesktop.DBus')

    def owner_changed(self, name, old, new):
        for item in list(self.items):
            if item.split('/')[0] == name and not new:
                self.items.remove(item)
                say(f'gone {name}')
                self.StatusNotifierItemUnregistered(item)

    @dbus.service.method(IFACE, in_signature='s', sender_keyword='sender')
    def RegisterStatusNotifierItem(self, service, sender=None):
        path = service if service.startswith('/') else '/StatusNotifierItem'
        self.items.append(sender + path)
        say(f'registered {sender} {path}')
        self.StatusNotifierItemRegistered(sender + path)

    @dbus.service.method(IFACE, in_signature='s')
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(IFACE, signature='s')
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(IFACE, signature='s')
    def StatusNotifierItemUnregistered(self, item):
        pass

    def properties(self):
        return {'RegisteredStatusNotifierItems': dbus.Array(self.items, signature='s'),
                'IsStatusNotifierHostRegistered': True, 'ProtocolVersion': dbus.Int32(0)}

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.properties()[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.properties()


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    name = dbus.service.BusName(IFACE, bus)
    say('ready')
    GLib.MainLoop().run()
    del watcher, name


if __name__ == '__main__':
    sys.exit(main())
