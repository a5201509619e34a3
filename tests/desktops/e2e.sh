#!/usr/bin/env bash
# End-to-end tests of Flinto's X11 host under Xwayland on the compositors of
# GNOME and KDE, which take no virtual keyboard: keys go through the
# compositor, so that native Wayland applications receive them too.
#
# - gnome: a headless mutter; the desktop portal's remote desktop session,
#   whose "Remote desktop" dialog is answered as a user would, through the
#   accessibility bus (portal_dialog.py).
# - kde: a virtual kwin_wayland; its fake input, granted by the desktop
#   entry that names the X11 program's path (flinto-x11.desktop, hidden).
#
# Flinto is clicked with the compositor's own pointer (a remote desktop
# session of mutter's, KWin's fake input: tests/desktops/*_pointer.*), so
# that a click that moved the focus would show; the targets are the Wayland
# tests' native key logger and the X11 one. Each phase runs its own compositor, bus and home as the
# unprivileged user of the Wayland tests. Prints "N passed, N failed".
#
# - gnome-shell: the same portal under the headless shell, whose top bar
#   indicator ends the session.
#
# usage: e2e.sh BUILD_DIR [PHASE]   (PHASE: gnome, gnome-shell or kde alone)
set -u
build="$(cd "${1:?usage: e2e.sh BUILD_DIR [PHASE]}" && pwd)"
only="${2:-}"
here="$(cd "$(dirname "$0")" && pwd)"
sim="$build/flinto-sim"
top="$(mktemp -d /tmp/flinto-desktops-e2e.XXXXXX)"
chmod 755 "$top"
. "$here/../checks.sh"
test_user=flinto-desktops
. "$here/../wayland/session.sh"

pids=()
compositor_pid=
bus_pid=
stop_all() {
  stop_flinto
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  pids=()
  [ -n "$compositor_pid" ] && stop_process "$compositor_pid"
  # The compositor's first client outlives it.
  [ -s "${work:-}/first-client.pid" ] &&
    kill "$(cat "$work/first-client.pid")" 2>/dev/null
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  exec 8>&- 2>/dev/null
  compositor_pid=
  bus_pid=
  # What the bus started (portals, the accessibility bus) goes with it.
  # Not children of this script: waited for here, at most 5 s, so that
  # nothing of this phase serves the next.
  if [ -n "${runner[*]}" ]; then
    local started="xdg-desktop-portal|at-spi|dconf-service|Xwayland|kglobalaccel|gnome-shell|evolution|goa-daemon|gvfs|ibus|gsd-|gjs"
    pkill -u "$test_user" -f "$started" 2>/dev/null
    wait_for 5 not pgrep -u "$test_user" -f "$started" ||
      echo "# what the bus started did not end within 5 s of SIGTERM: killed"
    pkill -9 -u "$test_user" -f "$started" 2>/dev/null
  fi
  wait 2>/dev/null
}
cleanup() {
  stop_all
  if [ -n "${E2E_KEEP:-}" ]; then echo "kept $top"; else rm -rf "$top"; fi
}
trap cleanup EXIT

phase() { [ -z "$only" ] || [ "$only" = "$1" ]; }

# session NAME: a fresh work folder, home and bus for the phase, with the
# programs copied where the user reaches them.
session() {
  stop_all
  wl_prepare "$top/$1" "$build" || return 1
  cp "$build/flinto-compositor-keys.so" "$here/portal_dialog.py" \
    "$here/mutter_pointer.py" "$build/tests/desktops/flinto-kwin-pointer" \
    "$work/bin/"
  mkdir -p "$work/home"
  [ -n "${runner[*]}" ] && chown -R "$test_user:$test_user" "$work/home"
  HOME_DIR="$work/home"
  target_log="$work/target.log"
  layout_file="$work/layout"
}

