#!/usr/bin/env bash
# Flinto beside the on-screen keyboard Debian has for Wayland (wvkbd, when
# installed) under one headless sway (1280 x 800, no bar, so Flinto shows
# itself), with a native target client. Prints Markdown tables, with the
# date, the commit and the machine:
# - start-up: from the fork to the first buffer attached to a surface and
#   written to the compositor, as the client's own protocol log says
#   (bench/first-frame), in interleaved rounds, min and median;
# - memory once up: RSS, private dirty and PSS; Flinto at units 3 and 6;
# - CPU per click on "a" (over 20 clicks, and the first apart from the
#   rest) and per second with the pointer resting on a key
#   (/proc/PID/schedstat); Flinto at units 3 and 6.
#
# usage: bench/wayland-compare.sh [BUILD_DIR] [ROUNDS] [NAMES]
#   (ROUNDS: 15 unless said; NAMES: flinto wvkbd)
set -u
build="$(cd "${1:-build}" && pwd)"
rounds="${2:-15}"
names="${3:-flinto wvkbd}"
. "$(dirname "$0")/../tests/checks.sh"
. "$(dirname "$0")/../tests/wayland/session.sh"
. "$(dirname "$0")/lib.sh"
work="$(mktemp -d /tmp/flinto-wl-compare.XXXXXX)"
trap 'wl_stop_session; kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
[ -x "$build/bench/first-frame" ] || {
  echo "no $build/bench/first-frame: configure with -DFLINTO_BENCH=ON and build" >&2
  exit 1
}
wl_prepare "$work" "$build" || exit 1
cp "$build/bench/first-frame" "$work/bin/"
settle_files "$work/bin/"*
present=()
for name in $names; do
  case "$name" in
  flinto) present+=(flinto) ;;
  wvkbd) command -v wvkbd-mobintl >/dev/null && present+=(wvkbd) ||
    echo "(wvkbd is not installed: left out)" >&2 ;;
  esac
done
wl_start_session no || exit 1
log="$work/run/target.log"
spawn "$work/bin/flinto-wl-target" "$log"
wl_pids+=($!)
wait_for 10 grep -q "focus in" "$log"

command_of() {
  case "$1" in
  flinto) echo "$work/bin/flinto" ;;
  wvkbd) echo wvkbd-mobintl ;;
  esac
}

# --- Start-up --------------------------------------------------------------
for name in "${present[@]}"; do : >"$work/start-$name"; done
for ((r = 0; r < rounds; r++)); do
  for name in "${present[@]}"; do
    settings 3
    read -r us pid < <(as_user "$work/bin/first-frame" \
      "$work/bin/flinto-wl-sent.so" "$(command_of "$name")")
    [ "$us" != "-" ] && echo "$us" >>"$work/start-$name"
    sleep 0.3
    stop "$pid"
  done
done

# --- Memory and CPU --------------------------------------------------------
a_key() { # NAME UNIT: the "a" key on the screen
  case "$1" in
  # The Full face at the bottom-right corner of 1280 x 800.
  flinto) echo $((1280 - 158 * $2 + 21 * $2)) $((800 - 52 * $2 + 35 * $2)) ;;
  # wvkbd's default layout, full width at the bottom.
  wvkbd) echo 183 700 ;;
  esac
}
click_here() {
  send press 1
  send release 1
  settle
}
# (flinto hands a Wayland session to flinto-wayland in the same process.)
measure() { # NAME UNIT
  local name="$1" unit="$2" pid ax ay
  [ "$unit" != - ] && settings "$unit"
  spawn "$(command_of "$name")" >/dev/null 2>&1
  pid=$!
  sleep 1.5
  read -r rss dirty pss < <(memory "$pid")
  read -r ax ay < <(a_key "$name" "${unit/-/3}")
  # Onto the key from beside it, as a hand moves: a keyboard that places
  # the pointer by its motion alone sees it there.
  send move $((ax - 2)) "$ay"
  settle
  send move "$ax" "$ay"
  settle
  local before
  before=$(typed_a "$log")
  read -r resting per_click first then < <(cpu_costs "$pid" click_here)
  send move 640 100
  settle
  cost_row "$name" "$unit" "$rss" "$dirty" "$pss" "$per_click" "$first" \
    "$then" "$resting" $(($(typed_a "$log") - before))
  stop "$pid"
}

measured ", sway $(sway --version 2>/dev/null | awk '{print $3}')"
echo
echo "| Keyboard | Start-up to the first buffer sent, min / median |"
echo "|---|---|"
for name in "${present[@]}"; do
  read -r smin smed < <(stats <"$work/start-$name")
  echo "| $name | $smin / $smed ms |"
done
echo
cost_header
for name in "${present[@]}"; do
  if [ "$name" = flinto ]; then
    measure flinto 3
    measure flinto 6
  else
    measure "$name" -
  fi
done
