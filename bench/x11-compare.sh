#!/usr/bin/env bash
# Flinto beside two other on-screen keyboards from Debian (xvkbd and
# matchbox-keyboard), each alone under one Xvfb with openbox: start-up to
# the first mapped window, memory (RSS, PSS), CPU time and wake-ups over
# 30 s idle with the keyboard shown and hidden, and the time from a click on
# the "a" key to the KeyPress in a target client. Prints a Markdown table.
#
# usage: bench/x11-compare.sh [BUILD_DIR] [IDLE_SECONDS] [NAMES]
set -u
build="$(cd "${1:-build}" && pwd)"
idle="${2:-30}"
work="$(mktemp -d /tmp/flinto-compare.XXXXXX)"
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
wait_for() { for ((i = 0; i < $1 * 100; i++)); do "${@:2}" >/dev/null 2>&1 && return 0; sleep 0.01; done; return 1; }
now_us() { echo $(( $(date +%s%N) / 1000 )); }
cpu_ms() { # utime + stime of PID, in milliseconds
  awk -v hz="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / hz)}' "/proc/$1/stat"
}
switches() { awk '/ctxt_switches/ {n += $2} END {print n}' "/proc/$1/status"; }
rss_pss() { awk '/^Rss:/ {r=$2} /^Pss:/ {p=$2} END {printf "%d %d", r/1024*10/10, p/1024*10/10}' "/proc/$1/smaps_rollup"; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }

measure() { # NAME SEARCH A_X A_Y COMMAND... (SEARCH: xdotool search
  # arguments that find its window; A_X, A_Y: the "a" key, relative)
  local name="$1" search="$2" ax="$3" ay="$4"
  shift 4
  exec 5>"$work/display"
  Xvfb -displayfd 5 -noreset -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  local xvfb=$!
  wait_for 10 test -s "$work/display"
  export DISPLAY=":$(head -n1 "$work/display")"
  : >"$work/display"
  setxkbmap -model jp106 -layout jp
  openbox --sm-disable >/dev/null 2>&1 &
  local wm=$!
  wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK
  TARGET_TIMES=1 "$build/tests/x11/flinto-target" "$work/target.log" &
  local target=$!
  wait_for 10 grep -q "focus in" "$work/target.log"

  local t0 t1 pid win
  t0=$(now_us)
  XDG_CONFIG_HOME="$work/config-$name" "$@" >/dev/null 2>&1 &
  pid=$!
  wait_for 20 xdotool search --onlyvisible $search
  t1=$(now_us)
  win=$(xdotool search --onlyvisible $search | head -n1)
  local startup=$(( (t1 - t0) / 1000 ))
  sleep 2
  local memory
  memory=$(awk '/^Rss:/ {r=$2} /^Pss:/ {p=$2} END {print r, p}' "/proc/$pid/smaps_rollup")

  # Idle, shown.
  xdotool mousemove 5 5
  local c0 s0 c1 s1
  c0=$(cpu_ms "$pid"); s0=$(switches "$pid")
  sleep "$idle"
  c1=$(cpu_ms "$pid"); s1=$(switches "$pid")
  local shownCpu=$((c1 - c0)) shownWake=$((s1 - s0))

  # Click-to-KeyPress on "a", ten times.
  eval "$(xdotool getwindowgeometry --shell "$win")"
  local total=0 count=0
  for i in 1 2 3 4 5 6 7 8 9 10; do
    local before t
    before=$(grep -c '^at' "$work/target.log")
    t=$(now_us)
    xdotool mousemove $((X + ax)) $((Y + ay)) click 1
    if wait_for 2 sh -c "[ \$(grep -c '^at' '$work/target.log') -gt $before ]"; then
      local got
      got=$(grep '^at' "$work/target.log" | sed -n "$((before + 1))p" | cut -d' ' -f2)
      total=$((total + got - t))
      count=$((count + 1))
    fi
    sleep 0.2
  done
  local latency="n/a"
  [ "$count" -gt 0 ] && latency="$(awk -v t="$total" -v n="$count" 'BEGIN {printf "%.1f", t / n / 1000}') ms"
  local focus="yes"
  [ "$(xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //')" = "$(sed -n 's/^ready window=//p' "$work/target.log")" ] || focus="no"

  # Idle, hidden: Flinto by its own hide button, the others unmapped.
  if [ "$name" = flinto ]; then
    xdotool mousemove $((X + 438)) $((Y + 13)) click 1
  else
    xdotool windowunmap "$win"
  fi
  xdotool mousemove 5 5
  sleep 1
  c0=$(cpu_ms "$pid"); s0=$(switches "$pid")
  sleep "$idle"
  c1=$(cpu_ms "$pid"); s1=$(switches "$pid")
  local hiddenCpu=$((c1 - c0)) hiddenWake=$((s1 - s0))

  kill "$pid" "$target" "$wm" 2>/dev/null
  wait "$pid" "$target" "$wm" 2>/dev/null
  kill "$xvfb"
  wait "$xvfb" 2>/dev/null
  rm -f "$work/target.log"
  read -r rss pss <<<"$memory"
  printf '| %s | %d ms | %s MiB | %s MiB | %d ms, %d | %d ms, %d | %s | %s |\n' \
    "$name" "$startup" "$(mib "$rss")" "$(mib "$pss")" "$shownCpu" "$shownWake" \
    "$hiddenCpu" "$hiddenWake" "$latency" "$focus"
}

echo "| Keyboard | Start-up to mapped window | RSS | PSS | Idle ${idle} s shown: CPU, wake-ups | Idle ${idle} s hidden: CPU, wake-ups | Click to KeyPress | Target keeps focus |"
echo "|---|---|---|---|---|---|---|---|"
which="${3:-flinto xvkbd matchbox-keyboard}"
for name in $which; do
  case "$name" in
  flinto) measure flinto "--class ^FlintoFrame$" 63 105 "$build/flinto" ;;
  xvkbd) measure xvkbd "--class ^xvkbd$" 78 91 xvkbd ;;
  # matchbox-keyboard's window has no class, only its name.
  matchbox-keyboard) measure matchbox-keyboard "--name ^Keyboard$" 119 162 matchbox-keyboard ;;
  esac
done
