# What the comparisons with other keyboards share, sourced by them.

stop() { kill "$1" 2>/dev/null; wait_for 5 sh -c "! kill -0 $1"; }
# Numbers (microseconds) on stdin: "MIN MEDIAN" in milliseconds.
stats() {
  sort -n | awk '{v[NR] = $1} END {printf "%.1f %.1f", v[1] / 1000, (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1000}'
}
ns_on_cpu() { cut -d' ' -f1 "/proc/$1/schedstat"; }
# A program's pages are counted as private dirty while the page cache still
# holds them unwritten (a file just built or copied): written out first,
# they count as an installed program's would.
settle_files() { sync "$@"; }
memory() { # PID: "RSS PRIVATE_DIRTY PSS" in KiB
  awk '/^Rss:/ {r=$2} /^Private_Dirty:/ {d=$2} /^Pss:/ {p=$2} END {print r, d, p}' \
    "/proc/$1/smaps_rollup"
}
# Flinto's settings: the unit (the place is the default corner).
settings() { # UNIT
  mkdir -p "$work/config/flinto"
  printf '[HKEY_CURRENT_USER\\Software\\Orsel\\Flinto]\n"Unit"=dword:%08x\n' "$1" \
    >"$work/config/flinto/registry.txt"
  chmod -R a+rwX "$work/config"
}
# CPU of PID resting (per second, over 5 s), then per click (CLICK: a
# command that clicks once where the pointer is), the resting share of the
# time between clicks taken off: "RESTING_NS PER_CLICK_NS FIRST_NS THEN_NS",
# PER_CLICK over all 20 clicks, FIRST the first one's (what a keyboard
# makes ready on its first click shows there), THEN the others' mean.
cpu_costs() { # PID CLICK...
  local pid="$1" c0 c1 c2 i
  shift
  sleep 1
  c0=$(ns_on_cpu "$pid")
  sleep 5
  c1=$(ns_on_cpu "$pid")
  local resting=$(((c1 - c0) / 5)) clicks=20
  local gap=$((resting / 4)) # a click's share of the resting cost
  c0=$(ns_on_cpu "$pid")
  "$@"
  sleep 0.25
  c1=$(ns_on_cpu "$pid")
  for ((i = 1; i < clicks; i++)); do
    "$@"
    sleep 0.25
  done
  c2=$(ns_on_cpu "$pid")
  echo "$resting $(((c2 - c0) / clicks - gap)) $((c1 - c0 - gap))" \
    "$(((c2 - c1) / (clicks - 1) - gap))"
}
# How many times the target saw "a" typed (its log).
typed_a() { grep -c '^press .* keysym=a ' "$1"; }
# One row of the memory and CPU table; TYPED: how many of the clicks typed
# "a" (a click that types nothing costs less, and says nothing).
cost_row() { # NAME UNIT RSS DIRTY PSS PER_CLICK_NS FIRST_NS THEN_NS RESTING_NS TYPED
  awk -v n="$1" -v u="$2" -v r="$3" -v d="$4" -v p="$5" -v c="$6" -v f="$7" \
    -v l="$8" -v s="$9" -v t="${10}" 'BEGIN {
    printf "| %s | %s | %.1f MiB | %.2f MiB | %.1f MiB | %.2f ms (%s of 20 typed) | %.2f / %.2f ms | %.2f ms/s |\n",
      n, u, r / 1024, d / 1024, p / 1024, c / 1e6, t, f / 1e6, l / 1e6, s / 1e6 }'
}
measured() { # what else to say
  echo "Measured $(date -u +%Y-%m-%d) at $(git -C "$(dirname "$0")" rev-parse --short HEAD 2>/dev/null || echo '?') on $(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n1), $rounds rounds$1."
}
cost_header() {
  echo "| Keyboard | Unit | RSS | Private dirty | PSS | CPU per click | first click / the 19 after | CPU resting on a key |"
  echo "|---|---|---|---|---|---|---|---|"
}
