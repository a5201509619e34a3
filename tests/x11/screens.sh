#!/usr/bin/env bash
# End-to-end tests of Flinto on the screens people have, on X11: two
# monitors of different heights (RandR monitors on a wide Xvfb), a monitor
# that goes, a desktop that asks for 2x (Xft.dpi 192), and i3, which
# publishes no work area (its bar reserves its edge by a strut), with the
# bar at the bottom and at the top. Flinto is driven by real pointer
# events. Prints "N passed, N failed".
#
# usage: screens.sh BUILD_DIR [PHASE]
set -u
build="$(cd "${1:?usage: screens.sh BUILD_DIR [PHASE]}" && pwd)"
only="${2:-}"
here="$(cd "$(dirname "$0")" && pwd)"
flinto="$build/flinto"
work="$(mktemp -d /tmp/flinto-screens.XXXXXX)"
. "$here/../checks.sh"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
pids=()
wm_pid=
cleanup() {
  stop_flinto
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

exec 5>"$work/displayfd"
Xvfb -displayfd 5 -noreset -screen 0 1824x768x24 -nolisten tcp \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 5>&-
wait_for 10 test -s "$work/displayfd" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$work/displayfd")"
setxkbmap -model jp106 -layout jp
"$build/tests/x11/flinto-target" "$work/target.log" &
pids+=($!)
wait_for 10 grep -q "^ready" "$work/target.log"
target_id=$(sed -n 's/^ready window=//p' "$work/target.log")

keyboard() { window_of FlintoFrame; }
shown() {
  local id
  id=$(keyboard | cut -d' ' -f1)
  [ -n "$id" ] && xwininfo -id "$id" | grep -q "Map State: IsViewable"
}
rect_is() { [ "$(keyboard | cut -d' ' -f2-)" = "$*" ]; }
# start_flinto [SETTINGS]: Flinto with these registry lines (none: a first
# run); with no tray on these desktops it shows itself.
start_flinto() {
  stop_flinto
  rm -rf "$XDG_CONFIG_HOME/flinto"
  if [ -n "${1:-}" ]; then
    mkdir -p "$XDG_CONFIG_HOME/flinto"
    printf '[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n%b' "$1" \
      >"$XDG_CONFIG_HOME/flinto/registry.txt"
  fi
  "$flinto" >>"$work/flinto.log" 2>&1 &
  flinto_pid=$!
  wait_for 10 shown
}
# drag_to X Y: the keyboard's background pressed at (3, 40) and the pointer
# moved to X Y.
drag_to() {
  local id x y w h
  read -r id x y w h < <(keyboard)
  xdotool mousemove $((x + 3)) $((y + 40)) mousedown 1
  xdotool mousemove $(((x + 3 + $1) / 2)) $(((y + 40 + $2) / 2))
  xdotool mousemove "$1" "$2"
  sleep 0.2
  xdotool mouseup 1
}
start_wm() { # COMMAND...
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  "$@" >>"$work/wm.log" 2>&1 &
  wm_pid=$!
  wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK
  sleep 0.5
}
phase() {
  [ -n "$only" ] && [ "$only" != "$1" ] && return 1
  echo "# $1"
  stop_flinto
  xrandr --delmonitor right >/dev/null 2>&1
  xrandr --delmonitor left >/dev/null 2>&1
  xrdb -remove 2>/dev/null
  xdotool mousemove 100 100
  return 0
}

# --- Two monitors of different heights ----------------------------------
if phase monitors; then
start_wm openbox --sm-disable --config-file "$here/openbox-rc.xml"
xrandr --setmonitor left 1024/271x768/203+0+0 screen >/dev/null
xrandr --setmonitor right 800/211x600/159+1024+0 none >/dev/null
xdotool windowmove "$target_id" 50 50 windowactivate "$target_id" 2>/dev/null
start_flinto
# The target is on the left monitor: its corner, not the screen's (which
# lies in the dead zone under the right monitor).
check "a first start: the corner of the monitor where the target is" \
  wait_for 5 rect_is 550 612 474 156
drag_to 1700 700
check "dragged across, the keyboard goes onto the right monitor, into its corner" \
  wait_for 5 rect_is 1350 444 474 156
start_flinto '"X"=dword:00000546\n"Y"=dword:000001bc\n' # 1350, 444
check "a position on the right monitor is kept at the next start" \
  wait_for 5 rect_is 1350 444 474 156
xrandr --delmonitor right >/dev/null
check "the right monitor goes: the keyboard moves the least, onto the left" \
  wait_for 5 rect_is 550 444 474 156
xrandr --setmonitor right 800/211x600/159+1024+0 none >/dev/null
sleep 1
check "a monitor plugged in again moves nothing" rect_is 550 444 474 156
fi

# --- A desktop that scales by 2 -----------------------------------------
if phase dpi; then
start_wm openbox --sm-disable --config-file "$here/openbox-rc.xml"
echo "Xft.dpi: 192" | xrdb -merge
start_flinto
check "Xft.dpi 192, a first start: unit 6, the keyboard twice the size" \
  wait_for 5 rect_is 876 456 948 312
start_flinto '"Unit"=dword:00000003\n'
check "a unit chosen before is kept" wait_for 5 rect_is 1350 612 474 156
fi

# --- i3: no work area published, a bar's strut ---------------------------
i3_session() { # POSITION
  cat >"$work/i3.conf" <<EOF
# i3 config file (v4)
bar {
  position $1
  status_command true
  tray_output none
}
EOF
  # (The bar of an i3 before goes with it, not at once.)
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  wm_pid=
  wait_for 10 not sh -c "xwininfo -root -tree | grep -q 'i3bar for output'"
  start_wm i3 -c "$work/i3.conf"
  wait_for 10 sh -c "xwininfo -root -tree | grep -q 'i3bar for output'"
  sleep 0.5
}
bar_height() {
  local id
  id=$(xwininfo -root -tree | sed -n 's/^ *\(0x[0-9a-f]*\) "i3bar for output.*/\1/p' | head -n1)
  xwininfo -id "$id" | sed -n 's/.*Height: *//p'
}
if phase i3; then
i3_session bottom
check "i3 publishes no work area" not sh -c "xprop -root _NET_WORKAREA | grep -q ' = '"
h=$(bar_height)
start_flinto
check "a first start above the bottom bar (${h:-?} high)" \
  wait_for 5 rect_is 1350 $((768 - h - 156)) 474 156
i3_session top
h=$(bar_height)
start_flinto
# i3's frames are override-redirect: the keyboard still goes over the
# tiled application's frame.
under_pointer_is_keyboard() {
  [ "$(printf '0x%x' "$(xdotool mousemove 1353 652 getmouselocation --shell | sed -n 's/^WINDOW=//p')")" = "$(keyboard | cut -d' ' -f1)" ]
}
check "over the tiled application's frame" wait_for 5 under_pointer_is_keyboard
drag_to 1500 5
check "under a top bar (${h:-?} high), a drag to the top snaps below it" \
  wait_for 5 rect_is 1350 "$h" 474 156
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
