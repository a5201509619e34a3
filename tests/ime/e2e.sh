#!/usr/bin/env bash
# End-to-end tests of Flinto with Japanese input methods, typed as its users
# type: with the mouse alone, through Mozc. On X11 (Xvfb, openbox, jp106)
# under fcitx5 and under IBus, into a GTK3 text view and into an XIM client;
# on sway, fcitx5 as the Wayland input method, into a native GTK3 view.
# Everything runs as the unprivileged user of the Wayland tests (the Mozc
# server will not run as root), each session with its own bus and a fresh
# home, since Mozc learns from what it converts. Prints "N passed, N failed".
#
# usage: e2e.sh BUILD_DIR [PHASE]   (PHASE: fcitx5, ibus or sway alone)
set -u
build="$(cd "${1:?usage: e2e.sh BUILD_DIR [PHASE]}" && pwd)"
only="${2:-}"
here="$(cd "$(dirname "$0")" && pwd)"
sim="$build/flinto-sim"
top="$(mktemp -d /tmp/flinto-ime-e2e.XXXXXX)"
chmod 755 "$top"
. "$here/../checks.sh"
test_user=flinto-ime
. "$here/../wayland/session.sh"

pids=()
xvfb_pid=
stop_all() {
  stop_flinto
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  pids=()
  # The input methods' servers go with their bus and display.
  wl_stop_session
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  xvfb_pid=
  [ -n "${work:-}" ] && [ -n "${runner[*]}" ] &&
    pkill -u "$test_user" -f "mozc_server|fcitx5|ibus" 2>/dev/null
  wait 2>/dev/null
}
cleanup() {
  stop_all
  if [ -n "${E2E_KEEP:-}" ]; then echo "kept $top"; else rm -rf "$top"; fi
}
trap cleanup EXIT

# phase NAME: whether to run it; each starts in a folder (and home) of its
# own, with nothing of the one before running.
phase() {
  [ -n "$only" ] && [ "$only" != "$1" ] && return 1
  echo "# $1"
  stop_all
  wl_prepare "$top/$1" "$build" || return 1
  cp "$here/gtk-target.py" "$work/bin/"
  mkdir -p "$work/config/flinto"
  chmod -R a+rwX "$work/config"
  export LANG=C.UTF-8
  return 0
}

# The keys, by id: n i h o n g o.
nihongo=(0x4e 0x49 0x48 0x4f 0x4e 0x47 0x4f)
preedit_is() { [ "$(cat "$text_file.preedit" 2>/dev/null)" = "$1" ]; }
# The first candidates of にほんご: Mozc learns, so the test only asks for
# one of them, and that what is committed is what was converted.
family() { [[ "$1" =~ ^(日本語|ニホンゴ|にほんご|二本語|日本後)$ ]]; }
# converted: the preedit holds a conversion of the reading.
converted() {
  local p
  p=$(cat "$text_file.preedit" 2>/dev/null)
  [ -n "$p" ] && [ "$p" != にほんご ] && [[ ! "$p" =~ [a-z] ]]
}
fcitx5_on() { [ "$(as_user fcitx5-remote 2>/dev/null)" = 2 ]; }
# (Setting the engine says it failed even when it did not.)
ibus_takes_mozc() {
  as_user ibus engine mozc-jp >/dev/null 2>&1
  as_user ibus engine 2>/dev/null | grep -q mozc-jp
}
# owns NAME: a program has the name on the session bus (asking fcitx5
# itself before it has would start another by bus activation).
owns() {
  as_user dbus-send --session --print-reply --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null |
    grep -q 'boolean true'
}
committed() { [ "$(cat "$text_file" 2>/dev/null)" = "$1" ]; }
# typed_a: an "a" typed as it is, committed or in the preedit.
typed_a() { grep -q 'a$' "$text_file" || preedit_is a; }
# xim_committed: the XIM client's last commit is a candidate of にほんご.
xim_committed() {
  local last
  last=$(grep '^commit text=' "$target_log" | tail -n1)
  family "${last#commit text=}"
}
type_keys() {
  local id
  for id in "$@"; do
    click_key "$id"
    sleep 0.1
  done
}
# The keyboard placed where the candidate list opens (under the text
# view's first line), at unit 3.
place_keyboard() { # X Y
  printf '[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"X"=dword:%08x\n"Y"=dword:%08x\n' \
    "$1" "$2" >"$work/config/flinto/registry.txt"
  chmod 666 "$work/config/flinto/registry.txt"
}