# as_user with the session's X display and its authority.
X_AUTH=
user() {
  as_user env ${X_AUTH:+XAUTHORITY=$X_AUTH} DISPLAY="$X_DISPLAY" \
    HOME="$HOME_DIR" "$@"
}
user_bg() { (EXEC_AS_USER=1 user "$@") <&0 & }

# start_bus VARS...: the session bus, its activation environment holding the
# compositor's variables before the compositor starts (the portals read it).
start_bus() {
  as_user dbus-daemon --session --fork --print-pid=1 \
    --address="$DBUS_SESSION_BUS_ADDRESS" >"$work/bus.pid" 2>"$work/bus.log"
  bus_pid=$(head -n1 "$work/bus.pid")
  as_user dbus-update-activation-environment "$@"
}

# The compositor's environment, as its first client writes it.
read_environment() {
  wait_for 30 test -s "$work/env" || return 1
  X_DISPLAY=$(sed -n 's/^DISPLAY=//p' "$work/env")
  X_AUTH=$(sed -n 's/^XAUTHORITY=//p' "$work/env")
  [ -n "$X_DISPLAY" ]
}

# The compositor's first client writes its environment, where the tests
# read the X display and its authority.
write_first_client() {
  cat >"$work/bin/first-client" <<EOF
#!/bin/sh
env > $work/env
echo \$\$ > $work/first-client.pid
exec sleep 100000
EOF
  chmod 755 "$work/bin/first-client"
}
# compositor_up NAME LOG: its environment read, or why not.
compositor_up() {
  read_environment && return 0
  echo "$1 did not start"
  tail -n 20 "$2"
  return 1
}
# start_target [VAR=VALUE...]: the native target, logging to $target_log.
start_target() {
  user_bg env "$@" "$work/bin/flinto-wl-target" "$target_log"
  pids+=($!)
  wait_for 30 grep -q ready "$target_log" || {
    echo "the target did not start"
    return 1
  }
}

# start_flinto [VAR=VALUE...]: each start with a log of its own.
starts=0
start_flinto() {
  starts=$((starts + 1))
  flinto_log="$work/flinto-$starts.log"
  : >"$flinto_log"
  chmod 666 "$flinto_log"
  local program="$work/bin/flinto" v
  for v in "$@"; do [[ "$v" == FLINTO_PROGRAM=* ]] && program="${v#FLINTO_PROGRAM=}"; done
  user_bg env "$@" "$program" >>"$flinto_log" 2>&1
  flinto_pid=$!
}
said() { grep -q "$1" "$flinto_log"; }
# second_start_checks DESKTOP WAY: another start hands over to the running
# Flinto and opens no way of its own to the compositor (a second session,
# a dialog, the portal's permission used up).
second_start_checks() {
  local out status
  out=$(user env timeout 10 "$work/bin/flinto" 2>&1)
  status=$?
  check "$1: a second start hands over (status $status)" test "$status" -eq 0
  check "$1: opening nothing of its own" not grep -q "typing through $2" <<<"$out"
}

# The keyboard's window (class FlintoFrame) and its corner, "X Y".
keyboard_window() {
  local id
  for id in $(user xdotool search --class '^FlintoFrame$' 2>/dev/null); do
    user xwininfo -id "$id" 2>/dev/null | grep -q "IsViewable" && echo "$id" && return
  done
}
keyboard_corner() {
  local id
  id=$(keyboard_window)
  [ -n "$id" ] && user xwininfo -id "$id" |
    awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}'
}
shown() { [ -n "$(keyboard_corner)" ]; }
# The compositor's pointer: pointer_start COMMAND... runs it reading
# commands from a pipe; point LINE sends one and waits until the
# compositor has taken it.
pointer_start() {
  rm -f "$work/pointer.fifo"
  mkfifo "$work/pointer.fifo"
  chmod 666 "$work/pointer.fifo"
  exec 8<>"$work/pointer.fifo"
  user_bg "$@" <"$work/pointer.fifo" >"$work/pointer.log" 2>&1
  pids+=($!)
  pointer_syncs=0
  wait_for 15 grep -q ready "$work/pointer.log" || {
    echo "no pointer"
    cat "$work/pointer.log"
    return 1
  }
}
point() {
  echo "$*" >&8
  pointer_syncs=$((pointer_syncs + 1))
  echo sync >&8
  wait_for 5 grep -q "^synced $pointer_syncs\$" "$work/pointer.log"
}
# Clicks go by the compositor's pointer, or with CLICKS=xtest inside
# Xwayland (GNOME Shell: a remote desktop session of the test's own
# disturbs the keyboard focus there).
CLICKS=pointer
click_at() {
  if [ "$CLICKS" = xtest ]; then
    user xdotool mousemove "$1" "$2" click "$3"
  else
    point click "$1" "$2" "$3"
  fi
}

