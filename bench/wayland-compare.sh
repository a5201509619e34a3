#!/usr/bin/env bash
# Flinto beside the on-screen keyboard Debian has for Wayland (wvkbd, when
# installed) under one headless sway (1280 x 800, no bar, so Flinto shows
# itself), with a native target client. Prints Markdown tables, with the
# date, the commit and the machine:
# - start-up: from the fork to the first buffer attached to a surface, as
#   the client's own protocol log says (bench/first-frame), in interleaved
#   rounds, min and median;
# - memory once up: RSS, private dirty and PSS; Flinto at units 3 and 6;
# - CPU per click on "a" and per second with the pointer resting on a key
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
work="$(mktemp -d /tmp/flinto-wl-compare.XXXXXX)"
trap 'wl_stop_session; kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
[ -x "$build/bench/first-frame" ] || {
  echo "no $build/bench/first-frame: configure with -DFLINTO_BENCH=ON and build" >&2
  exit 1
}
wl_prepare "$work" "$build" || exit 1
cp "$build/bench/first-frame" "$work/bin/"
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
settings() { # UNIT
  mkdir -p "$work/config/flinto"
  printf '[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"Unit"=dword:%08x\n' "$1" \
    >"$work/config/flinto/registry.txt"
  chmod -R a+rwX "$work/config"
}
stop() { kill "$1" 2>/dev/null; wait_for 5 sh -c "! kill -0 $1"; }
stats() { # numbers on stdin: "min median"
  sort -n | awk '{v[NR] = $1} END {printf "%.1f %.1f", v[1] / 1000, (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1000}'
}

# --- Start-up --------------------------------------------------------------
for name in "${present[@]}"; do : >"$work/start-$name"; done
for ((r = 0; r < rounds; r++)); do
  for name in "${present[@]}"; do
    settings 3
    read -r us pid < <(as_user "$work/bin/first-frame" "$(command_of "$name")")
    [ "$us" != "-" ] && echo "$us" >>"$work/start-$name"
    sleep 0.3
    stop "$pid"
  done
done

# --- Memory and CPU --------------------------------------------------------
ns_on_cpu() { cut -d' ' -f1 "/proc/$1/schedstat"; }
memory() { # PID: "RSS PRIVATE_DIRTY PSS" in KiB
  awk '/^Rss:/ {r=$2} /^Private_Dirty:/ {d=$2} /^Pss:/ {p=$2} END {print r, d, p}' \
    "/proc/$1/smaps_rollup"
}
a_key() { # NAME UNIT: the "a" key on the screen
  case "$1" in
  # The Full face at the bottom-right corner of 1280 x 800.
  flinto) echo $((1280 - 158 * $2 + 21 * $2)) $((800 - 52 * $2 + 35 * $2)) ;;
  # wvkbd's default layout, full width at the bottom.
  wvkbd) echo 183 700 ;;
  esac
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
  send move "$ax" "$ay"
  settle
  sleep 1
  local c0 c1
  c0=$(ns_on_cpu "$pid")
  sleep 5
  c1=$(ns_on_cpu "$pid")
  local resting=$(((c1 - c0) / 5))
  local clicks=20
  c0=$(ns_on_cpu "$pid")
  for ((i = 0; i < clicks; i++)); do
    send press 1
    send release 1
    settle
    sleep 0.25
  done
  c1=$(ns_on_cpu "$pid")
  local per_click=$(((c1 - c0 - resting * clicks / 4) / clicks))
  send move 640 100
  settle
  awk -v n="$name" -v u="$unit" -v r="$rss" -v d="$dirty" -v p="$pss" \
    -v c="$per_click" -v s="$resting" 'BEGIN {
      printf "| %s | %s | %.1f MiB | %.2f MiB | %.1f MiB | %.2f ms | %.2f ms/s |\n",
        n, u, r / 1024, d / 1024, p / 1024, c / 1e6, s / 1e6 }'
  stop "$pid"
}

echo "Measured $(date -u +%Y-%m-%d) at $(git -C "$(dirname "$0")" rev-parse --short HEAD 2>/dev/null || echo '?') on $(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n1), $rounds rounds, sway $(sway --version 2>/dev/null | awk '{print $3}')."
echo
echo "| Keyboard | Start-up to the first buffer, min / median |"
echo "|---|---|"
for name in "${present[@]}"; do
  read -r smin smed < <(stats <"$work/start-$name")
  echo "| $name | $smin / $smed ms |"
done
echo
echo "| Keyboard | Unit | RSS | Private dirty | PSS | CPU per click | CPU resting on a key |"
echo "|---|---|---|---|---|---|---|"
for name in "${present[@]}"; do
  if [ "$name" = flinto ]; then
    measure flinto 3
    measure flinto 6
  else
    measure "$name" -
  fi
done
