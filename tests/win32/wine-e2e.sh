#!/usr/bin/env bash
# End-to-end tests of the Windows build of Flinto under Wine, on Xvfb with
# openbox: a target application that logs its key messages, Flinto shown
# through its tray notification (there is no tray to click), then real
# pointer clicks on its keys. Prints "N passed, N failed".
#
# usage: wine-e2e.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
set -u
win="$(cd "${1:?usage: wine-e2e.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)"
native="$(cd "${2:?}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d /tmp/flinto-wine.XXXXXX)"
passed=0
failed=0
wine_cleanup_more() { "$wine" "$win/flinto-helper.exe" close >/dev/null 2>&1; }
. "$here/wine.sh"
helper() { "$wine" "$win/flinto-helper.exe" "$@" 2>/dev/null | tr -d '\r'; }

# A fresh prefix; Wine's own tray window off (under a window manager it
# takes the focus), the classic system colours, and the Japanese face the
# keyboard asks for found as IPAGothic. Non-ASCII text in a .reg file must
# be UTF-16LE with a byte order mark.
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"ShowSystray"="N"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Control Panel\\Colors]\r\n'
  printf '"ButtonFace"="192 192 192"\r\n"ButtonShadow"="128 128 128"\r\n'
  printf '"ButtonHilight"="255 255 255"\r\n"ButtonLight"="223 223 223"\r\n'
  printf '"ButtonDkShadow"="0 0 0"\r\n"ButtonText"="0 0 0"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"FontSmoothing"="0"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  printf '"ＭＳ ゴシック"="IPAGothic"\r\n'
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$work/setup.reg"
"$wine" regedit /S "$work/setup.reg" >/dev/null 2>&1
/usr/lib/wine/wineserver -w 2>/dev/null || true

openbox --sm-disable >/dev/null 2>&1 &
openbox=$!
wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK

"$wine" "$win/flinto-target.exe" "Z:${work//\//\\}\\target.log" >/dev/null 2>&1 &
wait_for 30 grep -q ready "$work/target.log"
# start_shown: Flinto started and shown through its tray notification (there
# is no tray to click); kx ky kw kh: where the keyboard is.
start_shown() {
  "$wine" "$win/flinto.exe" >/dev/null 2>&1 &
  flinto=$!
  wait_for 30 sh -c "$wine '$win/flinto-helper.exe' rect >/dev/null 2>&1"
  helper tray
  sleep 1
  read -r kx ky kw kh < <(helper rect)
}
start_shown
check "the tray notification shows the keyboard at the bottom right, 474 x 156" \
  test "$kx $ky $kw $kh" = "806 644 474 156"

# The layout of the Full face at unit 3, from flinto-sim.
printf 'start\nprint layout\n' | "$native/flinto-sim" | sed -n 's/^layout //p' >"$work/layout"
click_key() { # ID [BUTTON]
  local lid x y w h text
  while read -r lid x y w h text; do
    if [ "$lid" = "$1" ]; then
      xdotool mousemove $((kx + x + w / 2)) $((ky + y + h / 2)) click "${2:-1}"
      sleep 0.3
      return
    fi
  done <"$work/layout"
}
lines() { wc -l <"$work/target.log"; }
since() { tail -n +"$(( $1 + 1 ))" "$work/target.log" | tr -d '\r'; }

n=$(lines); click_key 0x41
check "a click types a: key-down and key-up with scan code 0x1e" \
  test "$(since "$n" | tr '\n' '|')" = "keydown vk=0x41 scan=0x1e ext=0|char 0x61|keyup vk=0x41 scan=0x1e ext=0|"
n=$(lines); click_key 0x28
check "an arrow key carries the extended bit" \
  test "$(since "$n" | tr '\n' '|')" = "keydown vk=0x28 scan=0x50 ext=1|keyup vk=0x28 scan=0x50 ext=1|"
n=$(lines); click_key 0x110
check "the right Shift (0x110) goes as Shift without the extended bit" \
  sh -c "tail -n +$((n + 1)) '$work/target.log' | grep -q 'keydown vk=0x10 .*ext=0'"