# typed LOG FROM TEXT: the log, after line FROM, has the presses of TEXT's
# characters in order (keysyms of letters).
typed() {
  local got
  got=$(tail -n +$(($2 + 1)) "$1" | sed -n 's/^press .*keysym=\([^ ]*\) .*/\1/p' |
    grep -v '^Control_L$' | tr -d '\n')
  [ "$got" = "$3" ]
}
lines() { wc -l <"$1"; }
# The native target has the keyboard focus now (its last focus event is
# an enter: after the X11 target goes, the compositor gives it back).
native_focused() {
  grep -E '^focus (in|out)' "$target_log" | tail -n 1 | grep -q '^focus in'
}
released_shift() { tail -n +$(($2 + 1)) "$1" | grep -q '^release .*keysym=Shift_L'; }
# Or the keyboard left the application (a client holds no key after a
# leave): what a compositor does when the device holding it goes.
shift_let_go() {
  tail -n +$(($2 + 1)) "$1" | grep -q -e '^release .*keysym=Shift_L' -e '^focus out'
}

# The checks every compositor shares, with Flinto running and granted and
# the native target focused.
typing_checks() {
  local desktop="$1" before
  before=$(lines "$target_log")
  click_key 0x41
  click_key 0x53
  check "$desktop: clicks on a and s type as into the native Wayland target" \
    wait_for 5 typed "$target_log" "$before" as
  before=$(lines "$target_log")
  click_key 0x10 3
  click_key 0x41
  check "$desktop: a latched Shift with a click on a types A" \
    wait_for 5 typed "$target_log" "$before" Shift_LA
  # Held: Flinto repeats it ten times a second; the compositor's own
  # repeat (25 or 33 a second after 500-660 ms) would add dozens.
  local ax ay
  read -r ax ay < <(key_centre 0x44)
  before=$(lines "$target_log")
  if [ "$CLICKS" = xtest ]; then
    user xdotool mousemove "$ax" "$ay" mousedown 1
    sleep 2
    user xdotool mouseup 1
  else
    point move "$ax" "$ay"
    point press 1
    sleep 2
    point release 1
  fi
  wait_for 3 sh -c "tail -n +$((before + 1)) '$target_log' | grep -q '^release .*keysym=d'"
  sleep 0.5
  local presses
  presses=$(tail -n +$((before + 1)) "$target_log" | grep -c '^press .*keysym=d ')
  check "$desktop: a held d repeats as Flinto repeats it, not the compositor ($presses presses in 2 s)" \
    test "$presses" -ge 5 -a "$presses" -le 22
  check "$desktop: the native target kept the focus" \
    not grep -q "focus out" "$target_log"
}

# like_sim NAME [LOCK]: how many pixels of the keyboard differ from
# flinto-sim's picture with the lock (caps) on.
like_sim() {
  user timeout 10 import -window "$(keyboard_window)" "$work/$1.png" 2>/dev/null
  { [ -n "${2:-}" ] && echo "physical $2 on"
    printf 'start\ntray left\ntick\ndump %s\n' "$work/sim-$1.png"; } | "$sim" >/dev/null
  compare -metric AE "$work/$1.png" "$work/sim-$1.png" null: 2>&1 | cut -d' ' -f1
}
locked_caps() { tail -n +$(($2 + 1)) "$1" | grep -q "^modifiers .*locked=0x2 "; }
unlocked_caps() { tail -n +$(($2 + 1)) "$1" | grep -q "^modifiers .*locked=0x0 "; }

