#!/usr/bin/env bash
# End-to-end tests of Flinto on a real X server: Xvfb with a Japanese
# keyboard layout, the openbox window manager, the trayer tray, a compositor,
# and a target client of our own that logs every key event it
# receives. (The compositor is picom, with its xrender backend.) Flinto is driven only with real pointer events (xdotool) and
# found by its window class. Prints "N passed, N failed".
#
# usage: e2e.sh BUILD_DIR [PHASE]   (PHASE: one of the phases below alone;
#                                    each starts from a known state)
set -u
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: e2e.sh BUILD_DIR [PHASE]}" && pwd)"
only="${2:-}"
flinto="$build/flinto"
sim="$build/flinto-sim"
target="$build/tests/x11/flinto-target"
work="$(mktemp -d /tmp/flinto-e2e.XXXXXX)"
export XDG_CONFIG_HOME="$work/config"
. "$(dirname "$0")/../checks.sh"
pids=()

cleanup() {
  for pid in "${pids[@]}" "${wm_pid:-}" "${tray_pid:-}"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
  done
  [ -n "${flinto_pid:-}" ] && kill -9 "$flinto_pid" 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  if [ -n "${E2E_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- The desktop -------------------------------------------------------
exec 5>"$work/displayfd"
Xvfb -displayfd 5 -noreset -screen 0 1280x800x24 +extension Composite \
  -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 test -s "$work/displayfd" || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/displayfd")"
setxkbmap -model jp106 -layout jp
hostile="$build/tests/x11/flinto-hostile"
# caps_off: Caps Lock off, as another keyboard would set it.
caps_off() { "$hostile" lock caps 0; }
xkb_lock_group() { "$hostile" lock group "$1"; }
# A tray holds the system tray selection.
tray_running() {
  local owner
  owner=$("$build/tests/x11/flinto-hostile" owner _NET_SYSTEM_TRAY_S0)
  [[ "$owner" =~ ^0x[0-9a-f]+$ ]] && [ "$owner" != 0x0 ]
}
# start_wm, start_tray: the window manager (openbox) and the tray (trayer),
# each again if it is not running.
start_wm() {
  [ -n "${wm_pid:-}" ] && kill -0 "$wm_pid" 2>/dev/null && return 0
  openbox --sm-disable --config-file "$here/openbox-rc.xml" >>"$work/openbox.log" 2>&1 &
  wm_pid=$!
  # (The property outlives its window manager; its window does not.)
  wait_for 10 new_wm
}
start_tray() {
  # (A trayer that lost the selection to another tray does not take it back.)
  tray_running && return 0
  [ -n "${tray_pid:-}" ] && kill "$tray_pid" 2>/dev/null && wait "$tray_pid" 2>/dev/null
  trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
    --SetDockType true --SetPartialStrut true >>"$work/trayer.log" 2>&1 &
  tray_pid=$!
  wait_for 10 tray_running
}
new_wm() { info_of "$(xprop -root _NET_SUPPORTING_WM_CHECK | sed -n 's/.*# //p')" >/dev/null; }
info_of() {
  [ -n "$1" ] || return 1
  local id="$1"
  shift
  timeout 5 xwininfo -id "$id" "$@" 2>/dev/null
}
start_wm
picom --backend xrender >"$work/picom.log" 2>&1 &
pids+=($!)
start_tray
"$target" "$work/target.log" &
pids+=($!)
wait_for 10 grep -q "focus in" "$work/target.log"
target_id=$(sed -n 's/^ready window=//p' "$work/target.log")
active_is_target() {
  [ "$(xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //')" = "$target_id" ]
}
wait_for 10 active_is_target

start_flinto() {
  "$flinto" >>"$work/flinto.log" 2>&1 &
  flinto_pid=$!
  wait_for 10 window_of FlintoTray
}

keyboard() { window_of FlintoFrame; }
keyboard_viewable() {
  local id
  id=$(keyboard | cut -d' ' -f1)
  [ -n "$id" ] && xwininfo -id "$id" | grep -q "Map State: IsViewable"
}
keyboard_size_is() { [ "$(keyboard | cut -d' ' -f4,5)" = "$1 $2" ]; }
keyboard_at() { [ "$(keyboard | cut -d' ' -f2,3)" = "$1 $2" ]; }
tray_icon() { window_of FlintoTray | cut -d' ' -f2-; }
menu_open() { window_of FlintoMenu >/dev/null; }
click_tray() {
  local x y w h
  read -r x y w h < <(tray_icon)
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "${1:-1}"
}
target_log="$work/target.log"
layout_file="$work/layout"
# Where the keyboard is: asked each time, unless a loop that knows the
# keyboard stays put gives it (KEYBOARD_AT="X Y").
keyboard_corner() {
  if [ -n "${KEYBOARD_AT:-}" ]; then
    echo "$KEYBOARD_AT"
  else
    keyboard | cut -d' ' -f2,3
  fi
}
click_at() { xdotool mousemove "$1" "$2" click "$3"; }

# --- Phases ------------------------------------------------------------
# Each phase starts from a known state: no Flinto running, no settings
# (the defaults: the Full face at unit 3 in the bottom-right corner), the
# window manager and the tray running, the target in front. One that fails
# leaves the next as it would have found it. "e2e.sh BUILD PHASE" runs one.
phase() {
  [ -n "$only" ] && [ "$only" != "$1" ] && return 1
  echo "# $1"
  stop_flinto
  rm -rf "$XDG_CONFIG_HOME/flinto/registry.txt"
  pkill -x icewm 2>/dev/null
  start_wm
  start_tray
  xrandr --fb 1280x800 >/dev/null 2>&1
  setxkbmap -model jp106 -layout jp
  caps_off
  xdotool mousemove 640 400
  xdotool windowactivate "$target_id" 2>/dev/null
  wait_for 5 active_is_target
  layout_of "" >"$work/layout"
  return 0
}
# shown: Flinto started and its keyboard shown from the tray.
shown() {
  start_flinto
  click_tray
  wait_for 5 keyboard_viewable
  sleep 0.6 # the next click on the icon is not a double click
}
docked() {
  local id
  id=$(window_of FlintoTray | cut -d' ' -f1)
  [ -n "$id" ] && xwininfo -id "$id" -tree | grep -q 'Parent window id' &&
    ! xwininfo -id "$id" -tree | grep -q 'Parent window id: .*(the root window)'
}
exited() { ! kill -0 "$flinto_pid" 2>/dev/null; }

# --- Start and show ----------------------------------------------------
if phase start; then
start_flinto
layout_of "" >"$work/layout"
check "the tray icon docks in the tray" wait_for 10 docked
read -r tx ty tw th < <(tray_icon)
check "the tray icon is not one pixel wide" test "${tw:-0}" -ge 16
check "the keyboard starts hidden" not keyboard_viewable
click_tray
check "a click on the tray icon shows the keyboard" wait_for 5 keyboard_viewable
check "the target keeps the focus" active_is_target
read -r kid kx ky kw kh < <(keyboard)
check "the keyboard sits in the bottom-right corner, 474 x 156" test "$kw x $kh" = "474 x 156"

# The window's properties.
props=$(xprop -id "$kid")
check "input hint is off" grep -q "Client accepts input or input focus: False" <<<"$props"
check "no WM_TAKE_FOCUS" not grep -q WM_TAKE_FOCUS <<<"$props"
check "utility window type" grep -q "_NET_WM_WINDOW_TYPE_UTILITY" <<<"$props"
state=$(grep '_NET_WM_STATE(ATOM)' <<<"$props")
states_ok() {
  grep -q _NET_WM_STATE_ABOVE <<<"$state" &&
    grep -q _NET_WM_STATE_SKIP_TASKBAR <<<"$state" &&
    grep -q _NET_WM_STATE_SKIP_PAGER <<<"$state"
}
if states_ok; then ok "above, off the taskbar and the pager"; else fail "above, off the taskbar and the pager" "$state"; fi
check "class FlintoFrame of program flinto" grep -q 'WM_CLASS(STRING) = "flinto", "FlintoFrame"' <<<"$props"
check "title in UTF-8" grep -q '_NET_WM_NAME(UTF8_STRING) = "Flinto\\n(Full)"' <<<"$props"
check "transient for the target" grep -q "WM_TRANSIENT_FOR(WINDOW): window id # $target_id" <<<"$props"

# --- The pixels --------------------------------------------------------
timeout 10 import -window "$kid" "$work/screen.png"
printf 'start\ndump %s\n' "$work/sim.png" | "$sim" >/dev/null
diff_pixels=$(compare -metric AE "$work/screen.png" "$work/sim.png" null: 2>&1 | cut -d' ' -f1)
check "the window shows the picture flinto-sim dumps, pixel for pixel" test "$diff_pixels" = "0"

fi

# --- Every key of the Full face ----------------------------------------
if phase keys; then
shown
. "$(dirname "$0")/../keysyms.sh"
bad=()
count=0
lines_at_least() { [ "$(wc -l <"$work/target.log")" -ge "$1" ]; }
read -r kid kx ky kw kh < <(keyboard)
KEYBOARD_AT="$kx $ky"
while read -r id x y w h text; do
  case "$id" in 0xff*) continue ;; esac # the buttons
  before=$(log_lines)
  click_key "$id"
  if ! wait_for 3 lines_at_least $((before + 2)) &&
    [ "$id" != 0x2c ]; then
    bad+=("$id: no events")
    continue
  fi
  count=$((count + 1))
  line=$(new_events "$before" | grep -m1 '^press')
  if [ "$id" = 0x2c ]; then
    # openbox grabs the keyboard on Print (whatever its key bindings): the
    # target sees the release at most, or only the grab taking its focus.
    line=$(new_events "$before" | grep -m1 'keysym=Print\|focus out')
    [[ "$line" == "focus out" ]] && line="press keysym=Print (taken by openbox)"
    line="$line " 
    xdotool windowactivate --sync "$target_id" 2>/dev/null
    wait_for 5 active_is_target
    # The keyboard follows the foreground: it is made anew for the target.
    sleep 0.5
    wait_for 5 keyboard_viewable
  fi
  if [ -n "${keysyms[$id]:-}" ]; then
    grep -q "keysym=${keysyms[$id]} " <<<"$line" || bad+=("$id: $line")
  else
    [[ "$line" == *" text=$text" ]] || bad+=("$id '$text': $line")
  fi
done <"$work/layout"
unset KEYBOARD_AT
if [ ${#bad[@]} -eq 0 ] && [ "$count" -eq 89 ]; then
  ok "all 89 keys of the Full face type their label's first line (or keysym)"
else
  fail "all 89 keys of the Full face type their label's first line ($count typed)" "${bad[@]}"
fi
check "the target kept the focus through all of them" active_is_target

fi

# --- Latch, copy, repeat -----------------------------------------------
if phase latch; then
shown
before=$(log_lines)
click_key 0x10 3
click_key 0x41
wait_for 3 grep -q "release keycode=50 keysym=Shift_L" <(new_events "$before")
check "Shift latched, then a: a capital A, Shift up after it" \
  sh -c "new_events() { tail -n +$((before + 1)) '$work/target.log'; }; new_events | grep -q 'press keycode=38 keysym=A state=0x.*1 text=A' && new_events | tail -n1 | grep -q 'release keycode=50 keysym=Shift_L'"
before=$(log_lines)
click_key 0xff11
wait_for 3 sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'release keycode=37'"
check "COPY sends Control+c" sh -c "tail -n +$((before + 1)) '$work/target.log' | grep '^press' | tr '\n' ' ' | grep -q 'keysym=Control_L .*keycode=54 keysym=c state=0x4'"
before=$(log_lines)
read -r x y < <(key_centre 0x42)
xdotool mousemove "$x" "$y" mousedown 1
sleep 1.2
xdotool mouseup 1
wait_for 3 sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q '^release keycode=56'"
repeats=$(new_events "$before" | grep -c '^press keycode=56')
check "a key held over the keyboard repeats ($repeats key-downs in 1.2 s)" test "$repeats" -ge 5

fi

caps_on() { xset q | grep -q "Caps Lock: *on"; }

# --- Caps Lock and the labels ------------------------------------------
if phase labels; then
shown
read -r kid kx ky kw kh < <(keyboard)
# like_sim NAME STATE: the keyboard's picture equals flinto-sim's with the
# physical STATE ("" for none); prints the pixels that differ.
like_sim() {
  timeout 10 import -window "$kid" "$work/$1.png"
  { [ -n "$2" ] && echo "physical $2 on"
    printf 'start\ntray left\ntick\ndump %s\n' "$work/sim-$1.png"; } | "$sim" >/dev/null
  compare -metric AE "$work/$1.png" "$work/sim-$1.png" null: 2>&1 | cut -d' ' -f1
}
# Caps alone is 英数 for the input method, as the physical key of a JIS
# keyboard: Eisu_toggle, and Caps Lock stays off.
before=$(log_lines)
click_key 0x14
wait_for 3 grep -q "^release keycode=66" <(new_events "$before")
check "Caps alone sends Eisu_toggle" grep -q "^press keycode=66 keysym=Eisu_toggle" <(new_events "$before")
check "and leaves Caps Lock off" not caps_on
# With Shift it is Caps Lock.
before=$(log_lines)
click_key 0x10 3
click_key 0x14
wait_for 3 caps_on
check "Shift latched, then Caps: Caps_Lock, and the lock is on" \
  sh -c "caps_on() { xset q | grep -q 'Caps Lock: *on'; }; caps_on && tail -n +$((before + 1)) '$work/target.log' | grep -q '^press keycode=66 keysym=Caps_Lock'"
sleep 0.4
diff_pixels=$(like_sim caps caps)
check "Caps Lock on: the labels show capitals within a tick, as flinto-sim draws them" test "$diff_pixels" = "0"
before=$(log_lines)
click_key 0x41
wait_for 3 grep -q "text=A" <(new_events "$before")
check "Caps Lock on: a types A" sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'press keycode=38 .*text=A'"
click_key 0x10 3
click_key 0x14
wait_for 3 not caps_on
check "Shift latched and Caps again: the lock is off" not caps_on

# Kana: the labels show what the keys type. A click on カナ sends the key
# to the input method and leaves the labels as they are.
click_key 0x15
sleep 0.4
diff_pixels=$(like_sim kana-key "")
check "カナ clicked: the labels stay romaji ($diff_pixels pixels differ)" test "$diff_pixels" = "0"
# A keymap whose letter keys type kana shows kana, within a tick.
setxkbmap -model jp106 -layout jp -variant kana
sleep 0.4
diff_pixels=$(like_sim kana kana)
check "a kana keymap: the labels show kana, as flinto-sim draws them ($diff_pixels pixels differ)" test "$diff_pixels" = "0"
before=$(log_lines)
click_key 0x41
wait_for 3 grep -q "^release keycode=38" <(new_events "$before")
check "and A types チ there" grep -q "^press keycode=38 keysym=kana_CHI" <(new_events "$before")
# A second group with kana: the labels follow the group locked.
setxkbmap -model jp106 -layout jp,jp -variant ,kana
sleep 0.4
diff_pixels=$(like_sim kana-group1 "")
check "jp and jp(kana), the first group locked: romaji ($diff_pixels pixels differ)" test "$diff_pixels" = "0"
xkb_lock_group 1
sleep 0.4
diff_pixels=$(like_sim kana-group2 kana)
check "the second group locked: kana ($diff_pixels pixels differ)" test "$diff_pixels" = "0"
setxkbmap -model jp106 -layout jp
sleep 0.4
diff_pixels=$(like_sim kana-off "")
check "the jp keymap again: romaji ($diff_pixels pixels differ)" test "$diff_pixels" = "0"

# A held Caps key is pressed once, as a physical key is: with Shift, it
# locks Caps Lock once.
before=$(log_lines)
click_key 0x10 3
read -r x y < <(key_centre 0x14)
xdotool mousemove "$x" "$y" mousedown 1
sleep 1.2
xdotool mouseup 1
wait_for 3 grep -q "^release keycode=66" <(new_events "$before")
check "Shift latched, Caps held for 1.2 s: Caps Lock on" caps_on
presses=$(new_events "$before" | grep -c "^press keycode=66")
check "and one press of the key ($presses)" test "$presses" = 1
click_key 0x10 3
click_key 0x14
check "and Shift with a click turns it off" wait_for 3 not caps_on

# Alt latched: the window manager takes no click (Alt+f reaches the
# application), it can always be clicked off, and it never taps alone.
before=$(log_lines)
click_key 0x12 3
click_key 0x46
wait_for 3 grep -q "release keycode=64 keysym=Alt_L" <(new_events "$before")
f_state=$(new_events "$before" | sed -n 's/^press keycode=41 keysym=f state=\(0x[0-9a-f]*\).*/\1/p' | head -n1)
check "Alt latched, then f: Alt+f reaches the application (state ${f_state:-none})" \
  test $(( ${f_state:-0} & 0x8 )) -ne 0
before=$(log_lines)
click_key 0x12 3
sleep 1
alt_taps=$(new_events "$before" | grep -c "keysym=Alt_L")
check "Alt latched with the pointer resting on it: pressed once, no lone taps ($alt_taps events)" test "$alt_taps" -eq 1
click_key 0x12 3
wait_for 3 grep -q "release keycode=64 keysym=Alt_L" <(new_events "$before")
check "a latched Alt is clicked off" sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'release keycode=64 keysym=Alt_L'"

# A latched key with the pointer on the application is not repeated by the
# server: its repeat is turned off once the key has been down half the
# server's repeat delay (660 ms here), and a click, shorter, leaves the
# server's controls alone (each change wakes every XKB client).
xprop -root -spy _FLINTO_NO_REPEAT >"$work/no-repeat.log" 2>&1 &
spy=$!
sleep 0.3
click_key 0x41
sleep 0.5
check "a click on a leaves the server's repeat alone" \
  not grep -q "= 38" "$work/no-repeat.log"
before=$(log_lines)
click_key 0x41 3
xdotool mousemove 200 300
sleep 1
a_presses=$(new_events "$before" | grep -c "press keycode=38")
check "a latched a is not repeated by the server ($a_presses presses in 1 s)" test "$a_presses" -eq 1
check "its repeat was turned off while it was held" grep -q "= 38" "$work/no-repeat.log"
click_key 0x41 3
kill "$spy" 2>/dev/null

# The Num face types digits, also with NumLock off.
click_key 0xff04
layout_of "setting Face dword 1" >"$work/layout"
wait_for 5 keyboard_size_is 144 156
before=$(log_lines)
click_key 0x61
click_key 0x6e
click_key 0x69
wait_for 3 grep -q "text=9" <(new_events "$before")
check "the Num face types 1 . 9 with NumLock off" \
  test "$(new_events "$before" | sed -n 's/^press .* text=//p' | tr -d '\n')" = "1.9"
check "and NumLock is off afterwards" not sh -c 'xset q | grep -q "Num Lock: *on"'
click_key 0xff03
layout_of "" >"$work/layout"
wait_for 5 keyboard_size_is 474 156

fi

# Moved by someone else (a pager), the keyboard's keys answer where they are.
if phase moves; then
shown
read -r kid kx ky kw kh < <(keyboard)
xdotool windowmove "$kid" 300 200
wait_for 5 keyboard_at 300 200
before=$(log_lines)
click_key 0x41
wait_for 3 grep -q "text=a" <(new_events "$before")
check "moved by a pager, a click on a still types a" sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'press keycode=38 .*text=a'"

# The screen gets smaller: a keyboard left out of reach comes back.
xdotool windowmove "$kid" 1000 600
wait_for 5 keyboard_at 1000 600
xrandr --fb 800x600 >/dev/null 2>&1
in_reach() {
  local id x y w h
  read -r id x y w h < <(keyboard)
  [ $((x + w)) -le 800 ] && [ $((y + h)) -le 600 ] && [ "$x" -ge 0 ] && [ "$y" -ge 0 ]
}
check "the screen shrinks to 800 x 600: the keyboard is placed back in reach" wait_for 5 in_reach
before=$(log_lines)
click_key 0x42
wait_for 3 grep -q "text=b" <(new_events "$before")
check "and its keys answer there" sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'text=b'"
xrandr --fb 1280x800 >/dev/null 2>&1

fi

# The window manager goes away: the input focus is the foreground.
if phase no_wm; then
shown
kill "$wm_pid"
wait "$wm_pid" 2>/dev/null
sleep 0.5
xdotool windowfocus "$target_id"
before=$(log_lines)
click_key 0x43
wait_for 3 grep -q "text=c" <(new_events "$before")
check "without a window manager, a click still types into the focused target" sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'text=c'"
start_wm
xdotool windowactivate "$target_id" 2>/dev/null
wait_for 5 active_is_target
before=$(log_lines)
click_key 0x44
wait_for 3 grep -q "text=d" <(new_events "$before")
check "with the window manager back, a click types into the target" sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'text=d'"

fi

# --- Stacking: over applications, under other programs' popups --------
# (a menu or an input method's candidate list, which must stay clickable)
if phase stacking; then
shown
# top_of WINDOW: the root's child that holds the window (its frame).
top_of() {
  local id=$1 parent
  while parent=$(xwininfo -id "$id" -tree 2>/dev/null |
    sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p') &&
    [ -n "$parent" ] && ! xwininfo -id "$parent" 2>/dev/null | grep -q '(the root window)'; do
    id=$parent
  done
  printf '0x%x\n' "$id"
}
# red_at X Y: the screen shows the popup's red there.
red_at() { timeout 10 import -window root -crop "1x1+$1+$2" txt:- 2>/dev/null | grep -q ' red$'; }
read -r kid kx ky kw kh < <(keyboard)
"$hostile" popup $((kx + 40)) $((ky + 40)) 160 60 >"$work/popup.id" &
popup_pid=$!
wait_for 5 test -s "$work/popup.id"
popup=$(head -n1 "$work/popup.id")
# The application moved over the keyboard and raised by the window manager.
xdotool windowmove "$target_id" $((kx - 200)) $((ky - 100))
xdotool windowactivate "$target_id" 2>/dev/null
xdotool windowraise "$(top_of "$target_id")" 2>/dev/null
check "an application raised over the keyboard goes under it" \
  wait_for 5 above "$kid" "$(top_of "$target_id")"
check "another program's popup stays above the keyboard" above "$popup" "$kid"
check "and shows on the screen over it" red_at $((kx + 120)) $((ky + 70))
# Shown again while the popup is up: mapped on top, then under the popup.
click_tray
wait_for 5 not keyboard_viewable
sleep 0.6
click_tray
wait_for 5 keyboard_viewable
kid=$(keyboard | cut -d' ' -f1)
check "shown again, the keyboard goes under the popup" wait_for 5 above "$popup" "$kid"
check "and over the application" above "$kid" "$(top_of "$target_id")"
kill "$popup_pid" 2>/dev/null
wait "$popup_pid" 2>/dev/null
# Without a window manager, an ordinary window raised over it goes under.
kill "$wm_pid"
wait "$wm_pid" 2>/dev/null
wait_for 5 test "$(top_of "$target_id")" = "$target_id"
xdotool windowraise "$target_id"
# (The keyboard may be made anew for the focus, the foreground now.)
keyboard_above_target() { above "$(keyboard | cut -d' ' -f1)" "$target_id"; }
check "without a window manager, a window raised over the keyboard goes under it" \
  wait_for 5 keyboard_above_target
start_wm
xdotool windowmove "$target_id" 50 50

fi

# --- The context menu --------------------------------------------------
if phase menu; then
shown
read -r kid kx ky kw kh < <(keyboard)
xdotool mousemove $((kx + 3)) $((ky + 40)) click 3
check "a right click on the background opens the menu" wait_for 5 menu_open
read -r mid mx my mw mh < <(window_of FlintoMenu)
xdotool mousemove $((mx + 40)) $((my + $(menu_middle 40006))) click 1 # Shrink
check "choosing shrink makes the keyboard smaller" wait_for 5 keyboard_size_is 316 104
layout_of "setting Unit dword 2" >"$work/layout"
# Made anew at its new size, the window is painted whole from the new
# picture.
shrunk_like_sim() {
  read -r kid kx ky kw kh < <(keyboard)
  timeout 10 import -window "$kid" "$work/shrunk.png"
  printf 'setting Unit dword 2\nstart\ntray left\ntick\ndump %s\n' \
    "$work/sim-shrunk.png" | "$sim" >/dev/null
  [ "$(compare -metric AE "$work/shrunk.png" "$work/sim-shrunk.png" null: 2>&1 |
    cut -d' ' -f1)" = "0" ]
}
check "shrunk, it shows flinto-sim's picture at that size, pixel for pixel" \
  wait_for 5 shrunk_like_sim
check "the target still has the focus after the menu" active_is_target

# --- Translucency (a compositor is running) ----------------------------
read -r kid kx ky kw kh < <(keyboard)
xdotool mousemove $((kx + 2)) $((ky + 30)) click 3
wait_for 5 menu_open
read -r mid mx my mw mh < <(window_of FlintoMenu)
xdotool mousemove $((mx + 40)) $((my + $(menu_middle 40008))) click 1 # Translucent
opacity_is() { xprop -id "$(keyboard | cut -d' ' -f1)" _NET_WM_WINDOW_OPACITY | grep -q "= $1\$"; }
opacity_set() { xprop -id "$(keyboard | cut -d' ' -f1)" _NET_WM_WINDOW_OPACITY | grep -q "= [0-9]"; }
check "translucency sets the opacity property" wait_for 5 opacity_set
xdotool mousemove 100 400
check "away from the pointer the keyboard fades to 32" wait_for 5 opacity_is 538976288
read -r kid kx ky kw kh < <(keyboard)
xdotool mousemove $((kx + 2)) $((ky + 30))
check "with the pointer back on it, it comes back to 224" wait_for 5 opacity_is 3772834016

# --- Dragging ----------------------------------------------------------
read -r kid kx ky kw kh < <(keyboard)
xdotool mousemove $((kx + 2)) $((ky + 30)) mousedown 1 mousemove 500 300 mousemove 20 $((300 + 28)) mouseup 1
check "dragged near the left edge, the keyboard snaps to it" wait_for 5 keyboard_at 0 298

# --- A click outside the menu closes it, choosing nothing ---------------
read -r kid kx ky kw kh < <(keyboard)
xdotool mousemove $((kx + 2)) $((ky + 30)) click 3
wait_for 5 menu_open
xdotool mousemove 640 20 click 1
check "a click outside closes the menu" wait_for 5 not menu_open
check "and changes nothing" keyboard_size_is 316 104

fi

# --- The tray restarts ---------------------------------------------------
if phase tray_restarts; then
shown
kill "$tray_pid"
wait "$tray_pid" 2>/dev/null
start_tray
check "when the tray starts again, the icon docks again" wait_for 10 docked

fi

# --- Quiet when idle -----------------------------------------------------
if phase idle; then
shown
# Wake-ups are context switches of the process: none while the keyboard is
# shown and untouched with the pointer away, none while hidden.
switches() {
  awk '/^voluntary_ctxt_switches/ {v=$2} /^nonvoluntary_ctxt_switches/ {n=$2} END {print v + n}' \
    "/proc/$flinto_pid/status"
}
read -r kid kx ky kw kh < <(keyboard)
# (Seen to count: a key held down repeats, ten ticks a second.)
xdotool mousemove $((kx + 63)) $((ky + 105)) mousedown 1
sleep 0.5
s0=$(switches)
sleep 2
s1=$(switches)
xdotool mouseup 1
check "a key held down: it ticks ($((s1 - s0)) wake-ups in 2 s)" test $((s1 - s0)) -ge 10
xdotool mousemove $((kx + 2)) $((ky + 30))
sleep 0.5
s0=$(switches)
sleep 2
s1=$(switches)
check "the pointer resting on the keyboard, nothing held: no wake-ups in 2 s ($((s1 - s0)))" \
  test $((s1 - s0)) -le 2
xdotool mousemove 640 400
sleep 0.5
s0=$(switches)
sleep 2
s1=$(switches)
check "shown and untouched: no wake-ups in 2 s ($((s1 - s0)))" test $((s1 - s0)) -le 2
click_tray
wait_for 5 not keyboard_viewable
sleep 0.5
s0=$(switches)
sleep 2
s1=$(switches)
check "hidden: no wake-ups in 2 s ($((s1 - s0)))" test $((s1 - s0)) -le 2

fi

# --- One Flinto per display ---------------------------------------------
if phase second_start; then
start_flinto
timeout 10 "$flinto" >"$work/second.log" 2>&1
status=$?
check "a second start ends at once with status 0" test "$status" -eq 0
check "and shows the running keyboard" wait_for 5 keyboard_viewable
check "the target keeps the focus" active_is_target
check "one tray icon" test "$(xdotool search --class '^FlintoTray$' | wc -l)" -eq 1
# The running keyboard holds Shift (latched) and has turned the server's
# repeat off for its keys: another start must leave both alone.
xdotool windowactivate "$target_id" 2>/dev/null
wait_for 5 active_is_target
before=$(log_lines)
click_key 0x10 3
check "Shift latched on the running keyboard" \
  wait_for 3 grep -q "press keycode=50" <(new_events "$before")
repeat_record=$(xprop -root _FLINTO_XTEST_REPEAT)
timeout 10 "$flinto" >"$work/third.log" 2>&1
check "another start ends with status 0" test $? -eq 0
# A key typed after it comes after anything that start sent.
xdotool key b
wait_for 5 grep -q "press keycode=56" <(new_events "$before")
check "the running keyboard's Shift is still down" \
  sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'press keycode=56' && ! tail -n +$((before + 1)) '$work/target.log' | grep -q 'release keycode=50'"
check "and its record of the server's repeat is kept ($repeat_record)" \
  test "$(xprop -root _FLINTO_XTEST_REPEAT)" = "$repeat_record"
click_key 0x10 3
check "Shift is let go by the running keyboard" \
  wait_for 3 grep -q "release keycode=50" <(new_events "$before")

fi

# --- The tray goes away while the keyboard is hidden ---------------------
if phase tray_gone; then
shown
click_tray
wait_for 5 not keyboard_viewable
kill "$tray_pid"
wait "$tray_pid" 2>/dev/null
check "the tray going away shows the hidden keyboard" wait_for 5 keyboard_viewable
start_tray
check "and the icon docks when a tray comes back" wait_for 10 docked

fi

# --- Another window manager's tray takes over (icewm) ---------------------
if phase icewm; then
shown
# The icon goes to the tray that takes the selection, and is never left on
# the desktop when that tray goes.
# (The keyboard away from the bottom, where icewm's taskbar comes.)
xdotool windowmove "$(keyboard | cut -d' ' -f1)" 300 200
wait_for 5 keyboard_at 300 200
stop_process "$wm_pid"
icewm >"$work/icewm.log" 2>&1 &
icewm_pid=$!
in_icewm_tray() { info_of "$(window_of FlintoTray | cut -d' ' -f1)" -tree | grep -q 'Parent window id: .*"YXTrayEmbedder"'; }
check "icewm's tray takes over: the icon docks there" wait_for 10 in_icewm_tray
check "at a size it can be seen (not one pixel wide)" test "$(window_of FlintoTray | cut -d' ' -f4)" -ge 16
click_tray
check "and a click on it hides the keyboard" wait_for 5 not keyboard_viewable
stop_process "$icewm_pid"
check "icewm gone: the hidden keyboard shows itself" wait_for 5 keyboard_viewable
icon_unmapped() { info_of "$(window_of FlintoTray | cut -d' ' -f1)" | grep -q IsUnMapped; }
check "and the icon is not left on the desktop" icon_unmapped
start_wm

fi

# --- The tray toggles, SIGTERM releases --------------------------------
if phase sigterm; then
shown
layout_of "" >"$work/layout"
click_tray
check "a second click on the tray icon hides the keyboard" wait_for 5 not keyboard_viewable
click_tray
wait_for 5 keyboard_viewable
focused_is_target() { [ "$(printf '0x%x' "$(xdotool getwindowfocus)")" = "$target_id" ]; }
check "after the tray clicks the target still has the keyboard focus" wait_for 3 focused_is_target
before=$(log_lines)
click_key 0x11 3
wait_for 3 grep -q "press keycode=37" <(new_events "$before")
kill -TERM "$flinto_pid"
wait "$flinto_pid" 2>/dev/null
status=$?
check "SIGTERM ends Flinto normally" test "$status" -eq 0
check "a Ctrl latched at SIGTERM is released" sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'release keycode=37 keysym=Control_L'"
check "the settings are saved at exit" grep -q '"Unit"=dword:00000003' "$XDG_CONFIG_HOME/flinto/registry.txt"
check "the tray icon is gone" not window_of FlintoTray

fi

# --- SIGTERM as the application typed into closes -----------------------
if phase sigterm_target_closes; then
start_flinto
click_tray
wait_for 5 keyboard_viewable
"$target" "$work/target2.log" &
target2=$!
wait_for 10 grep -q "focus in" "$work/target2.log"
sleep 0.3
kill "$target2"
kill -TERM "$flinto_pid"
check "SIGTERM as the target closes still ends Flinto" wait_for 5 exited
wait "$flinto_pid" 2>/dev/null
status=$?
check "with status 0" test "$status" -eq 0

fi

# --- The application closes while the menu is open -----------------------
if phase menu_target_closes; then
start_flinto
click_tray
wait_for 5 keyboard_viewable
"$target" "$work/target3.log" &
target3=$!
wait_for 10 grep -q "focus in" "$work/target3.log"
target3_id=$(sed -n 's/^ready window=//p' "$work/target3.log")
# The keyboard goes with the application typed into: it is made for it.
owned_by_target3() {
  xprop -id "$(keyboard | cut -d' ' -f1)" WM_TRANSIENT_FOR 2>/dev/null |
    grep -q "window id # $target3_id\$"
}
check "a keyboard for the application typed into" wait_for 5 owned_by_target3
old_kid=$(keyboard | cut -d' ' -f1)
read -r kid kx ky kw kh < <(keyboard)
xdotool mousemove $((kx + 3)) $((ky + 40)) click 3
wait_for 5 menu_open
kill "$target3"
wait "$target3" 2>/dev/null
remade() { local id; id=$(keyboard | cut -d' ' -f1); [ -n "$id" ] && [ "$id" != "$old_kid" ] && keyboard_viewable; }
check "its keyboard goes with it and is made anew" wait_for 5 remade
check "the menu still open" menu_open
menu_over_keyboard() {
  above "$(window_of FlintoMenu | cut -d' ' -f1)" "$(keyboard | cut -d' ' -f1)"
}
check "the keyboard made anew while the menu is open goes under it" \
  wait_for 5 menu_over_keyboard
xdotool key Escape
wait_for 5 not menu_open

fi

# --- SIGTERM while the menu is open ---------------------------------------
if phase sigterm_menu; then
start_flinto
click_tray
wait_for 5 keyboard_viewable
read -r kid kx ky kw kh < <(keyboard)
xdotool mousemove $((kx + 3)) $((ky + 40)) click 3
wait_for 5 menu_open
kill -TERM "$flinto_pid"
check "SIGTERM while the menu is open ends Flinto" wait_for 5 exited
wait "$flinto_pid" 2>/dev/null
status=$?
check "with status 0, the menu gone" sh -c "[ $status -eq 0 ] && ! xdotool search --class '^FlintoMenu\$' >/dev/null 2>&1"

fi

# --- Settings that cannot be saved ---------------------------------------
if phase unsavable; then
mkdir -p "$XDG_CONFIG_HOME/flinto/registry.txt"
start_flinto
kill -TERM "$flinto_pid"
wait "$flinto_pid" 2>/dev/null
check "settings that cannot be saved are reported in one line" \
  test "$(grep -c 'settings could not be saved' "$work/flinto.log")" -eq 1
rmdir "$XDG_CONFIG_HOME/flinto/registry.txt"

fi

# --- Killed with keys down -----------------------------------------------
if phase killed; then
shown
before=$(log_lines)
click_key 0x10 3
click_key 0x11 3
wait_for 3 grep -q "press keycode=37" <(new_events "$before")
kill -9 "$flinto_pid"
wait "$flinto_pid" 2>/dev/null
before=$(log_lines)
start_flinto
wait_for 5 grep -q "release keycode=37" <(new_events "$before")
check "a Flinto killed with Shift and Ctrl latched: the next one lets them go" \
  sh -c "tail -n +$((before + 1)) '$work/target.log' | grep -q 'release keycode=50' && tail -n +$((before + 1)) '$work/target.log' | grep -q 'release keycode=37'"
kill -TERM "$flinto_pid"
wait "$flinto_pid" 2>/dev/null
check "and the repeat it turned off is restored" not sh -c 'xprop -root | grep -q "_FLINTO_NO_REPEAT\|_FLINTO_XTEST_REPEAT"'

fi

# --- Other clients taking Flinto's windows away ---------------------------
if phase hostile; then
hostile="$build/tests/x11/flinto-hostile"
id_of() { window_of "$1" | cut -d' ' -f1; }
selection_owner() { "$hostile" owner _FLINTO_S0; }
start_flinto
click_tray
wait_for 5 keyboard_viewable
xdotool windowactivate "$target_id" 2>/dev/null
wait_for 5 active_is_target
old_id=$(id_of FlintoFrame)
"$hostile" destroy "$old_id"
replaced() { local id; id=$(id_of "$1"); [ -n "$id" ] && [ "$id" != "$2" ]; }
check "a keyboard destroyed by another client is made anew at once" \
  wait_for 5 replaced FlintoFrame "$old_id"
check "and shown" wait_for 5 keyboard_viewable
before=$(log_lines)
click_key 0x41
check "and it types" wait_for 3 grep -q "press keycode=38" <(new_events "$before")
old_id=$(id_of FlintoHidden)
check "the owner window holds the instance selection" test "$(selection_owner)" = "$old_id"
"$hostile" destroy "$old_id"
new_owner() { local o; o=$(selection_owner); [ "$o" != 0x0 ] && [ "$o" != "$old_id" ] && [ "$o" = "$(id_of FlintoHidden)" ]; }
check "the owner window destroyed: a new one holds the selection again" wait_for 5 new_owner
timeout 5 "$flinto" >>"$work/flinto.log" 2>&1
check "and a second start hands over to the running Flinto (status 0)" test $? -eq 0
check "which is still the only one" test "$(xdotool search --class '^FlintoHidden$' | wc -l)" -eq 1
old_id=$(id_of FlintoTray)
"$hostile" destroy "$old_id"
icon_back() { replaced FlintoTray "$old_id" && docked; }
check "the tray icon destroyed: a new one docks" wait_for 5 icon_back
kill -TERM "$flinto_pid"
wait "$flinto_pid" 2>/dev/null
# Something that is not a Flinto holds the selection: Flinto starts all the
# same, takes it over, and takes it back when it is taken again.
"$hostile" squat _FLINTO_S0 >"$work/squat.log" &
squatter=$!
wait_for 5 grep -q ready "$work/squat.log"
start_flinto
check "a selection held by another program does not stop a start" test -n "$(id_of FlintoTray)"
taken_over() {
  grep -q 'not a Flinto, holds _FLINTO_S0' "$work/flinto.log" &&
    [ "$(selection_owner)" = "$(id_of FlintoHidden)" ]
}
check "which takes it over and says so" wait_for 5 taken_over
kill "$squatter"
"$hostile" squat _FLINTO_S0 >"$work/squat.log" &
squatter=$!
wait_for 5 grep -q ready "$work/squat.log"
taken_back() { [ "$(selection_owner)" = "$(id_of FlintoHidden)" ]; }
check "and takes it back when another program takes it" wait_for 5 taken_back
check "saying so" grep -q "taking it back" "$work/flinto.log"
kill "$squatter"
# The whole client killed (xkill) with Shift latched: the connection is
# lost, and Shift is let go on a new one.
click_tray
wait_for 5 keyboard_viewable
before=$(log_lines)
click_key 0x10 3
wait_for 3 grep -q "press keycode=50" <(new_events "$before")
xdotool windowkill "$(id_of FlintoFrame)"
wait "$flinto_pid" 2>/dev/null
status=$?
check "xkill of the keyboard ends Flinto with status 1" test "$status" -eq 1
check "and the latched Shift is let go" wait_for 3 grep -q "release keycode=50" <(new_events "$before")
check "nothing is left down in the server" test -z "$("$hostile" keys)"

fi

# --- A server without XTEST ----------------------------------------------
if phase no_xtest; then
exec 6>"$work/displayfd-bare"
Xvfb -displayfd 6 -noreset -extension XTEST -screen 0 640x480x24 \
  -nolisten tcp >"$work/xvfb-bare.log" 2>&1 &
bare_pid=$!
exec 6>&-
wait_for 10 test -s "$work/displayfd-bare"
DISPLAY=":$(head -n1 "$work/displayfd-bare")" timeout 20 "$flinto" \
  >"$work/bare.log" 2>&1
status=$?
kill "$bare_pid" 2>/dev/null
wait "$bare_pid" 2>/dev/null
check "a server without XTEST: Flinto ends with status 1, saying why" \
  sh -c "[ $status -eq 1 ] && grep -q 'the X server has no XTEST extension to send key events with' '$work/bare.log'"

fi

# --- Losing the server ---------------------------------------------------
if phase server_lost; then
start_flinto
kill "$xvfb_pid"
wait "$xvfb_pid" 2>/dev/null
xvfb_pid=
wait "$flinto_pid" 2>/dev/null
status=$?
check "losing the X server ends Flinto with a message" sh -c "[ $status -ne 0 ] && grep -q 'connection to the X server was lost' '$work/flinto.log'"

fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
