# Shared by the end-to-end tests and the comparisons: counted checks, each
# printed as "ok - NAME" or "not ok - NAME", and waiting for a condition.
passed=0
failed=0

ok() { passed=$((passed + 1)); echo "ok - $1"; }
not() { ! "$@"; }
fail() {
  failed=$((failed + 1))
  echo "not ok - $1"
  [ $# -gt 1 ] && printf '    %s\n' "${@:2}"
}
# check NAME COMMAND...: passes when the command succeeds; returns its
# status, so that what follows can depend on it.
check() {
  local name="$1"
  shift
  if "$@"; then
    ok "$name"
  else
    fail "$name"
    return 1
  fi
}
# stop_process PID: ends a program, forcibly if it does not end within 5 s.
stop_process() {
  kill "$1" 2>/dev/null
  wait_for 5 not kill -0 "$1" ||
    echo "# process $1 did not end within 5 s of SIGTERM: killed"
  kill -9 "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
# stop_flinto: ends the Flinto under test ($flinto_pid), if any.
stop_flinto() {
  [ -n "${flinto_pid:-}" ] || return 0
  stop_process "$flinto_pid"
  flinto_pid=
}
# wait_for SECONDS COMMAND...: polls until the command succeeds, for at most
# SECONDS of wall-clock time however long each try takes (a busy machine
# makes tries slow, not fewer); the command is always tried at least once.
wait_for() {
  local end=$(($(date +%s%N) / 1000000 + $1 * 1000))
  shift
  while :; do
    "$@" >/dev/null 2>&1 && return 0
    [ $(($(date +%s%N) / 1000000)) -ge "$end" ] && return 1
    sleep 0.02
  done
}

# --- Flinto's keyboard, for the end-to-end tests --------------------------
# They set: sim (flinto-sim), target_log (the target's key log), layout_file
# (the layout in use, as layout_of prints it), and define keyboard_corner (the
# keyboard's screen corner: "X Y") and click_at X Y BUTTON (a real click).

# layout_of SETUP: the layout of the face and unit SETUP's lines give (for
# example "setting Unit dword 2"): "ID X Y W H TEXT" per key, in client
# pixels, as flinto-sim prints it.
layout_of() {
  printf '%s\nstart\nprint layout\n' "$1" | "$sim" | sed -n 's/^layout //p'
}
# key_centre ID: the screen point of the key's centre, "X Y".
key_centre() {
  local kx ky lid x y w h text
  read -r kx ky < <(keyboard_corner)
  while read -r lid x y w h text; do
    if [ "$lid" = "$1" ]; then
      echo "$((kx + x + w / 2)) $((ky + y + h / 2))"
      return
    fi
  done <"$layout_file"
}
# click_key ID [BUTTON]: a real click on the key's centre.
click_key() {
  local x y
  read -r x y < <(key_centre "$1")
  click_at "$x" "$y" "${2:-1}"
}
log_lines() { wc -l <"$target_log"; }
# new_events FROM: the target's log after line FROM.
new_events() { tail -n +"$(($1 + 1))" "$target_log"; }
# logged FROM PATTERN: the target logged a line matching PATTERN after FROM.
logged() { new_events "$1" | grep -q "$2"; }

# The context menu as the Linux hosts lay it out (flinto-sim's "print
# menu"): menu_size gives "W H", menu_row ID the command's row "TOP BOTTOM"
# in menu pixels, menu_middle ID the middle of that row.
menu_size() { printf 'start\nprint menu\n' | "$sim" | sed -n 's/^menu //p'; }
menu_row() {
  printf 'start\nprint menu\n' | "$sim" | sed -n "s/^menu-item $1 //p"
}
menu_middle() {
  local top bottom
  read -r top bottom < <(menu_row "$1")
  echo $(((top + bottom) / 2))
}

# --- X11 windows, for the X11 end-to-end tests -----------------------------
# window_of CLASS: "ID X Y W H" of the window of that class (its client
# area on the screen); nothing when there is none.
window_of() {
  local id info
  id=$(timeout 5 xdotool search --class "^$1\$" 2>/dev/null | tail -n1)
  [ -n "$id" ] || return 1
  info=$(timeout 5 xwininfo -id "$id" 2>/dev/null) || return 1
  printf '0x%x %s %s %s %s\n' "$id" \
    "$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")" \
    "$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")" \
    "$(sed -n 's/.*Width: *//p' <<<"$info")" \
    "$(sed -n 's/.*Height: *//p' <<<"$info")"
}
# above A B: window A lies above window B among the root's children
# (flinto-hostile of $build lists them).
above() {
  "$build/tests/x11/flinto-hostile" stack |
    awk -v a="$(printf '0x%x' "$1")" -v b="$(printf '0x%x' "$2")" \
      '$1 == a { ia = NR } $1 == b { ib = NR } END { exit !(ia && ib && ia > ib) }'
}