# caps_checks DESKTOP HOW: Caps Lock locked with Flinto's keys (the
# compositor's keymap is us: Caps alone locks it) shows in the labels, by
# what reports it (HOW).
caps_checks() {
  local desktop="$1" how="$2" before diff
  before=$(lines "$target_log")
  click_key 0x14
  check "$desktop: Caps locks Caps Lock in the native target" \
    wait_for 5 locked_caps "$target_log" "$before"
  sleep 0.4
  diff=$(like_sim "$desktop-caps" caps)
  check "$desktop: and the labels show capitals, as flinto-sim draws them, by $how ($diff pixels differ)" \
    test "$diff" = 0
  before=$(lines "$target_log")
  click_key 0x14
  check "$desktop: Caps again unlocks it" \
    wait_for 5 unlocked_caps "$target_log" "$before"
  sleep 0.4
  diff=$(like_sim "$desktop-nocaps")
  check "$desktop: and the labels are small letters again ($diff pixels differ)" \
    test "$diff" = 0
}

# x11_checks: the X11 target, focused, receives the same.
x11_checks() {
  local desktop="$1" before
  x_log="$work/x-target-$starts.log"
  user_bg "$work/bin/flinto-target" "$x_log"
  pids+=($!)
  wait_for 10 grep -q "focus in" "$x_log" ||
    user xdotool search --class FlintoTarget windowactivate 2>/dev/null
  wait_for 10 grep -q "focus in" "$x_log"
  sleep 0.3
  before=$(lines "$x_log")
  click_key 0x41
  click_key 0x53
  check "$desktop: the same clicks type as into the X11 target, once" \
    wait_for 5 typed "$x_log" "$before" as
  kill "${pids[-1]}" 2>/dev/null
}

# --- GNOME: mutter and the desktop portal --------------------------------
gnome_session() {
  session "$1" || return 1
  export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
  start_bus WAYLAND_DISPLAY=wayland-flinto XDG_CURRENT_DESKTOP=GNOME \
    XDG_SESSION_TYPE=wayland
  export WAYLAND_DISPLAY=wayland-flinto
  write_first_client
  spawn env -u WAYLAND_DISPLAY mutter --headless --wayland --virtual-monitor 1280x800 \
    --wayland-display=wayland-flinto -- "$work/bin/first-client" \
    >"$work/mutter.log" 2>&1
  compositor_pid=$!
  compositor_up mutter "$work/mutter.log" || return 1
  start_target || return 1
  pointer_start python3 "$work/bin/mutter_pointer.py"
}
dialog() { user python3 -W ignore "$work/bin/portal_dialog.py" "$@"; }
# The portal goes away (the front and the GNOME backend, which holds
# mutter's remote desktop session).
portal_goes() {
  as_user pkill -f xdg-desktop-portal
}

