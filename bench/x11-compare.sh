#!/usr/bin/env bash
# Flinto beside the on-screen keyboards Debian has for X11 (matchbox-keyboard
# and xvkbd, those installed), under one Xvfb (1280 x 800, jp106) with
# openbox and a target client. Prints Markdown tables, with the date, the
# commit and the machine:
# - start-up: from the fork to the first window mapped (bench/first-map),
#   in interleaved rounds (A B C A B C ...), min and median; warm (the
#   font caches as the system has them) and cold (fontconfig with an empty
#   cache of its own, as after a font package changed);
# - memory once up: RSS, private dirty and PSS; Flinto at units 3 and 6;
# - CPU per click on "a" (the process's own accounting,
#   /proc/PID/schedstat), over 20 clicks and the first apart from the rest,
#   and CPU per second with the pointer resting on a key; Flinto at units 3
#   and 6.
#
# usage: bench/x11-compare.sh [BUILD_DIR] [ROUNDS] [NAMES]
#   (ROUNDS: 15 unless said; NAMES: flinto matchbox-keyboard xvkbd)
set -u
build="$(cd "${1:-build}" && pwd)"
rounds="${2:-15}"
names="${3:-flinto matchbox-keyboard xvkbd}"
work="$(mktemp -d /tmp/flinto-compare.XXXXXX)"
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
. "$(dirname "$0")/../tests/checks.sh"
. "$(dirname "$0")/lib.sh"
first_map="$build/bench/first-map"
[ -x "$first_map" ] || {
  echo "no $first_map: configure with -DFLINTO_BENCH=ON and build" >&2
  exit 1
}
settle_files "$build/flinto" "$build/flinto-x11"
present=()
for name in $names; do
  case "$name" in
  flinto) present+=(flinto) ;;
  *) command -v "$name" >/dev/null && present+=("$name") ||
    echo "($name is not installed: left out)" >&2 ;;
  esac
done

exec 5>"$work/display"
Xvfb -displayfd 5 -noreset -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
wait_for 10 test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
setxkbmap -model jp106 -layout jp
openbox --sm-disable >/dev/null 2>&1 &
wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK
"$build/tests/x11/flinto-target" "$work/target.log" >/dev/null 2>&1 &
wait_for 10 grep -q "focus in" "$work/target.log"

command_of() { # NAME
  case "$1" in
  flinto) echo "$build/flinto" ;;
  *) echo "$1" ;;
  esac
}
# start NAME [cold]: "MICROSECONDS PID".
start() {
  if [ "${2:-}" = cold ]; then
    rm -rf "$work/cache" "$work/empty"
    mkdir -p "$work/cache" "$work/empty"
    [ -d "$HOME/.cache/flinto" ] && cp -r "$HOME/.cache/flinto" "$work/cache/"
    env XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
      unshare -m sh -c 'mount --bind "$0" /var/cache/fontconfig && exec "$@"' \
      "$work/empty" "$first_map" "$(command_of "$1")"
  else
    env XDG_CONFIG_HOME="$work/config" "$first_map" "$(command_of "$1")"
  fi
}

# --- Start-up ------------------------------------------------------------
# Cold: no fontconfig cache of the system's nor of the user's (an empty
# folder over the system's, in a mount namespace of the start's own; a
# fresh XDG_CACHE_HOME), its configuration and the fonts as they were, so
# what Flinto keeps of fontconfig's answers stays (copied to the fresh
# folder). Root only (the mount).
kinds=(warm)
[ "$(id -u)" -eq 0 ] && kinds+=(cold)
for kind in "${kinds[@]}"; do
  for name in "${present[@]}"; do : >"$work/start-$kind-$name"; done
  for ((r = 0; r < rounds; r++)); do
    for name in "${present[@]}"; do
      settings 3
      read -r us pid < <(start "$name" "$kind")
      [ "$us" != "-" ] && echo "$us" >>"$work/start-$kind-$name"
      sleep 0.3
      stop "$pid"
    done
  done
done

# --- Memory and CPU --------------------------------------------------------
# The "a" key's centre in each keyboard's window.
a_key() { # NAME UNIT
  case "$1" in
  flinto) echo $((21 * $2)) $((35 * $2)) ;;
  matchbox-keyboard) echo 119 162 ;;
  xvkbd) echo 78 91 ;;
  esac
}
window_of() { # NAME
  case "$1" in
  flinto) xdotool search --onlyvisible --class '^FlintoFrame$' ;;
  matchbox-keyboard) xdotool search --onlyvisible --name '^Keyboard$' ;;
  xvkbd) xdotool search --onlyvisible --class '^xvkbd$' ;;
  esac 2>/dev/null | head -n1
}
measure() { # NAME UNIT
  local name="$1" unit="$2" us pid win ax ay
  [ "$unit" != - ] && settings "$unit"
  read -r us pid < <(start "$name")
  sleep 1.5
  win=$(window_of "$name")
  eval "$(xdotool getwindowgeometry --shell "$win")"
  read -r ax ay < <(a_key "$name" "$unit")
  read -r rss dirty pss < <(memory "$pid")
  # Resting on the key (reached from beside it, as a hand moves), then
  # clicks with the pointer already there.
  xdotool mousemove $((X + ax - 2)) $((Y + ay))
  xdotool mousemove $((X + ax)) $((Y + ay))
  local before
  before=$(typed_a "$work/target.log")
  read -r resting per_click first then < <(cpu_costs "$pid" xdotool click 1)
  xdotool mousemove 5 5
  cost_row "$name" "$unit" "$rss" "$dirty" "$pss" "$per_click" "$first" \
    "$then" "$resting" $(($(typed_a "$work/target.log") - before))
  stop "$pid"
}

measured ""
echo
echo "| Keyboard | Start-up warm, min / median | Start-up cold fontconfig, min / median |"
echo "|---|---|---|"
for name in "${present[@]}"; do
  read -r wmin wmed < <(stats <"$work/start-warm-$name")
  cmin="-" cmed="-"
  [ -s "$work/start-cold-$name" ] && read -r cmin cmed < <(stats <"$work/start-cold-$name")
  echo "| $name | $wmin / $wmed ms | $cmin / $cmed ms |"
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
