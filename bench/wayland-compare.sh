#!/usr/bin/env bash
# Flinto beside another on-screen keyboard for Wayland from Debian (wvkbd),
# each alone under the same headless sway (no bar, so Flinto shows itself):
# start-up to the first buffer attached to a surface (by the client's own
# protocol log), memory (RSS, PSS), CPU time and wake-ups over 30 s idle with
# the keyboard shown and hidden, and the time from the press of a button on
# the "a" key to the key event in a native target. Prints a Markdown table.
#
# usage: bench/wayland-compare.sh [BUILD_DIR] [IDLE_SECONDS] [NAMES]
set -u
build="$(cd "${1:-build}" && pwd)"
idle="${2:-30}"
. "$(dirname "$0")/../tests/checks.sh"
. "$(dirname "$0")/../tests/wayland/session.sh"
work="$(mktemp -d /tmp/flinto-wl-compare.XXXXXX)"
trap 'wl_stop_session; kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
wl_prepare "$work" "$build" || exit 1
now_us() { echo $(($(date +%s%N) / 1000)); }
cpu_ms() { # utime + stime of PID, in milliseconds
  awk -v hz="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / hz)}' "/proc/$1/stat"
}
switches() { awk '/ctxt_switches/ {n += $2} END {print n}' "/proc/$1/status"; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }

measure() { # NAME A_X A_Y COMMAND... (A_X, A_Y: the "a" key on the screen)
  local name="$1" ax="$2" ay="$3"
  shift 3
  wl_start_session no || return 1
  local log="$work/run/target.log"
  rm -f "$log"
  TARGET_TIMES=1 spawn env TARGET_TIMES=1 "$work/bin/flinto-wl-target" "$log"
  wl_pids+=($!)
  wait_for 10 grep -q "focus in" "$log"
  rm -rf "$work/config/flinto"

  local t0 t1 pid debug="$work/run/$name.wayland"
  t0=$(now_us)
  WAYLAND_DEBUG=1 spawn "$@" >/dev/null 2>"$debug"
  pid=$!
  # The first buffer attached to a surface, as the client logs it.
  for ((i = 0; i < 5000; i++)); do
    grep -q 'wl_surface@[0-9]*\.attach(wl_buffer@' "$debug" 2>/dev/null && break
    sleep 0.002
  done
  t1=$(now_us)
  local startup=$(((t1 - t0) / 1000))
  sleep 2
  local rss pss
  read -r rss pss < <(awk '/^Rss:/ {r=$2} /^Pss:/ {p=$2} END {print r, p}' "/proc/$pid/smaps_rollup")

  # Idle, shown.
  send move 640 100
  settle
  sleep 1
  local c0 s0 c1 s1
  c0=$(cpu_ms "$pid")
  s0=$(switches "$pid")
  sleep "$idle"
  c1=$(cpu_ms "$pid")
  s1=$(switches "$pid")
  local shownCpu=$((c1 - c0)) shownWake=$((s1 - s0))

  # From the click on "a" (its press and release sent together) to the key
  # event, ten times.
  local total=0 count=0 before t got
  for i in 1 2 3 4 5 6 7 8 9 10; do
    send move "$ax" "$ay"
    settle
    before=$(grep -c '^at' "$log")
    t=$(now_us)
    send press 1
    send release 1
    settle
    if wait_for 2 sh -c "[ \$(grep -c '^at' '$log') -gt $before ]"; then
      got=$(grep '^at' "$log" | sed -n "$((before + 1))p" | cut -d' ' -f2)
      total=$((total + got - t))
      count=$((count + 1))
    fi
    sleep 0.2
  done
  local latency="n/a"
  [ "$count" -gt 0 ] && latency="$(awk -v t="$total" -v n="$count" 'BEGIN {printf "%.1f", t / n / 1000}') ms"
  local focus="yes"
  [ "$(focused)" = "flinto-target" ] || focus="no"

  # Idle, hidden: Flinto by its own hide button, wvkbd by its signal.
  if [ "$name" = flinto ]; then
    click $((1280 - 474 + 438)) $((800 - 156 + 13))
  else
    kill -USR1 "$pid"
  fi
  send move 640 100
  settle
  sleep 1
  c0=$(cpu_ms "$pid")
  s0=$(switches "$pid")
  sleep "$idle"
  c1=$(cpu_ms "$pid")
  s1=$(switches "$pid")
  local hiddenCpu=$((c1 - c0)) hiddenWake=$((s1 - s0))

  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  wl_stop_session
  wait 2>/dev/null
  printf '| %s | %d ms | %s MiB | %s MiB | %d ms, %d | %d ms, %d | %s | %s |\n' \
    "$name" "$startup" "$(mib "$rss")" "$(mib "$pss")" "$shownCpu" "$shownWake" \
    "$hiddenCpu" "$hiddenWake" "$latency" "$focus"
}

echo "| Keyboard | Start-up to first buffer | RSS | PSS | Idle ${idle} s shown: CPU, wake-ups | Idle ${idle} s hidden: CPU, wake-ups | Click to key event | Target keeps focus |"
echo "|---|---|---|---|---|---|---|---|"
for name in ${3:-flinto wvkbd}; do
  case "$name" in
  # The "a" key of the Full face at the bottom-right corner of 1280 x 800.
  flinto) measure flinto $((1280 - 474 + 63)) $((800 - 156 + 105)) "$work/bin/flinto" ;;
  # wvkbd's default layout, full width at the bottom.
  wvkbd) measure wvkbd 183 700 wvkbd-mobintl ;;
  esac
done