if phase gnome; then
echo "# gnome"
if check "gnome: the compositor, its bus and the target start" gnome_session gnome; then
  layout_of "" >"$layout_file"
  start_flinto
  check "gnome: the portal's session is asked for, in one line" \
    wait_for 10 said "typing through the desktop portal's remote desktop session"
  wait_for 10 shown
  sleep 0.5
  user import -window "$(keyboard_window)" "$work/pending.png" 2>/dev/null
  before=$(lines "$target_log")
  click_key 0x41
  sleep 1
  check "gnome: before the grant a click types nothing" \
    test "$(tail -n +$((before + 1)) "$target_log" | grep -c '^press')" -eq 0
  check "gnome: the dialog is answered as a user would" dialog share 20
  check "gnome: the grant is said" wait_for 10 said "session was granted"
  second_start_checks gnome "the desktop portal's remote desktop session"
  sleep 0.5
  user import -window "$(keyboard_window)" "$work/granted.png" 2>/dev/null
  grey=$(compare -metric AE "$work/pending.png" "$work/granted.png" null: 2>&1)
  check "gnome: the keyboard looks greyed until the grant (${grey:-?} pixels differ)" \
    test "${grey%% *}" -gt 10000 2>/dev/null
  before=$(lines "$target_log")
  check "gnome: nothing typed before the grant comes later" \
    not wait_for 1 sh -c "tail -n +$((before + 1)) '$target_log' | grep -q 'keysym=a '"
  typing_checks gnome
  caps_checks gnome "Flinto's own presses"
  x11_checks gnome
  # A latched Shift, then the end: it is let go.
  check "gnome: the X11 target gone, the native one has the focus again" \
    wait_for 10 native_focused
  click_key 0x10 3
  sleep 0.3
  before=$(lines "$target_log")
  stop_flinto
  check "gnome: a latched Shift is let go when Flinto ends" \
    wait_for 5 released_shift "$target_log" "$before"

  # The session stopped by the compositor with Shift latched: let go, and
  # keys go by XTest with the notice.
  start_flinto
  wait_for 10 shown
  dialog share 20 && wait_for 10 said "session was granted"
  click_key 0x10 3
  sleep 0.3
  before=$(lines "$target_log")
  portal_goes
  check "gnome: the portal gone: XTest, with the notice" \
    wait_for 10 said "the desktop portal went away: typing by XTest: only X11 applications will receive keys"
  check "gnome: and the latched Shift did not stay down" \
    wait_for 5 released_shift "$target_log" "$before"
  stop_flinto

  # Refused: XTest and the notice; the X11 target receives keys, once.
  start_flinto
  wait_for 10 shown
  check "gnome: the dialog cancelled" dialog cancel 20
  check "gnome: refused: XTest, with the notice" \
    wait_for 10 said "refused: typing by XTest: only X11 applications will receive keys"
  x11_checks "gnome, refused"
  stop_flinto
fi
stop_all
fi

# --- GNOME Shell: the same portal, and the indicator that ends it --------
shell_session() {
  session "$1" || return 1
  export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
  # The shell wants a system bus: a private one.
  cat >"$work/system.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/run/system_bus</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  chmod 644 "$work/system.conf"
  as_user dbus-daemon --config-file="$work/system.conf" --fork --print-pid=1 \
    >"$work/system-bus.pid" 2>"$work/system-bus.log"
  pids+=("$(head -n1 "$work/system-bus.pid")")
  local system="unix:path=$work/run/system_bus"
  start_bus WAYLAND_DISPLAY=wayland-flinto XDG_CURRENT_DESKTOP=GNOME \
    XDG_SESSION_TYPE=wayland DBUS_SYSTEM_BUS_ADDRESS="$system"
  export WAYLAND_DISPLAY=wayland-flinto
  spawn env -u WAYLAND_DISPLAY DBUS_SYSTEM_BUS_ADDRESS="$system" HOME="$HOME_DIR" \
    gnome-shell --headless --wayland --virtual-monitor 1280x800 \
    --wayland-display=wayland-flinto >"$work/shell.log" 2>&1
  compositor_pid=$!
  # Xwayland starts when a client comes; the shell says where.
  wait_for 30 grep -q "Using public X11 display" "$work/shell.log" || {
    echo "gnome-shell did not start"
    tail -n 20 "$work/shell.log"
    return 1
  }
  X_DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\),.*/\1/p' "$work/shell.log")
  X_AUTH=$(ls -t "$work/run"/.mutter-Xwaylandauth.* 2>/dev/null | head -n1)
  # Its interfaces come last: then it answers the target at once.
  wait_for 60 overview_active || {
    echo "gnome-shell did not come up"
    tail -n 20 "$work/shell.log"
    return 1
  }
  start_target TARGET_MAXIMIZED=1 || return 1
  # It starts in the overview (once it has started): out of it, to the
  # target.
  wait_for 20 out_of_overview
}
overview_active() {
  user gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
    --method org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive
}
out_of_overview() {
  user gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
    --method org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive '<false>' &&
    sleep 0.5 &&
    user gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
      --method org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive |
    grep -q false
}

