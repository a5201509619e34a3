#!/usr/bin/env bash
# End-to-end tests of Flinto as a Wayland client: a headless sway (its bar
# hosts the tray item; Xwayland for an X11 target), a virtual pointer and
# keyboard of our own as the seat's devices, and two targets that log every
# key event they receive: a native Wayland client and the X11 one. Flinto is
# driven only by pointer events through the compositor, and seen by
# screenshots (grim) and the targets' logs. Prints "N passed, N failed".
#
# usage: e2e.sh BUILD_DIR [PHASE]   (PHASE: one of the phases below alone;
#                                    each starts from a known state)
set -u
build="$(cd "${1:?usage: e2e.sh BUILD_DIR [PHASE]}" && pwd)"
only="${2:-}"
sim="$build/flinto-sim"
work="$(mktemp -d /tmp/flinto-wl-e2e.XXXXXX)"
chmod 755 "$work"
. "$(dirname "$0")/../checks.sh"
pids=()

. "$(dirname "$0")/session.sh"
wl_prepare "$work" "$build" || exit 1

cleanup() {
  [ -n "${flinto_pid:-}" ] && kill -9 "$flinto_pid" 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wl_stop_session
  wait 2>/dev/null
  if [ -n "${E2E_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- Flinto chooses its host -------------------------------------------
if [ -z "$only" ] || [ "$only" = host ]; then
echo "# host"
out=$(WAYLAND_DISPLAY=wayland-none FLINTO_HOST=wayland as_user "$work/bin/flinto" 2>&1)
status=$?
says() { [ "$status" -eq 1 ] && grep -q "$1" <<<"$out"; }
check "FLINTO_HOST=wayland without a compositor: a clear error, status 1" \
  says 'FLINTO_HOST=wayland, but cannot connect'
check "in one line" test "$(wc -l <<<"$out")" -eq 1
# Not chosen: the Wayland program hands the start back to the X11 one,
# whose one line says why neither runs.
out=$(WAYLAND_DISPLAY=wayland-none as_user "$work/bin/flinto" 2>&1)
status=$?
check "a compositor that cannot be reached and no X display: both reasons, status 1" \
  says 'cannot connect to the Wayland compositor "wayland-none", and cannot open the X display'
check "in one line" test "$(wc -l <<<"$out")" -eq 1
out=$(FLINTO_HOST=beos as_user "$work/bin/flinto" 2>&1)
status=$?
check "an unknown FLINTO_HOST: status 1" says 'must be x11 or wayland'
# flinto runs the host's program from its own folder: without the Wayland
# one, the X11 one says so; without the X11 one, flinto says what it tried.
mkdir -p "$work/bin/no-wayland" "$work/bin/alone"
cp "$work/bin/flinto" "$work/bin/flinto-x11" "$work/bin/no-wayland/"
cp "$work/bin/flinto" "$work/bin/alone/"
out=$(WAYLAND_DISPLAY=wayland-none as_user "$work/bin/no-wayland/flinto" 2>&1)
status=$?
check "without flinto-wayland: flinto-x11 runs and says why, status 1 (no X display)" \
  says 'the Wayland host (flinto-wayland) cannot be run, and cannot open the X display'
out=$(WAYLAND_DISPLAY=wayland-none as_user "$work/bin/alone/flinto" 2>&1)
status=$?
check "without either: what was tried and why, status 1" \
  says "the X11 host cannot be run: $work/bin/alone/.*flinto-x11: No such file"
fi

# --- The desktop ---------------------------------------------------------
wl_start_session yes || exit 1

target_log="$work/run/target.log"
spawn "$work/bin/flinto-wl-target" "$target_log"
pids+=($!)
wait_for 10 grep -q "focus in" "$target_log"
target_focused() { [ "$(focused)" = "flinto-target" ]; }
check "the native target has the focus" wait_for 5 target_focused

flinto_log="$work/flinto.log"
: >"$flinto_log"
chmod 666 "$flinto_log"
start_flinto() {
  WAYLAND_DEBUG=${FLINTO_TRACE:-} spawn "$work/bin/flinto" "$@" >>"$flinto_log" 2>&1
  flinto_pid=$!
}
exited() { ! kill -0 "$flinto_pid" 2>/dev/null; }

KX=0 KY=0
layout_file="$work/layout"
keyboard_corner() { echo "$KX $KY"; }
click_at() { click "$1" "$2" "$3"; }

park="640 150" # a point of the target where the keyboard never is
# pixels_differ A B: how many pixels of two pictures differ ("error" when
# they cannot be compared).
pixels_differ() {
  local n
  n=$(compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1)
  [[ "$n" =~ ^[0-9]+$ ]] && echo "$n" || echo error
}
# The keyboard's pixels at (KX, KY) against the picture flinto-sim dumps
# (SETUP: scenario lines before start): the number of differing pixels.
differs_from_sim() { # SETUP
  # The pointer, which the compositor draws into the picture, goes where
  # the keyboard is not.
  send move $park
  settle
  printf '%s\nstart\ndump %s\n' "$1" "$work/sim.png" | "$sim" >/dev/null
  local size
  size=$(identify -format '%wx%h' "$work/sim.png") || { echo error; return; }
  shot "$work/kb.png" "$KX,$KY $size"
  pixels_differ "$work/kb.png" "$work/sim.png"
}
shows_sim() { [ "$(differs_from_sim "${1:-}")" = "0" ]; }
# A compositor that reads the buffer last attached until the next one comes
# (sway's renderer here) has a change drawn into a second buffer; after
# ten seconds at rest that one is given back, and made (and drawn whole)
# again when needed. N: how many shared-memory buffers of the keyboard's size
# (W x H, unit 3's unless said) Flinto has.
keyboard_buffers_are() { # N [W H]
  local range rest n=0 least=$((${2:-474} * ${3:-156} * 4))
  while read -r range rest; do
    [[ "$rest" == *memfd:flinto* ]] || continue
    (((16#${range#*-} - 16#${range%-*}) >= least)) && n=$((n + 1))
  done <"/proc/$flinto_pid/maps"
  [ "$n" -eq "$1" ]
}
# The keyboard's place (W x H at KX, KY) shows the desktop as it was before
# Flinto started: the keyboard is not there.
desktop_shows() { # W H
  send move $park
  settle
  shot "$work/place.png" "$KX,$KY ${1}x$2"
  convert "$work/desktop.png" -crop "${1}x$2+$KX+$KY" +repage "$work/was.png"
  [ "$(pixels_differ "$work/place.png" "$work/was.png")" = "0" ]
}
# Something other than the keyboard (a menu) covers part of its place.
covered() { # SETUP
  local n
  n=$(differs_from_sim "$1")
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -gt 1000 ]
}

# The tray item: swaybar draws it at the right end of the bar.
tray_x=$((1280 - 10))
tray_y=$((work_h + (800 - work_h) / 2))
item_registered() {
  as_user dbus-send --session --print-reply \
    --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.freedesktop.DBus.Properties.Get \
    string:org.kde.StatusNotifierWatcher \
    string:RegisteredStatusNotifierItems 2>/dev/null | grep -q StatusNotifierItem
}

# --- Phases ------------------------------------------------------------
# Each phase starts from a known state: no Flinto running, the settings
# given (none: the defaults; or UNIT X Y), the native target in front and
# not full screen, the pointer parked. One that fails leaves the next as it
# would have found it. "e2e.sh BUILD PHASE" runs one.
registry="$XDG_CONFIG_HOME/flinto/registry.txt"
phase() {
  [ -n "$only" ] && [ "$only" != "$1" ] && return 1
  echo "# $1"
  stop_flinto
  mkdir -p "$XDG_CONFIG_HOME/flinto"
  chmod 777 "$XDG_CONFIG_HOME/flinto"
  rm -f "$registry"
  setup=""
  KX=$((work_w - 474)) KY=$((work_h - 156))
  if [ $# -eq 4 ]; then
    printf '[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"Unit"=dword:%08x\n"X"=dword:%08x\n"Y"=dword:%08x\n' \
      "$2" "$3" "$4" >"$registry"
    chmod 666 "$registry"
    setup="setting Unit dword $2"
    KX=$3 KY=$4
  fi
  layout_of "$setup" >"$work/layout"
  swaymsg_ '[app_id="flinto-target"]' fullscreen disable >/dev/null 2>&1
  swaymsg_ '[app_id="flinto-target"]' focus >/dev/null 2>&1
  wait_for 5 target_focused
  send move 640 150
  settle
  return 0
}
# shown: Flinto started, its keyboard shown through its tray item (asked
# on the bus: what a click on the icon asks, without waiting for the bar to
# draw the icon).
activate_item() {
  as_user dbus-send --session --type=method_call \
    --dest="org.kde.StatusNotifierItem-$flinto_pid-1" /StatusNotifierItem \
    org.kde.StatusNotifierItem.Activate int32:0 int32:0
}
shown() {
  start_flinto
  wait_for 20 item_registered
  activate_item
  wait_for 10 shows_sim "$setup"
}
# The bar draws the item's icon (its place differs from the desktop as it
# was before Flinto started).
icon_drawn() {
  local g="$((tray_x - 8)),$((tray_y - 8)) 16x16"
  shot "$work/icon.png" "$g"
  convert "$work/desktop.png" -crop "16x16+$((tray_x - 8))+$((tray_y - 8))" +repage \
    "$work/no-icon.png"
  local n
  n=$(pixels_differ "$work/icon.png" "$work/no-icon.png")
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -gt 10 ]
}
menu_shown() { covered ""; }
read -r menu_w menu_h < <(menu_size)
# menu_item X Y ID: clicks the command ID of the menu opened at (X, Y); it
# opens upwards where it would pass the bottom.
menu_item() {
  local top="$2"
  [ $(($2 + menu_h)) -gt "$work_h" ] && top=$(($2 - menu_h))
  click $(($1 + 40)) $((top + $(menu_middle "$3")))
}
saved() { grep -q "^\"$1\"=dword:$2\$" "$registry" 2>/dev/null; }
# fresh_session BAR: a session of its own (BAR: yes, top or no), no
# settings, the native target in front.
fresh_session() {
  wl_stop_session
  wait 2>/dev/null
  rm -rf "$XDG_CONFIG_HOME/flinto"
  wl_start_session "$1" || exit 1
  spawn "$work/bin/flinto-wl-target" "$target_log"
  pids+=($!)
  wait_for 10 target_focused
}
# The size and place the drags of the menu phase leave the keyboard at.
moved=(2 0 $((work_h - 104)))

# --- Start and show --------------------------------------------------------
send move 640 150
settle
shot "$work/desktop.png"
if phase start; then
start_flinto
check "Flinto says it runs on Wayland" \
  wait_for 10 grep -q "running on Wayland (\"$WAYLAND_DISPLAY\")" "$flinto_log"
check "its item is registered with the tray's watcher" wait_for 20 item_registered
sleep 0.5
check "the keyboard starts hidden" desktop_shows 474 156
check "the bar shows its icon" wait_for 10 icon_drawn
click "$tray_x" "$tray_y"
check "a click on the tray item shows the keyboard in the work area's bottom-right corner, as flinto-sim draws it" \
  wait_for 5 shows_sim
check "the target keeps the focus" target_focused
check "shown, it has one buffer (sway's configures of the same size are only acknowledged)" \
  keyboard_buffers_are 1
click_key 0x10 3
sleep 2
check "two seconds after a change it keeps both buffers (clicks at a typing pace make none)" \
  keyboard_buffers_are 2
check "after ten seconds at rest the second one goes" \
  wait_for 15 keyboard_buffers_are 1
click_key 0x10 3
check "a change after the rest is drawn whole into a buffer made again" \
  wait_for 5 shows_sim
# Each release right behind its press: while sway still reads both
# buffers (some of these clicks) the paint waits for one, and is not lost.
before=$(wc -l <"$target_log")
typed_in_order() {
  [ "$(tail -n +$((before + 1)) "$target_log" |
    sed -n 's/^press .*keysym=\([^ ]*\) .*/\1/p' | tr -d '\n')" = "$1" ]
}
for id in 0x51 0x57 0x45 0x52 0x54 0x59 0x55 0x49 0x4f 0x50 \
  0x41 0x53 0x44 0x46 0x47 0x48 0x4a 0x4b 0x4c 0x5a; do
  read -r x y < <(key_centre "$id")
  send move "$x" "$y"
  send press 1
  send release 1
done
settle
check "twenty clicks in a row type twenty letters" \
  wait_for 5 typed_in_order qwertyuiopasdfghjklz
check "and leave no key looking pressed" wait_for 5 shows_sim

fi

# --- Every key of the Full face ----------------------------------------
if phase keys; then
shown
. "$(dirname "$0")/../keysyms.sh"
bad=()
count=0
lines_at_least() { [ "$(log_lines)" -ge "$1" ]; }
while read -r id x y w h text; do
  case "$id" in 0xff*) continue ;; esac # the buttons
  before=$(log_lines)
  click_key "$id"
  if ! wait_for 3 logged "$before" "^release"; then
    bad+=("$id: no events")
    continue
  fi
  count=$((count + 1))
  line=$(new_events "$before" | grep -m1 '^press')
  if [ -n "${keysyms[$id]:-}" ]; then
    grep -q "keysym=${keysyms[$id]} " <<<"$line" || bad+=("$id: $line")
  else
    [[ "$line" == *" text=$text" ]] || bad+=("$id '$text': $line")
  fi
done <"$work/layout"
if [ ${#bad[@]} -eq 0 ] && [ "$count" -eq 89 ]; then
  ok "all 89 keys of the Full face type in the native target what they type on X11"
else
  fail "all 89 keys of the Full face type what they type on X11 ($count typed)" "${bad[@]}"
fi
check "the target kept the focus through all of them" target_focused

fi

# --- Latch, copy, Caps, repeat -------------------------------------------
if phase latch; then
shown
before=$(log_lines)
click_key 0x10 3
click_key 0x41
wait_for 3 logged "$before" "release keycode=50"
check "Shift latched by a right click, then a: A, and Shift goes up" \
  sh -c "tail -n +$((before + 1)) '$target_log' | grep -q 'press keycode=38 keysym=A state=0x1 text=A' &&
    tail -n +$((before + 1)) '$target_log' | grep -q 'release keycode=50'"
check "the modifiers request follows: Shift down, then up" \
  sh -c "tail -n +$((before + 1)) '$target_log' | grep -q 'modifiers depressed=0x1 ' &&
    tail -n +$((before + 1)) '$target_log' | tail -n 3 | grep -q 'modifiers depressed=0x0 '"
before=$(log_lines)
click_key 0xff11 # COPY
wait_for 3 logged "$before" "release keycode=37"
check "COPY sends Ctrl+c" \
  sh -c "tail -n +$((before + 1)) '$target_log' | grep -q 'press keycode=54 keysym=c state=0x4'"
# Caps alone is 英数 for the input method; with Shift it is Caps Lock.
before=$(log_lines)
click_key 0x14
wait_for 3 logged "$before" "^release keycode=66"
check "Caps alone sends Eisu_toggle, and Caps Lock stays off" \
  sh -c "tail -n +$((before + 1)) '$target_log' | grep -q '^press keycode=66 keysym=Eisu_toggle' &&
    ! tail -n +$((before + 1)) '$target_log' | grep -q 'locked=0x2'"
before=$(log_lines)
click_key 0x10 3
click_key 0x14
wait_for 3 logged "$before" "locked=0x2"
click_key 0x41
wait_for 3 logged "$before" "text=A"
check "Shift latched, then Caps: Caps Lock, and a types A" \
  sh -c "tail -n +$((before + 1)) '$target_log' | grep -q '^press keycode=66 keysym=Caps_Lock' &&
    tail -n +$((before + 1)) '$target_log' | grep -q 'keysym=A .*text=A'"
before=$(log_lines)
click_key 0x10 3
click_key 0x14
wait_for 3 logged "$before" "locked=0x0"
check "Shift latched and Caps again: the lock is off" logged "$before" "locked=0x0"
# カナ goes to the input method: Flinto's keymap types no kana, so the
# labels stay romaji.
before=$(log_lines)
click_key 0x15
wait_for 3 logged "$before" "^release keycode=101"
check "カナ is sent" \
  sh -c "tail -n +$((before + 1)) '$target_log' | grep -q '^press keycode=101 keysym=Hiragana_Katakana'"
sleep 0.3
check "and the labels stay romaji" shows_sim
layout_of "" >/dev/null
read -r ax ay < <(key_centre 0x41)
before=$(log_lines)
send move "$ax" "$ay"
send press 1
settle
sleep 1.2
send release 1
settle
wait_for 3 logged "$before" "^release keycode=38"
presses=$(new_events "$before" | grep -c '^press keycode=38')
check "a held key repeats ($presses presses in 1.2 s)" test "$presses" -ge 5
# Pressed on a key, the pointer going away: the key goes up at once.
read -r bx by < <(key_centre 0x42)
before=$(log_lines)
send move "$bx" "$by"
send press 1
settle
send move 640 150
settle
sleep 1.5
send release 1
settle
presses=$(new_events "$before" | grep -c '^press keycode=56')
check "pressed on b, the pointer going away lets it go: one press ($presses)" \
  sh -c "[ $presses -eq 1 ] && tail -n +$((before + 1)) '$target_log' | grep -q '^release keycode=56'"
before=$(log_lines)
click_key 0x41 3
send move 300 300
settle
sleep 1.5
presses=$(new_events "$before" | grep -c '^press keycode=38')
check "a latched a with the pointer away is pressed once: the application does not repeat it" \
  test "$presses" -eq 1
click_key 0x41 3
check "the target kept the focus" target_focused

fi

# --- The menu, the drag --------------------------------------------------
if phase menu_drag; then
shown
click $((KX + 3)) $((KY + 40)) 3
check "a right click on the background opens the menu over the keyboard" wait_for 5 menu_shown
shot "$work/menu.png"
check "the target keeps the focus while the menu is open" target_focused
click 300 300
check "a click outside closes the menu" wait_for 5 shows_sim
click $((KX + 3)) $((KY + 40)) 3
wait_for 5 menu_shown
menu_item $((KX + 3)) $((KY + 40)) 40006 # Shrink
KX=$((work_w - 316)) KY=$((work_h - 104))
check "choosing Shrink makes the keyboard smaller, anchored at the bottom-right corner" \
  wait_for 5 shows_sim "setting Unit dword 2"
layout_of "setting Unit dword 2" >"$work/layout"
send move $((KX + 2)) $((KY + 30))
send press 1
settle
send move 500 300
settle
send move 20 $((300 + 28))
settle
send release 1
settle
KX=0 KY=298
check "dragged near the left edge, the keyboard snaps to it" \
  wait_for 5 shows_sim "setting Unit dword 2"
send move $((KX + 2)) $((KY + 30))
send press 1
settle
send move $((KX + 2)) $((work_h - 30))
settle
send release 1
settle
KY=$((work_h - 104))
check "dragged near the bar, it snaps to the work area's bottom edge" \
  wait_for 5 shows_sim "setting Unit dword 2"
check "the target kept the focus through the drags" target_focused
before=$(log_lines)
click_key 0x44
check "a click on the moved keyboard types" wait_for 3 logged "$before" "text=d"

fi

# --- Over a full-screen application -----------------------------------------
if phase fullscreen "${moved[@]}"; then
shown
swaymsg_ '[app_id="flinto-target"]' fullscreen enable >/dev/null
check "over a full-screen application the keyboard stays in sight" \
  wait_for 5 shows_sim "setting Unit dword 2"
click $((KX + 3)) $((KY + 40)) 3
check "its menu opens over it there" wait_for 5 covered "setting Unit dword 2"
click 640 150
check "and a click outside closes the menu" \
  wait_for 5 shows_sim "setting Unit dword 2"
before=$(log_lines)
click_key 0x46
check "a click types into the full-screen application" \
  wait_for 3 logged "$before" "text=f"
check "which keeps the focus" target_focused
swaymsg_ '[app_id="flinto-target"]' fullscreen disable >/dev/null

fi

# --- Translucency ---------------------------------------------------------
if phase translucency "${moved[@]}"; then
shown
click $((KX + 3)) $((KY + 40)) 3
wait_for 5 menu_shown
menu_item $((KX + 3)) $((KY + 40)) 40008 # Translucent
# Away from the pointer the keyboard fades: the desktop shows through.
send move 300 300
settle
faded() { covered "setting Unit dword 2"; }
check "translucent, away from the pointer it fades (premultiplied alpha)" wait_for 5 faded
send move $((KX + 100)) $((KY + 30))
settle
click $((KX + 3)) $((KY + 40)) 3
wait_for 5 menu_shown
menu_item $((KX + 3)) $((KY + 40)) 40008 # Translucent
send move 300 300
settle
check "translucency off: the keyboard is opaque again" \
  wait_for 5 shows_sim "setting Unit dword 2"

fi

# --- Quiet when idle ------------------------------------------------------
if phase idle "${moved[@]}"; then
shown
switches() { awk '/ctxt_switches/ {n += $2} END {print n}' "/proc/$1/status"; }
wakeups_in_2s() {
  local s0
  s0=$(switches "$flinto_pid")
  sleep 2
  echo $(($(switches "$flinto_pid") - s0))
}
send move 640 150
settle
# (Ten seconds after its last frame it wakes once, to give its second
# buffer back.)
wait_for 15 keyboard_buffers_are 1 316 104
sleep 0.5
n=$(wakeups_in_2s)
check "shown and untouched, Flinto does not wake in 2 s ($n)" test "$n" -eq 0
# (Seen to count: a key held down repeats, ten ticks a second.)
read -r ax ay < <(key_centre 0x41)
send move "$ax" "$ay"
send press 1
settle
n=$(wakeups_in_2s)
send release 1
settle
check "a key held down: it ticks ($n wake-ups in 2 s)" test "$n" -ge 10
send move $((KX + 2)) $((KY + 30))
settle
sleep 0.5
n=$(wakeups_in_2s)
check "the pointer resting on it, nothing held: no wake-ups in 2 s ($n)" test "$n" -le 2
send move 640 150
settle

fi

# --- An X11 application under Xwayland ----------------------------------
if phase x11_app "${moved[@]}"; then
shown
x_log="$work/run/x-target.log"
spawn "$work/bin/flinto-target" "$x_log"
pids+=($!)
xtarget_focused() { [ "$(focused)" = "FlintoTarget" ] || [ "$(focused)" = "flinto-target-x11" ]; }
wait_for 10 grep -q "focus in" "$x_log"
sleep 0.5
before=$(wc -l <"$x_log")
click_key 0x45
check "a click types into an X11 application under Xwayland" \
  wait_for 3 sh -c "tail -n +$((before + 1)) '$x_log' | grep -q 'press .*keysym=e .*text=e'"
# Xwayland repeats a key held down at the compositor's rate, whatever the
# keymap says: a latched a is let go for it before that.
before=$(wc -l <"$x_log")
click_key 0x41 3
send move 640 150
settle
sleep 1.5
presses=$(tail -n +$((before + 1)) "$x_log" | grep -c 'press .*keysym=a ')
check "a latched a with the pointer away reaches the X11 application once ($presses)" \
  test "$presses" -eq 1
click_key 0x41 3
kill "${pids[-1]}"
swaymsg_ '[app_id="flinto-target"]' focus >/dev/null
wait_for 5 target_focused

fi

# --- The tray item hides; one Flinto ----------------------------------------
if phase second_start "${moved[@]}"; then
shown
click "$tray_x" "$tray_y"
check "the tray item hides the keyboard" wait_for 5 desktop_shows 316 104
second_log="$work/second.log"
timeout 10 "${runner[@]}" env -i PATH=/usr/bin:/bin HOME="$work" \
  XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" XDG_CONFIG_HOME="$XDG_CONFIG_HOME" \
  WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" "$work/bin/flinto" \
  >"$second_log" 2>&1
status=$?
check "a second Flinto (naming the compositor by its path) ends at once with status 0" test "$status" -eq 0
check "and says which host it found" grep -q "running on Wayland" "$second_log"
check "and the running one shows its keyboard" wait_for 5 shows_sim "setting Unit dword 2"
check "the target keeps the focus" target_focused

fi

# --- Hurried: quick menus and floods --------------------------------------
if phase hurried "${moved[@]}"; then
shown
# The compositor must never have reason to disconnect Flinto: menus opened
# and closed at once from the tray item, a flood of show and hide requests
# on the instance socket, many menu requests in a row.
context_menu() {
  as_user dbus-send --session --type=method_call \
    --dest="org.kde.StatusNotifierItem-$flinto_pid-1" \
    /StatusNotifierItem org.kde.StatusNotifierItem.ContextMenu \
    int32:100 int32:100
}
for i in $(seq 25); do context_menu; context_menu; done
sleep 0.5
check "fifty ContextMenu calls in pairs: Flinto is still there" not exited
# (Each part from a running Flinto, whatever became of the last.)
running() { exited && start_flinto && wait_for 10 item_registered; true; }
running
socket="$XDG_RUNTIME_DIR/flinto-$WAYLAND_DISPLAY.socket"
# 2,000 rounds of a show and a tray click (which hides or shows).
as_user "$work/bin/flinto-wl-input" post "$socket" 2000 1128 0 0 1124 1 0x201 \
  >"$work/posted.txt"
check "a flood of show and hide requests on the instance socket: still there" \
  sh -c "grep -q 'posted [1-9]' '$work/posted.txt' && sleep 1 && kill -0 $flinto_pid"
running
# The same flood while the compositor reads nothing: its socket fills, and
# Flinto's requests must wait for it rather than fill what the library
# keeps unsent (which ends the connection).
kill -STOP "$sway_pid"
as_user "$work/bin/flinto-wl-input" post "$socket" 2000 1128 0 0 1124 1 0x201 \
  >"$work/posted.txt"
sleep 1
kill -CONT "$sway_pid"
check "the same flood with the compositor stopped: still there once it goes on" \
  sh -c "grep -q 'posted [1-9]' '$work/posted.txt' && sleep 1 && kill -0 $flinto_pid"
running
callers=()
for w in 1 2 3 4; do
  (for i in $(seq 75); do context_menu >/dev/null 2>&1; done) &
  callers+=($!)
done
wait "${callers[@]}"
sleep 0.5
check "three hundred menu requests at once: still there" not exited
check "and the compositor said nothing against it" \
  not grep -q "wrong configure serial\|Broken pipe\|error" "$flinto_log"
# Known state again: the keyboard shown, no menu.
running
click 640 150
settle
timeout 10 "${runner[@]}" env -i PATH=/usr/bin:/bin HOME="$work" \
  XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" XDG_CONFIG_HOME="$XDG_CONFIG_HOME" \
  WAYLAND_DISPLAY="$WAYLAND_DISPLAY" "$work/bin/flinto" >/dev/null 2>&1
check "then the keyboard shows as flinto-sim draws it" \
  wait_for 5 shows_sim "setting Unit dword 2"

fi

# --- SIGTERM with Ctrl latched ---------------------------------------------
if phase sigterm "${moved[@]}"; then
shown
rm -f "$registry" # written again at the end
before=$(log_lines)
click_key 0x11 3
wait_for 3 logged "$before" "press keycode=37"
kill -TERM "$flinto_pid"
check "SIGTERM ends Flinto" wait_for 5 exited
wait "$flinto_pid" 2>/dev/null
status=$?
# The compositor handled the release before Flinto went; the target's
# line may come a moment later.
ctrl_went_up() {
  [ "$status" -eq 0 ] && wait_for 5 logged "$before" "release keycode=37"
}
check "with status 0 ($status), and the target sees Ctrl go up" ctrl_went_up
settings_saved() {
  saved Unit 00000002 && saved X 00000000 &&
    saved Y "$(printf %08x $((work_h - 104)))"
}
check "the settings are saved: the unit and the position it was dragged to" \
  settings_saved

fi

# --- An output unplugged -------------------------------------------------
# A sway nested in the session's: its two outputs are windows there, and
# closing one's window takes that output away, as unplugging a monitor
# does. Flinto, a target and input devices run on the nested sway.
if phase unplugged; then
swaymsg_ 'for_window [app_id="wlroots"] floating enable' >/dev/null
printf 'xwayland disable\n' >"$work/nested.conf"
WAYLAND_DISPLAY=$WAYLAND_DISPLAY spawn env WLR_BACKENDS=wayland \
  WLR_RENDERER=pixman sway -c "$work/nested.conf" >"$work/nested.log" 2>&1
nested_pid=$!
pids+=($nested_pid)
nested_socket() { ls "$work/run" | grep "^wayland-[0-9]*$" | grep -vx "$WAYLAND_DISPLAY" | grep -m1 .; }
wait_for 20 nested_socket
nested=$(nested_socket)
nested_ipc() { ls -t "$work/run" | grep '^sway-ipc' | head -n1; }
nested_sway() { SWAYSOCK="$work/run/$(nested_ipc)" as_user swaymsg "$@" 2>/dev/null; }
wait_for 10 nested_sway -t get_outputs
nested_sway create_output >/dev/null
nested_outputs() { nested_sway -t get_outputs | grep -c '"name": "WL-'; }
wait_for 10 test "$(nested_outputs)" = 2
# The nested sway's own input devices and target.
rm -f "$work/nested.fifo"
mkfifo "$work/nested.fifo"
chmod 666 "$work/nested.fifo"
exec 8<>"$work/nested.fifo"
WAYLAND_DISPLAY=$nested spawn "$work/bin/flinto-wl-input" <"$work/nested.fifo" \
  >"$work/nested-input.log" 2>&1
nested_input=$!
pids+=($nested_input)
wait_for 10 grep -q ready "$work/nested-input.log"
echo "extent 2560 720" >&8
nested_log="$work/run/nested-target.log"
WAYLAND_DISPLAY=$nested spawn "$work/bin/flinto-wl-target" "$nested_log"
pids+=($!)
wait_for 10 grep -q "focus in" "$nested_log"
# Flinto on the second output (1280, 0 in the nested layout, 1280 x 720).
printf '[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"X"=dword:%08x\n"Y"=dword:%08x\n' \
  1380 100 >"$registry"
chmod 666 "$registry"
WAYLAND_DISPLAY=$nested start_flinto
wait_for 20 item_registered
wait_for 10 activate_item
KX=1380 KY=100
nested_shows() { # X Y: the keyboard's picture there in the nested layout
  printf 'start\ndump %s\n' "$work/sim.png" | "$sim" >/dev/null
  rm -f "$work/nested.png"
  WAYLAND_DISPLAY=$nested as_user grim -g "$1,$2 474x156" "$work/nested.png"
  [ "$(pixels_differ "$work/nested.png" "$work/sim.png")" = 0 ]
}
check "on a nested sway, the keyboard shows on its second output" \
  wait_for 10 nested_shows 1380 100
read -r x y < <(key_centre 0x10)
echo "click $x $y 3" >&8
check "Shift latched there" wait_for 5 grep -q "press keycode=50" "$nested_log"
before=$(wc -l <"$nested_log")
swaymsg_ '[title="wlroots - WL-2"]' kill >/dev/null
check "the output unplugged: the nested sway has one left" wait_for 10 test "$(nested_outputs)" = 1
check "Shift is let go" \
  wait_for 5 sh -c "tail -n +$((before + 1)) '$nested_log' | grep -q 'release keycode=50'"
check "the keyboard shows on the remaining output, moved the least (806, 100)" \
  wait_for 10 nested_shows 806 100
check "Flinto still runs" not exited
stop_flinto
exec 8>&-
# (It holds the pipe open itself: it would never see its end.)
stop_process "$nested_input"
stop_process "$nested_pid"
fi

# --- The tray going away ---------------------------------------------------
if phase tray_gone "${moved[@]}"; then
start_flinto
wait_for 10 item_registered
sleep 0.3
check "started again, hidden (as it was left)" wait_for 5 desktop_shows 316 104
wait_for 10 icon_drawn
# The item's context menu, the keyboard hidden: it opens at the click,
# kept whole in the work area (at its bottom-right corner here).
shot "$work/before-menu.png"
click "$tray_x" "$tray_y" 3
# Where it opens: whole, at the work area's bottom-right corner.
tray_menu_shown() {
  send move 640 150
  settle
  shot "$work/tray-menu.png"
  local n
  n=$(pixels_differ "$work/before-menu.png" "$work/tray-menu.png")
  convert "$work/tray-menu.png" -crop "1x$menu_h+$((1280 - 20))+$((work_h - menu_h))" +repage \
    "$work/menu-edge.png"
  convert "$work/before-menu.png" -crop "1x$menu_h+$((1280 - 20))+$((work_h - menu_h))" +repage \
    "$work/desk-edge.png"
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -gt 1000 ] &&
    [ "$(pixels_differ "$work/menu-edge.png" "$work/desk-edge.png")" -ge 150 ]
}
check "a right click on the tray item opens the menu" wait_for 5 tray_menu_shown
check "the target keeps the focus" target_focused
# Its first entry shows or hides the keyboard.
click $((1280 - 100)) $((work_h - menu_h + $(menu_middle 40004)))
check "its first entry shows the keyboard" wait_for 5 shows_sim "setting Unit dword 2"
click "$tray_x" "$tray_y"
wait_for 5 desktop_shows 316 104
as_user swaymsg bar bar-0 mode invisible >/dev/null 2>&1
# Only this session's bar (its runtime folder says which).
for bar in $(pgrep -x swaybar); do
  tr '\0' '\n' <"/proc/$bar/environ" 2>/dev/null |
    grep -qx "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" && kill "$bar"
done
check "when the tray's host and watcher go, the hidden keyboard shows itself" \
  wait_for 5 shows_sim "setting Unit dword 2"

fi

# --- The compositor going away ---------------------------------------------
if phase compositor_gone "${moved[@]}"; then
start_flinto
# Up: its item registered, or (the bar gone) its keyboard shown.
up() { item_registered || shows_sim "$setup"; }
wait_for 20 up
kill "$sway_pid"
wait "$sway_pid" 2>/dev/null
sway_pid=
check "losing the compositor ends Flinto" wait_for 5 exited
wait "$flinto_pid" 2>/dev/null
status=$?
check "with status 1 and a message, the settings saved" \
  sh -c "[ $status -eq 1 ] && grep -q 'connection to the Wayland compositor was lost; the settings were saved' '$flinto_log' && test -s '$registry'"

fi

# --- A bar at the top -------------------------------------------------------
if phase top_bar; then
# Positions count from the work area's top-left corner, below the bar.
fresh_session top
send move 640 150
settle
shot "$work/desktop.png"
start_flinto
wait_for 20 item_registered
layout_of "" >"$work/layout"
park="640 600"
tray_y=$((work_y / 2))
KX=$((work_w - 474)) KY=$((work_y + work_h - 156))
wait_for 10 icon_drawn
click "$tray_x" "$tray_y"
check "with the bar at the top ($work_y high), the keyboard shows at the work area's bottom-right corner" \
  wait_for 5 shows_sim
send move $((KX + 2)) $((KY + 30))
send press 1
settle
send move 400 $((work_y + 40))
settle
send release 1
settle
KX=398 KY=$work_y
check "dragged near the bar, it snaps to the work area's top edge, below the bar" \
  wait_for 5 shows_sim
shot "$work/before-menu.png"
click "$tray_x" "$tray_y" 3
top_menu_shown() {
  send move 640 400
  settle
  shot "$work/tray-menu.png"
  convert "$work/tray-menu.png" -crop "1x$menu_h+$((1280 - 20))+$work_y" +repage \
    "$work/menu-edge.png"
  convert "$work/before-menu.png" -crop "1x$menu_h+$((1280 - 20))+$work_y" +repage \
    "$work/desk-edge.png"
  [ "$(pixels_differ "$work/menu-edge.png" "$work/desk-edge.png")" -ge 150 ]
}
check "the tray item's menu opens below the bar, whole" wait_for 5 top_menu_shown
click 640 400
check "a click outside closes it" wait_for 5 shows_sim
kill -TERM "$flinto_pid"
wait_for 5 exited
top_saved() { saved X "$(printf %08x 398)" && saved Y 00000000; }
check "the position saved counts from the work area's corner: 398, 0" top_saved

fi

# --- HiDPI outputs ----------------------------------------------------------
if phase hidpi; then
# A session of its own, its output at scale 2 and then 1.5.
fresh_session yes
# at_scale S: the output at scale S, the pointer's extent and the work area
# (logical) as sway then says.
at_scale() {
  swaymsg_ output HEADLESS-1 scale "$1" >/dev/null
  scale_taken() {
    swaymsg_ -t get_outputs | python3 -c '
import json, sys
sys.exit(json.load(sys.stdin)[0]["scale"] != float(sys.argv[1]))' "$1"
  }
  wait_for 5 scale_taken "$1" || return 1
  read -r out_w out_h < <(swaymsg_ -t get_outputs | python3 -c '
import json, sys
r = json.load(sys.stdin)[0]["rect"]
print(r["width"], r["height"])')
  read -r work_x work_y work_w work_h < <(swaymsg_ -t get_workspaces |
    python3 -c '
import json, sys
r = json.load(sys.stdin)[0]["rect"]
print(r["x"], r["y"], r["width"], r["height"])')
  send extent "$out_w" "$out_h"
  settle
}
# shot_at S FILE X,Y WxH: the logical rectangle at S pixels per point.
shot_at() { as_user grim -s "$1" -g "$3 $4" "$2"; }
# sharp_as_sim UNIT S: the keyboard at (KX, KY) is flinto-sim's picture at
# UNIT x S, pixel for pixel, in a screenshot at S pixels per point.
sharp_as_sim() {
  send move $park
  settle
  printf 'setting Unit dword %s\nstart\ndump %s\n' $(($1 * $2)) "$work/sim.png" |
    "$sim" >/dev/null
  shot_at "$2" "$work/kb.png" "$KX,$KY" "$((158 * $1))x$((52 * $1))"
  [ "$(pixels_differ "$work/kb.png" "$work/sim.png")" = "0" ]
}
# fine_detail FILE: the picture has detail finer than 2 x 2 pixels (it is
# not a picture of half the size enlarged).
fine_detail() {
  convert "$1" -sample 50% -sample 200% "$work/coarse.png"
  local n
  n=$(pixels_differ "$1" "$work/coarse.png")
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -gt 100 ]
}
# Shown at scale 1, then the output goes to scale 2.
: >"$flinto_log"
FLINTO_TRACE=1 start_flinto
wait_for 20 item_registered
activate_item
KX=$((work_w - 474)) KY=$((work_h - 156))
wait_for 10 shows_sim
check "the output goes to scale 2" at_scale 2
park="$((out_w - 20)) 20"
KX=$((work_w - 474)) KY=$((work_y + work_h - 156))
check "the output going to scale 2 ($out_w x $out_h points), the keyboard shown is drawn again at unit 3 x 2 (flinto-sim's unit 6 picture) and moved into the smaller screen's corner" \
  wait_for 10 sharp_as_sim 3 2
stop_flinto
rm -f "$registry"
send move $park
settle
as_user grim -s 2 "$work/desktop2.png"
: >"$flinto_log"
FLINTO_TRACE=1 start_flinto
wait_for 20 item_registered
activate_item
check "a first start at scale 2: the corner, drawn at unit 3 x 2" \
  wait_for 10 sharp_as_sim 3 2
layout_of "" >"$work/layout"
before=$(log_lines)
click_key 0x41
check "a click on A at its place in points types a" wait_for 3 logged "$before" "^press.* text=a$"
# The menu: drawn at the output's density too.
click $((KX + 2)) $((KY + 30)) 3
# (Where it opens: at the point, flipped where it would pass the work
# area's right or bottom edge.)
mx=$((KX + 2)) my=$((KY + 30))
[ $((mx + menu_w)) -gt "$work_w" ] && mx=$((mx - menu_w))
[ $((my + menu_h)) -gt "$work_h" ] && my=$((my - menu_h))
[ "$my" -lt 0 ] && my=0
menu_at_scale() {
  send move $park
  settle
  shot_at 2 "$work/menu2.png" "$mx,$((work_y + my))" "${menu_w}x$menu_h"
  convert "$work/desktop2.png" -crop "$((2 * menu_w))x$((2 * menu_h))+$((2 * mx))+$((2 * (work_y + my)))" \
    +repage "$work/no-menu.png"
  [ "$(pixels_differ "$work/menu2.png" "$work/no-menu.png")" != 0 ] &&
    fine_detail "$work/menu2.png"
}
check "its menu opens, drawn at scale 2 (detail finer than two pixels)" \
  wait_for 5 menu_at_scale
click $park
check "a click outside closes it" wait_for 5 sharp_as_sim 3 2
# The arrow over the keyboard: the theme's picture for scale 2 (48 pixels
# for the usual 24 points), said to be at scale 2, its hot spot in points.
send move $((KX + 100)) $((KY + 30))
settle
arrow_at_two() {
  local cursor
  cursor=$(grep -Eo 'set_cursor\([0-9]+, wl_surface@[0-9]+, [0-9]+, [0-9]+\)' \
    "$flinto_log" | tail -n1)
  [[ "$cursor" =~ wl_surface@([0-9]+),\ ([0-9]+),\ ([0-9]+) ]] || return 1
  [ "${BASH_REMATCH[2]}" -le 12 ] && [ "${BASH_REMATCH[3]}" -le 12 ] &&
    grep -q "wl_surface@${BASH_REMATCH[1]}\.set_buffer_scale(2)" "$flinto_log" &&
    grep -Eq 'create_buffer\(new id wl_buffer@[0-9]+, [0-9]+, 48, 48, 192,' "$flinto_log"
}
check "the arrow over it is the theme's picture for scale 2" wait_for 5 arrow_at_two
# Scale 1.5: the compositor says 2 and scales the picture down; the screen
# is its logical size.
stop_flinto
rm -f "$registry"
check "the output goes to scale 1.5" at_scale 1.5
park="$((out_w - 20)) 20"
: >"$flinto_log"
FLINTO_TRACE=1 start_flinto
wait_for 20 item_registered
activate_item
KX=$((work_w - 474)) KY=$((work_y + work_h - 156))
check "at scale 1.5 the screen is $out_w x $out_h points" test "$out_w" -eq 853
buffers_at_two() {
  grep -Eq 'wl_surface@[0-9]+\.set_buffer_scale\(2\)' "$flinto_log" &&
    grep -Eq 'create_buffer\(new id wl_buffer@[0-9]+, 0, 948, 312, 3792,' "$flinto_log"
}
check "the keyboard's buffer has scale 2: 948 x 312 pixels for 474 x 156 points" \
  wait_for 10 buffers_at_two
# Seen at 1.5, it is nearer flinto-sim's unit 6 picture made smaller than
# its unit 3 picture made larger.
nearer_sharp() {
  send move $park
  settle
  shot_at 1.5 "$work/kb15.png" "$KX,$KY" 474x156
  local size
  size=$(identify -format '%wx%h' "$work/kb15.png") || return 1
  printf 'setting Unit dword 6\nstart\ndump %s\n' "$work/six.png" | "$sim" >/dev/null
  printf 'start\ndump %s\n' "$work/three.png" | "$sim" >/dev/null
  convert "$work/six.png" -resize "$size!" "$work/six15.png"
  convert "$work/three.png" -filter point -resize "$size!" "$work/three15.png"
  local a b
  a=$(compare -metric RMSE "$work/kb15.png" "$work/six15.png" null: 2>&1 | cut -d' ' -f1)
  b=$(compare -metric RMSE "$work/kb15.png" "$work/three15.png" null: 2>&1 | cut -d' ' -f1)
  echo "RMSE to the sharp picture $a, to the enlarged one $b"
  awk -v a="$a" -v b="$b" 'BEGIN { exit !(a + 0 < b + 0) }'
}
check "seen at 1.5 it is the sharp picture scaled down, not unit 3 enlarged" \
  wait_for 10 nearer_sharp
before=$(log_lines)
click_key 0x53
check "a click on S types s" wait_for 3 logged "$before" "^press.* text=s$"
stop_flinto
fi

# --- A second output ------------------------------------------------------
if phase outputs; then
# In a session of its own, the last: sway 1.7 cannot take a headless
# output away again.
fresh_session yes
KX=$((work_w - 474)) KY=$((work_h - 156))
park="640 150"
shown
swaymsg_ create_output
# second_output: "NAME X Y W H" of the output made (in the layout).
second_output() {
  swaymsg_ -t get_outputs | python3 -c '
import json, sys
for o in json.load(sys.stdin):
    if o["name"] != "HEADLESS-1" and o.get("active"):
        r = o["rect"]
        print(o["name"], r["x"], r["y"], r["width"], r["height"])'
}
wait_for 5 second_output
read -r o2 ox oy ow oh < <(second_output)
check "a second output ($o2 at $ox,$oy): the keyboard stays where it was" \
  wait_for 5 shows_sim
send extent $((ox + ow)) $((oh > 800 ? oh : 800))
send move $((KX + 2)) $((KY + 30))
send press 1
settle
send move $((ox + 100)) $((oy + 100))
settle
send move $((ox + 300)) $((oy + 200))
settle
send release 1
settle
KX=$((ox + 298)) KY=$((oy + 170))
check "dragged across, the keyboard shows on the second output" wait_for 5 shows_sim
# (The pointer parked on the same output: going to another closes the
# menu, as a click there would.)
park="$((ox + 1000)) $((oy + 600))"
click $((KX + 2)) $((KY + 30)) 3
check "its menu opens there, on the keyboard's output" wait_for 5 covered ""
# (Moved over the menu once it shows: the compositor finds the pointer on
# it at a motion, as a user's hand moves.)
send move $((ox + 1001)) $((oy + 601))
settle
park="640 150"
send move 640 150
settle
check "the pointer gone to the other output, the menu closes" wait_for 5 shows_sim
# A first start while the user works on the second output: the keyboard
# shows in that output's corner, above its bar.
stop_flinto
rm -f "$registry"
swaymsg_ '[app_id="flinto-target"]' move container to output "$o2" >/dev/null
swaymsg_ '[app_id="flinto-target"]' focus >/dev/null
wait_for 5 target_focused
start_flinto
wait_for 20 item_registered
activate_item
KX=$((ox + ow - 474)) KY=$((oy + oh - (800 - work_h) - 156))
park="$((ox + 100)) $((oy + 100))"
check "a first start with the application on the second output: its corner" \
  wait_for 10 shows_sim
park="640 150"
# (sway 1.7 cannot take a headless output away: the phase "unplugged"
# does it with a nested sway.)
send extent 1280 800
fi

# --- No tray ---------------------------------------------------------------
if phase no_tray; then
fresh_session no
KX=$((work_w - 474)) KY=$((work_h - 156))
# Its protocol log, with a mark where each write to the compositor went.
: >"$work/no-tray.log"
chmod 666 "$work/no-tray.log"
asan="${ASAN_OPTIONS:-}"
# (Preloaded ahead of a sanitizer's runtime, which then must not object.)
ASAN_OPTIONS="${asan:+$asan:}verify_asan_link_order=0" WAYLAND_DEBUG=1 \
  spawn env LD_PRELOAD="$work/bin/flinto-wl-sent.so" "$work/bin/flinto" \
  >>"$work/no-tray.log" 2>&1
flinto_pid=$!
check "with no tray to hold its icon, the keyboard shows itself at once" \
  wait_for 20 shows_sim
# The order in the log: the keyboard's first picture (its buffer attached),
# a write to the compositor, and only then the virtual keyboard (its keymap
# made, a few milliseconds).
sent_before_keymap() {
  awk '/create_buffer\(new id wl_buffer@[0-9]+, 0, 474, 156,/ {
         sub(/.*new id /, ""); sub(/,.*/, ""); picture = $0 }
       picture != "" && index($0, ".attach(" picture ",") { attached = 1 }
       attached && /^flinto-wl-sent / { sent = 1 }
       /create_virtual_keyboard/ { keymap = 1; ok = attached && sent; exit }
       END { exit !(keymap && ok) }' "$work/no-tray.log"
}
# (The virtual keyboard comes when Flinto is first idle, which may be after
# the compositor shows the keyboard: its line is waited for.)
check "its first picture goes to the compositor before the keymap is made" \
  wait_for 10 sent_before_keymap
stop_flinto
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
