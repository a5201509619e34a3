# Shared by the tests under Wine, sourced after WORK and WIN are set: a
# fresh 64-bit prefix in WORK, the wine program ($wine), a virtual display
# with openbox, and a clean-up that stops them (calling wine_cleanup_more
# first, where the test defines it).
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine64
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

cleanup() {
  declare -F wine_cleanup_more >/dev/null && wine_cleanup_more
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || wineserver -k >/dev/null 2>&1
  [ -n "${openbox:-}" ] && kill "$openbox" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  if [ -n "${E2E_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

exec 5>"$work/display"
Xvfb -displayfd 5 -noreset -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wait_for 10 test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
"$wine" wineboot -i >"$work/boot.log" 2>&1
