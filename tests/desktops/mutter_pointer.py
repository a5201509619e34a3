#!/usr/bin/env python3
"""A pointer for the tests on a headless mutter, which has no input
device: a remote desktop session of mutter's own (its private interface,
for the tests only), driven by lines on standard input:

  click X Y [BUTTON]   move there and click (1 left, 3 right)
  move X Y             move there
  press BUTTON | release BUTTON
  sync                 answers "synced N" once the compositor has taken
                       everything before

Relative motion only (absolute motion wants a screen cast stream): each
move goes to the top-left corner first, where the pointer stops, then by
the point's offset. Prints "ready" once the session runs."""
import sys

from gi.repository import Gio, GLib

BUTTONS = {"1": 0x110, "2": 0x112, "3": 0x111}


def call(proxy, method, args=None):
    return proxy.call_sync(method, args, Gio.DBusCallFlags.NONE, 5000, None)


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    rd = Gio.DBusProxy.new_sync(
        bus, Gio.DBusProxyFlags.DO_NOT_LOAD_PROPERTIES, None,
        "org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
        "org.gnome.Mutter.RemoteDesktop", None)
    path = call(rd, "CreateSession").unpack()[0]
    session = Gio.DBusProxy.new_sync(
        bus, Gio.DBusProxyFlags.DO_NOT_LOAD_PROPERTIES, None,
        "org.gnome.Mutter.RemoteDesktop", path,
        "org.gnome.Mutter.RemoteDesktop.Session", None)
    call(session, "Start")

    def move(x, y):
        call(session, "NotifyPointerMotionRelative",
             GLib.Variant("(dd)", (-20000.0, -20000.0)))
        call(session, "NotifyPointerMotionRelative",
             GLib.Variant("(dd)", (float(x), float(y))))

    def button(name, down):
        call(session, "NotifyPointerButton",
             GLib.Variant("(ib)", (BUTTONS.get(name, 0x110), down)))

    syncs = 0
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "click" and len(words) >= 3:
            move(words[1], words[2])
            name = words[3] if len(words) > 3 else "1"
            button(name, True)
            button(name, False)
        elif words[0] == "move" and len(words) == 3:
            move(words[1], words[2])
        elif words[0] in ("press", "release") and len(words) == 2:
            button(words[1], words[0] == "press")
        elif words[0] == "sync":
            # A method call answered after the ones before it.
            call(session, "NotifyPointerMotionRelative",
                 GLib.Variant("(dd)", (0.0, 0.0)))
            syncs += 1
            print("synced %d" % syncs, flush=True)
    call(session, "Stop")


if __name__ == "__main__":
    main()