if phase gnome-shell; then
echo "# gnome-shell"
# The shell, with its daemons, is the heaviest start here: on a machine
# busy with other tests it once did not come up in time. One more try,
# from nothing (a folder of its own: the first one's sockets, its X
# authority and its home stay behind), said; a second failure fails the
# check.
shell_started() {
  shell_session gnome-shell && return 0
  echo "# gnome-shell did not come up: once more, from nothing"
  shell_session gnome-shell-again
}
if check "gnome-shell: the compositor, its bus and the target start" shell_started; then
  CLICKS=xtest
  layout_of "" >"$layout_file"
  start_flinto
  wait_for 10 shown
  check "gnome-shell: the dialog is answered as a user would" dialog share 20
  check "gnome-shell: the grant is said" wait_for 10 said "session was granted"
  wait_for 10 native_focused
  before=$(lines "$target_log")
  click_key 0x41
  click_key 0x53
  check "gnome-shell: a and s typed into the native Wayland target" \
    wait_for 5 typed "$target_log" "$before" as
  # Ten clicks in a row: the portal handles calls in threads of its own;
  # each press must still reach the application before its release.
  before=$(lines "$target_log")
  for id in 0x51 0x57 0x45 0x52 0x54 0x59 0x55 0x49 0x4f 0x50; do click_key "$id"; done
  wait_for 5 typed "$target_log" "$before" qwertyuiop
  order=$(tail -n +$((before + 1)) "$target_log" | grep -E '^(press|release) ' |
    grep -v Control_L | awk '{print $1 substr($3, 8)}' | tr '\n' ' ')
  check "gnome-shell: ten clicks: each press, then its release, in order" \
    test "$order" = "pressq releaseq pressw releasew presse releasee pressr releaser presst releaset pressy releasey pressu releaseu pressi releasei presso releaseo pressp releasep "
  before=$(lines "$target_log")
  click_key 0x10 3
  click_key 0x41
  check "gnome-shell: a latched Shift with a click on a types A" \
    wait_for 5 typed "$target_log" "$before" Shift_LA
  # Shift latched again; the top bar's indicator stops the session.
  click_key 0x10 3
  sleep 0.3
  before=$(lines "$target_log")
  read -r sx sy < <(dialog indicator 10)
  pointer_start python3 "$work/bin/mutter_pointer.py"
  [ -n "${sx:-}" ] && point click "$sx" "$sy" 1
  check "gnome-shell: the indicator's Stop ends the session: XTest, with the notice" \
    wait_for 10 said "the remote desktop session was closed: typing by XTest: only X11 applications will receive keys"
  check "gnome-shell: and the latched Shift did not stay down" \
    wait_for 5 shift_let_go "$target_log" "$before"
  stop_flinto
fi
stop_all
CLICKS=pointer
fi