# --- X11 ---------------------------------------------------------------
# x11_session: Xvfb with a jp106 keymap, openbox, a session bus.
x11_session() {
  exec 5>"$work/displayfd"
  Xvfb -displayfd 5 -noreset -screen 0 1280x800x24 -nolisten tcp \
    >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 5>&-
  wait_for 10 test -s "$work/displayfd" || {
    echo "Xvfb did not start"
    return 1
  }
  export DISPLAY=":$(head -n1 "$work/displayfd")" X_DISPLAY
  X_DISPLAY=$DISPLAY
  setxkbmap -model jp106 -layout jp
  openbox --sm-disable --config-file "$here/../x11/openbox-rc.xml" \
    >"$work/openbox.log" 2>&1 &
  pids+=($!)
  as_user dbus-daemon --session --fork --print-pid=1 \
    --address="$DBUS_SESSION_BUS_ADDRESS" >"$work/bus.pid" 2>"$work/bus.log"
  bus_pid=$(head -n1 "$work/bus.pid")
  wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK
}
keyboard_shown() {
  local id
  id=$(window_of FlintoFrame | cut -d' ' -f1)
  [ -n "$id" ] && xwininfo -id "$id" | grep -q "Map State: IsViewable"
}
keyboard_corner() { window_of FlintoFrame | cut -d' ' -f2,3; }
click_at() { xdotool mousemove "$1" "$2" click "$3"; }
caps_on() { xset q | grep -q "Caps Lock: *on"; }
# x11_flinto: Flinto at X Y; with no tray on this desktop it shows itself.
x11_flinto() { # X Y
  place_keyboard "$1" "$2"
  FLINTO_HOST=x11 spawn "$work/bin/flinto" >>"$work/flinto.log" 2>&1
  flinto_pid=$!
  wait_for 10 keyboard_shown || return 1
  layout_file="$work/layout"
  layout_of "" >"$layout_file"
  read -r kid kx ky kw kh < <(window_of FlintoFrame)
}
# x11_gtk_target IM: the GTK3 view, typing through GTK's module IM.
x11_gtk_target() {
  text_file="$work/run/gtk.txt"
  GTK_IM_MODULE=$1 spawn python3 "$work/bin/gtk-target.py" "$text_file" \
    >"$work/gtk.log" 2>&1
  pids+=($!)
  wait_for 15 window_of FlintoImeTarget || return 1
  xdotool search --class '^FlintoImeTarget$' windowmove 0 0 windowactivate 2>/dev/null
  wait_for 10 grep -q "focus in" "$work/gtk.log"
}
# An override-redirect window of another program over the keyboard: the
# candidate list. Prints its id.
candidate_list() {
  local id
  for id in $(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p'); do
    [ "$id" = "$kid" ] && continue
    xwininfo -id "$id" | grep -q "Override Redirect State: yes" || continue
    xwininfo -id "$id" | grep -q "Map State: IsViewable" || continue
    xwininfo -id "$id" -wm | grep -q . || continue
    local x y w h info
    info=$(xwininfo -id "$id")
    x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    w=$(sed -n 's/.*Width: *//p' <<<"$info")
    h=$(sed -n 's/.*Height: *//p' <<<"$info")
    [ "$w" -gt 20 ] && [ "$h" -gt 20 ] || continue
    ((x < kx + kw && kx < x + w && y < ky + kh && ky < y + h)) || continue
    echo "$id $x $y $w $h"
    return 0
  done
  return 1
}
# The keyboard's picture against flinto-sim's: the differing pixels.
labels_differ() {
  timeout 10 import -window "$kid" "$work/kb.png"
  printf 'start\ndump %s\n' "$work/sim.png" | "$sim" >/dev/null
  compare -metric AE "$work/kb.png" "$work/sim.png" null: 2>&1 | cut -d' ' -f1
}

# x11_typing IM: the checks every X11 input method passes, Flinto's keys
# alone doing the typing into the GTK3 view.
x11_typing() {
  local im=$1 shown
  click_key 0x15
  sleep 0.5
  local differ
  differ=$(labels_differ)
  check "$im: カナ: the labels stay romaji ($differ pixels differ)" test "$differ" = 0
  type_keys "${nihongo[@]}"
  check "$im: n i h o n g o: the reading にほんご in the preedit" \
    wait_for 10 preedit_is にほんご
  click_key 0x20
  check "$im: Space converts" wait_for 10 converted
  shown=$(cat "$text_file.preedit")
  check "$im: to a first candidate of にほんご ($shown)" family "$shown"
  click_key 0x20
  local list
  wait_for 10 candidate_list
  list=$(candidate_list)
  check "$im: Space again opens the candidate list over the keyboard ($list)" test -n "$list"
  if [ -n "$list" ]; then
    local id x y w h
    read -r id x y w h <<<"$list"
    check "$im: the candidate list stays above the keyboard" wait_for 3 above "$id" "$kid"
    # The screen where they overlap shows the list, not the keyboard.
    local ox=$((x > kx ? x : kx)) oy=$((y > ky ? y : ky))
    local ow=$(((x + w < kx + kw ? x + w : kx + kw) - ox))
    local oh=$(((y + h < ky + kh ? y + h : ky + kh) - oy))
    timeout 10 import -window root -crop "${ow}x${oh}+${ox}+${oy}" "$work/overlap.png"
    printf 'start\ndump %s\n' "$work/sim.png" | "$sim" >/dev/null
    convert "$work/sim.png" -crop "${ow}x${oh}+$((ox - kx))+$((oy - ky))" +repage "$work/sim-overlap.png"
    differ=$(compare -metric AE "$work/overlap.png" "$work/sim-overlap.png" null: 2>&1 | cut -d' ' -f1)
    check "$im: and shows on the screen there (${differ:-?} of $((ow * oh)) pixels are not the keyboard's)" \
      test "${differ:-0}" -gt $((ow * oh / 4))
  fi
  shown=$(cat "$text_file.preedit")
  click_key 0x0d
  check "$im: Return commits what was chosen ($shown)" wait_for 10 committed "$shown"
  check "$im: a candidate of にほんご" family "$shown"
  # 英数: Caps alone goes to the input method, which types letters again.
  click_key 0x14
  sleep 0.3
  type_keys 0x41
  check "$im: 英数 reaches the input method: a is typed as a" wait_for 10 typed_a
  click_key 0x0d
  # Shift+英数 is Caps Lock, the input method on or not.
  click_key 0x10 3
  click_key 0x14
  check "$im: Shift, then 英数: Caps Lock on" wait_for 5 caps_on
  click_key 0x10 3
  click_key 0x14
  check "$im: and off again" wait_for 5 not caps_on
}

# x11_xim IM: the same typing into an XIM client (as xterm types).
x11_xim() {
  local im=$1
  target_log="$work/run/xim.log"
  TARGET_XIM=1 spawn "$work/bin/flinto-target" "$target_log" >"$work/xim.err" 2>&1
  pids+=($!)
  wait_for 10 grep -q "focus in" "$target_log"
  xdotool search --class '^FlintoTarget$' windowmove 0 0 windowactivate 2>/dev/null
  wait_for 5 grep -q "focus in" "$target_log"
  sleep 0.5
  click_key 0x15
  type_keys "${nihongo[@]}" 0x20
  sleep 0.5
  click_key 0x0d
  check "$im: into an XIM client: the committed text is a candidate of にほんご" \
    wait_for 10 xim_committed
  check "$im: and no letter typed past the input method" not grep -q "^press .*text=[a-z]$" "$target_log"
}

if phase fcitx5; then
  x11_session || exit 1
  mkdir -p "$work/config/fcitx5"
  cp "$here/fcitx5-profile" "$work/config/fcitx5/profile"
  cp "$here/fcitx5-config" "$work/config/fcitx5/config"
  chmod -R a+rwX "$work/config"
  XMODIFIERS=@im=fcitx spawn fcitx5 --disable=wayland,waylandim >"$work/fcitx5.log" 2>&1
  pids+=($!)
  check "fcitx5 is on the session bus" wait_for 30 owns org.fcitx.Fcitx5
  XMODIFIERS=@im=fcitx x11_gtk_target fcitx
  check "the GTK3 view has the focus" grep -q "focus in" "$work/gtk.log"
  x11_flinto 0 60
  check "Flinto shows itself" keyboard_shown
  XMODIFIERS=@im=fcitx x11_typing fcitx5
  XMODIFIERS=@im=fcitx x11_xim fcitx5
fi

if phase ibus; then
  x11_session || exit 1
  XMODIFIERS=@im=ibus spawn ibus-daemon --xim --replace --panel=disable \
    >"$work/ibus.log" 2>&1
  pids+=($!)
  check "ibus answers on the session bus, and takes Mozc as its engine" \
    wait_for 30 ibus_takes_mozc
  XMODIFIERS=@im=ibus x11_gtk_target ibus
  x11_flinto 0 60
  XMODIFIERS=@im=ibus x11_typing ibus
  XMODIFIERS=@im=ibus x11_xim ibus
fi

# --- sway --------------------------------------------------------------
if phase sway; then
  export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway XMODIFIERS=@im=fcitx
  wl_start_session yes || exit 1
  mkdir -p "$work/config/fcitx5"
  cp "$here/fcitx5-profile" "$work/config/fcitx5/profile"
  cp "$here/fcitx5-config" "$work/config/fcitx5/config"
  chmod -R a+rwX "$work/config"
  spawn fcitx5 --replace >"$work/fcitx5.log" 2>&1
  pids+=($!)
  check "fcitx5 is on the session bus" wait_for 30 owns org.fcitx.Fcitx5
  text_file="$work/run/gtk.txt"
  GDK_BACKEND=wayland GTK_IM_MODULE=wayland spawn python3 "$work/bin/gtk-target.py" \
    "$text_file" >"$work/gtk.log" 2>&1
  pids+=($!)
  check "the native GTK3 view has the focus" wait_for 15 grep -q "focus in" "$work/gtk.log"
  FLINTO_HOST=wayland spawn "$work/bin/flinto" >>"$work/flinto.log" 2>&1
  flinto_pid=$!
  item="org.kde.StatusNotifierItem-$flinto_pid-1"
  activate() {
    as_user dbus-send --session --print-reply --dest="$item" /StatusNotifierItem \
      org.kde.StatusNotifierItem.Activate int32:0 int32:0
  }
  check "Flinto's tray item shows the keyboard" wait_for 20 activate
  KX=$((work_x + work_w - 474)) KY=$((work_y + work_h - 156))
  keyboard_corner() { echo "$KX $KY"; }
  click_at() { click "$1" "$2" "$3"; }
  layout_file="$work/layout"
  layout_of "" >"$layout_file"
  sleep 1
  click_key 0x15
  check "カナ turns fcitx5 on" wait_for 10 fcitx5_on
  type_keys "${nihongo[@]}"
  check "n i h o n g o: the reading にほんご in the native view's preedit" \
    wait_for 10 preedit_is にほんご
  send move 640 150
  settle
  printf 'start\ndump %s\n' "$work/sim.png" | "$sim" >/dev/null
  shot "$work/kb.png" "$KX,$KY 474x156"
  differ=$(compare -metric AE "$work/kb.png" "$work/sim.png" null: 2>&1 | cut -d' ' -f1)
  check "the labels stay romaji ($differ pixels differ)" test "$differ" = 0
  click_key 0x20
  check "Space converts" wait_for 10 converted
  shown=$(cat "$text_file.preedit")
  click_key 0x0d
  check "Return commits a candidate of にほんご ($shown)" \
    wait_for 10 committed "$shown"
  check "one of the family" family "$shown"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