n=$(lines); click_key 0x111
check "the right Ctrl (0x111) goes as Ctrl with the extended bit and Ctrl's scan code" \
  test "$(since "$n" | tr '\n' '|')" = "keydown vk=0x11 scan=0x1d ext=1|keyup vk=0x11 scan=0x1d ext=1|"
n=$(lines); click_key 0x10
shift_line=$(since "$n" | head -n1)
n=$(lines); click_key 0x10 3; click_key 0x41
# (A latched key repeats while the pointer is over the keyboard: repeated
# key-downs are taken as one.)
check "Shift latched, then a: WM_CHAR A, then Shift up" \
  test "$(since "$n" | sed 's/ scan=0x[0-9a-f]* ext=[01]//' | uniq | tr '\n' '|')" = "keydown vk=0x10|keydown vk=0x41|char 0x41|keyup vk=0x41|keyup vk=0x10|"
check "the target keeps the foreground" test "$(helper foreground)" = "FlintoTestTarget"
check "the keyboard is never activated" test "$(helper activated)" = "no"
n=$(lines); click_key 0x10 3; click_key 0xff11
check "copy: the latched Shift up first, then Ctrl+C" \
  test "$(since "$n" | grep -v '^char' | sed 's/ scan=0x[0-9a-f]* ext=[01]//' | uniq | tr '\n' '|')" = "keydown vk=0x10|keyup vk=0x10|keydown vk=0x11|keydown vk=0x43|keyup vk=0x43|keyup vk=0x11|"

# The pixels: what Wine's GDI draws against what flinto-sim draws, every
# face at every unit, with nothing pressed and with the "_" button held
# down, everything compared but the boxes of the lines of text (the
# caption, the key labels, the button texts), where the fonts' rasterisers
# differ.
compare_keyboard() { # FACE UNIT PRESSED(0|1)
  local face="$1" unit="$2" pressed="$3" name="f$1u$2p$3" sim_script
  read -r kx ky kw kh < <(helper rect)
  import -window root -crop "${kw}x${kh}+${kx}+${ky}" +repage "$work/wine-$name.png"
  sim_script="setting Face dword $face\nsetting Unit dword $unit\nstart\ntray left\n"
  [ "$pressed" = 1 ] && sim_script+="pointer key 0xff02\npress left\n"
  printf "${sim_script}print texts\ndump %s\n" "$work/sim-$name.png" |
    "$native/flinto-sim" | sed -n 's/^text //p' >"$work/texts-$name"
  local mask=(-fill black) x y w h
  while read -r x y w h; do
    mask+=(-draw "rectangle $x,$y $((x + w - 1)),$((y + h - 1))")
  done <"$work/texts-$name"
  convert "$work/wine-$name.png" "${mask[@]}" "$work/wine-$name-masked.png"
  convert "$work/sim-$name.png" "${mask[@]}" "$work/sim-$name-masked.png"
  compare -metric AE "$work/wine-$name-masked.png" "$work/sim-$name-masked.png" \
    null: 2>&1 | cut -d' ' -f1
}
settle() { sleep 0.4; }
bad=()
face=2
unit=3
for round in 1 2 3; do
  while [ "$unit" -gt 2 ]; do helper command 40006; unit=$((unit - 1)); done
  settle
  while :; do
    for pressed in 0 1; do
      if [ "$pressed" = 1 ]; then
        read -r kx ky kw kh < <(helper rect)
        lid_line=$(printf "setting Face dword $face\nsetting Unit dword $unit\nstart\nprint layout\n" |
          "$native/flinto-sim" | sed -n 's/^layout 0xff02 //p')
        read -r bx by bw bh _ <<<"$lid_line"
        xdotool mousemove $((kx + bx + bw / 2)) $((ky + by + bh / 2)) mousedown 1
        settle
      fi
      differ=$(compare_keyboard "$face" "$unit" "$pressed")
      [ "$differ" = 0 ] || bad+=("face $face unit $unit pressed $pressed: $differ pixels")
      if [ "$pressed" = 1 ]; then
        # Let go away from the button: no command.
        xdotool mousemove $((kx + 1)) $((ky + kh - 1)) mouseup 1
        settle
      fi
    done
    [ "$unit" -eq 6 ] && break
    helper command 40005
    unit=$((unit + 1))
    settle
  done
  helper command 40002
  face=$(( (face + 1) % 3 ))
