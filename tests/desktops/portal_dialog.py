#!/usr/bin/env python3
"""Answers the desktop portal's "Remote desktop" dialog as a user would,
through the accessibility bus: "share" turns on "Allow remote interaction",
waits until Share can be pressed and presses it; "cancel" presses Cancel.
Waits at most SECONDS (wall clock) for the dialog. Exit status 0 when
answered, 1 when no dialog came. "indicator" prints the screen point of
the middle of GNOME Shell's "Stop Screen Sharing" button ("X Y"), which
has no action to press: a pointer clicks it.

usage: portal_dialog.py share|cancel|indicator [SECONDS]"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def find(acc, role, name, depth=0):
    try:
        if acc.get_role_name() == role and name in (acc.get_name() or ""):
            return acc
        count = acc.get_child_count()
    except Exception:  # the window went while we looked
        return None
    if depth > 16:
        return None
    for i in range(count):
        child = acc.get_child_at_index(i)
        found = find(child, role, name, depth + 1) if child else None
        if found:
            return found
    return None


def dialog():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        frame = find(app, "frame", "Remote desktop", 0) if app else None
        if frame:
            return frame
    return None


def sensitive(acc):
    return acc.get_state_set().contains(Atspi.StateType.SENSITIVE)


def press(acc):
    for i in range(acc.get_n_actions()):
        if acc.get_action_name(i) in ("click", "press", "activate", "toggle"):
            return acc.do_action(i)
    return acc.do_action(0)


def indicator(limit):
    while time.monotonic() < limit:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is None or app.get_name() != "gnome-shell":
                continue
            button = find(app, "push button", "Stop Screen Sharing")
            if button and button.get_state_set().contains(Atspi.StateType.SHOWING):
                e = button.get_extents(Atspi.CoordType.SCREEN)
                print(e.x + e.width // 2, e.y + e.height // 2)
                return 0
        time.sleep(0.2)
    print("no \"Stop Screen Sharing\" button", file=sys.stderr)
    return 1


def main():
    answer = sys.argv[1] if len(sys.argv) > 1 else "share"
    limit = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 30)
    if answer == "indicator":
        return indicator(limit)
    while time.monotonic() < limit:
        frame = dialog()
        if frame is None:
            time.sleep(0.2)
            continue
        if answer == "cancel":
            button = find(frame, "push button", "Cancel")
            if button and press(button):
                return 0
            time.sleep(0.2)
            continue
        box = find(frame, "check box", "Allow remote interaction")
        share = find(frame, "push button", "Share")
        if box is None or share is None:
            time.sleep(0.2)
            continue
        if not box.get_state_set().contains(Atspi.StateType.CHECKED):
            press(box)
        while time.monotonic() < limit and not sensitive(share):
            time.sleep(0.1)
        if sensitive(share) and press(share):
            return 0
    print("no \"Remote desktop\" dialog", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
