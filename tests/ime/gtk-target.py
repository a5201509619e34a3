#!/usr/bin/python3
# A GTK3 text view that types through the input method GTK is given
# (GTK_IM_MODULE), as a user's editor does. Usage: gtk-target.py OUT
# OUT holds the view's whole text after every change, OUT.preedit the
# input method's text not yet committed; a line "focus in" on stdout says
# the view has the keyboard.
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def write(path, text):
    with open(path + ".new", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(path + ".new", path)


def main():
    out = sys.argv[1]
    write(out, "")
    write(out + ".preedit", "")
    window = Gtk.Window(title="Flinto IME target")
    window.set_wmclass("flinto-ime-target", "FlintoImeTarget")
    window.move(40, 40)
    window.set_default_size(600, 300)
    view = Gtk.TextView()
    window.add(view)
    text = view.get_buffer()
    text.connect(
        "changed",
        lambda b: write(out, b.get_text(b.get_start_iter(), b.get_end_iter(), True)),
    )
    view.connect("preedit-changed", lambda v, s: write(out + ".preedit", s))

    def focused(*_):
        print("focus in", flush=True)
        return False

    view.connect("focus-in-event", focused)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    view.grab_focus()
    Gtk.main()


main()