done
while [ "$unit" -gt 3 ]; do helper command 40006; unit=$((unit - 1)); done
settle
if [ ${#bad[@]} -eq 0 ]; then
  ok "Wine's GDI and the portable drawing agree outside the text: 3 faces, units 2 to 6, up and with a button down"
else
  fail "Wine's GDI and the portable drawing agree outside the text" "${bad[@]}"
fi
read -r kx ky kw kh < <(helper rect)

# Idle, the program sleeps: its threads are not woken while the keyboard
# is shown and untouched (no 50 ms or 100 ms timer runs); a switch of
# application still makes the keyboard anew for the new target. (Wine 8
# sends no EVENT_SYSTEM_FOREGROUND to the hook, nor a focus event for a
# plain window: here the switch is noticed when the pointer comes onto the
# keyboard.)
switches() {
  cat /proc/"$flinto"/task/*/status 2>/dev/null |
    awk '/^voluntary_ctxt_switches/ {n += $2} /^nonvoluntary_ctxt_switches/ {n += $2} END {print n + 0}'
}
# idle_wakeups: the pointer away, how often Flinto is woken in 3 s.
idle_wakeups() {
  xdotool mousemove 640 200
  sleep 1
  local s0
  s0=$(switches)
  sleep 3
  echo $(( $(switches) - s0 ))
}
woken=$(idle_wakeups)
check "shown and untouched, Flinto is not woken in 3 s ($woken wake-ups)" test "$woken" -le 5
kb=$(helper handle)
"$wine" "$win/flinto-target.exe" "Z:${work//\//\\}\\target2.log" >/dev/null 2>&1 &
wait_for 30 grep -q ready "$work/target2.log"
made_anew() { [ "$(helper handle)" != "$kb" ] && [ "$(helper owned)" = yes ]; }
sleep 1
xdotool mousemove $((kx + 2)) $((ky + 40)) mousemove $((kx + 3)) $((ky + 40))
check "a switch of application makes the keyboard anew for the new target" wait_for 10 made_anew
woken=$(idle_wakeups)
check "and then Flinto sleeps again ($woken wake-ups in 3 s)" test "$woken" -le 5

xdotool mousemove $((kx + 2)) $((ky + 40))
helper command 40008
sleep 0.5
check "translucency applies SetLayeredWindowAttributes (alpha 224)" test "$(helper alpha)" = "224"

click_key 0xff01
wait_for 20 sh -c "! kill -0 $flinto 2>/dev/null"
check "the close button ends Flinto" sh -c "! kill -0 $flinto 2>/dev/null"
"$wine" reg query 'HKCU\Software\Orsel\Flinto' 2>/dev/null | tr -d '\r' >"$work/reg.txt"
values=$(grep -c 'REG_DWORD' "$work/reg.txt")
check "the six settings stand in HKCU\\Software\\Orsel\\Flinto as REG_DWORD" \
  sh -c "[ $values -eq 6 ] && grep -q 'Face *REG_DWORD *0x2' '$work/reg.txt' && grep -q 'Transparent *REG_DWORD *0x1' '$work/reg.txt'"

# A first run on a screen scaled to 150 % (LogPixels 144): unit 4, drawn
# by Flinto itself (its manifest declares it DPI-aware), not stretched.
"$wine" reg delete 'HKCU\Software\Orsel\Flinto' /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
start_shown
check "a first run at 144 dpi: unit 4, the keyboard 632 x 208 ($kw x $kh)" \
  test "$kw $kh" = "632 208"
helper command 40001 >/dev/null # Exit
# (Saved as the program ends, which the Wine launcher may not wait for.)
unit4_saved() {
  "$wine" reg query 'HKCU\Software\Orsel\Flinto' 2>/dev/null | tr -d '\r' |
    grep -q 'Unit *REG_DWORD *0x4'
}
check "and unit 4 saved" wait_for 20 unit4_saved

echo "Shift (0x10) with the extended flag, as Wine delivers it: $shift_line"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