# --- KDE: KWin's fake input ----------------------------------------------
kde_session() {
  session "$1" || return 1
  export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland
  start_bus WAYLAND_DISPLAY=wayland-flinto XDG_CURRENT_DESKTOP=KDE \
    XDG_SESSION_TYPE=wayland
  export WAYLAND_DISPLAY=wayland-flinto
  # The hidden desktop entry that names the X11 program's path grants the
  # fake input.
  mkdir -p "$HOME_DIR/.local/share/applications"
  sed -e "s|^Exec=.*|Exec=$work/bin/flinto-x11|" "$here/../../data/flinto-x11.desktop" \
    >"$HOME_DIR/.local/share/applications/flinto-x11.desktop"
  [ -n "${runner[*]}" ] && chown -R "$test_user:$test_user" "$HOME_DIR"
  printf '[Desktop Entry]\nType=Application\nName=Flinto test pointer\nExec=%s\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n' \
    "$work/bin/flinto-kwin-pointer" >"$HOME_DIR/.local/share/applications/flinto-kwin-pointer.desktop"
  # Its file capability does not run where the bounding set lacks it.
  cp /usr/bin/kwin_wayland "$work/bin/kwin_wayland"
  write_first_client
  spawn env -u WAYLAND_DISPLAY HOME="$HOME_DIR" "$work/bin/kwin_wayland" \
    --virtual --xwayland --socket wayland-flinto --width 1280 --height 800 \
    "$work/bin/first-client" >"$work/kwin.log" 2>&1
  compositor_pid=$!
  compositor_up kwin_wayland "$work/kwin.log" || return 1
  start_target || return 1
  pointer_start "$work/bin/flinto-kwin-pointer"
}

if phase kde; then
echo "# kde"
if check "kde: the compositor, its bus and the target start" kde_session kde; then
  layout_of "" >"$layout_file"
  start_flinto
  check "kde: the compositor's fake input, in one line" \
    wait_for 10 said "typing through the compositor's fake input"
  wait_for 10 shown
  second_start_checks kde "the compositor's fake input"
  wait_for 10 native_focused
  typing_checks kde
  caps_checks kde "the compositor's key states"
  x11_checks kde
  check "kde: the X11 target gone, the native one has the focus again" \
    wait_for 10 native_focused
  click_key 0x10 3
  sleep 0.3
  before=$(lines "$target_log")
  stop_flinto
  check "kde: a latched Shift is let go when Flinto ends" \
    wait_for 5 released_shift "$target_log" "$before"
  # The portal on KDE: its backend asks nothing for a keyboard.
  start_flinto FLINTO_INJECT=portal
  check "kde: FLINTO_INJECT=portal: the portal's session is granted without a dialog" \
    wait_for 20 said "session was granted"
  wait_for 10 shown
  before=$(lines "$target_log")
  click_key 0x41
  click_key 0x53
  check "kde: through the portal: a and s typed into the native target" \
    wait_for 5 typed "$target_log" "$before" as
  x11_checks "kde, through the portal"
  stop_flinto
  # A copy no desktop entry names: no fake input, and no question asked.
  mkdir -p "$work/bin/unnamed"
  cp "$work/bin/flinto" "$work/bin/flinto-x11" "$work/bin/flinto-wayland" \
    "$work/bin/flinto-compositor-keys.so" "$work/bin/unnamed/"
  start_flinto FLINTO_INJECT=kwin FLINTO_PROGRAM="$work/bin/unnamed/flinto"
  check "kde: without the desktop entry: XTest, with the notice" \
    wait_for 10 said "typing by XTest: only X11 applications will receive keys (the compositor offers no fake input"
  stop_flinto
  # Without the module beside it: XTest.
  mkdir -p "$work/bin/alone"
  cp "$work/bin/flinto" "$work/bin/flinto-x11" "$work/bin/flinto-wayland" \
    "$work/bin/alone/"
  start_flinto FLINTO_PROGRAM="$work/bin/alone/flinto"
  check "kde: without the module: XTest, with the notice and why" \
    wait_for 10 said "typing by XTest: only X11 applications will receive keys (the module .*cannot be loaded)"
  stop_flinto
  out=$(user env FLINTO_INJECT=uinput "$work/bin/flinto" 2>&1)
  status=$?
  refused_inject() {
    [ "$status" -eq 1 ] &&
      grep -q 'FLINTO_INJECT is "uinput"; it must be xtest, portal or kwin' <<<"$out"
  }
  check "kde: an unknown FLINTO_INJECT: status 1 and what it must be" refused_inject
fi
stop_all
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
