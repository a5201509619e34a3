#!/usr/bin/env bash
# The Debian package as a user gets it: built by CPack from a release build,
# checked by lintian, appstreamcli and desktop-file-validate, installed with
# apt-get on this machine, started on a virtual X display (with no tray, the
# keyboard shows itself), and removed again leaving nothing behind.
# Prints "N passed, N failed".
#
# usage: deb.sh BUILD_DIR   (configured and built here for release)
set -u
src="$(cd "$(dirname "$0")/../.." && pwd)"
mkdir -p "${1:?usage: deb.sh BUILD_DIR}"
build="$(cd "$1" && pwd)" # apt-get takes a package file by its path only
work="$(mktemp -d /tmp/flinto-deb.XXXXXX)"
. "$src/tests/checks.sh"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo -n"

# --- Build -----------------------------------------------------------------
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$build" -j "$(nproc)" &&
  (cd "$build" && rm -f ./*.deb && cpack -G DEB); } >"$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log"
  fail "the package builds"
  echo "$passed passed, $failed failed"
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/flinto_${version}_amd64.deb"
check "cpack makes flinto_${version}_amd64.deb" test -f "$deb"
check "the version is 0.1.0 everywhere: the package" test "$version" = 0.1.0
check "and the program" test "$("$build/flinto" --version)" = "flinto 0.1.0"

# --- What is in it -----------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
check "section x11" test "$(field Section)" = x11
check "a summary and a description" \
  sh -c "[ -n \"\$(dpkg-deb -f '$deb' Description | sed -n 2p)\" ]"
depends=$(field Depends)
check "it depends on a Japanese font" grep -q "fonts-ipafont-gothic | fonts-japanese-gothic" <<<"$depends"
# Loaded only when a font is looked for: the linker does not record it.
check "it depends on fontconfig, which it loads when it looks for a font" \
  grep -qE "(^|, )libfontconfig1( |,|$)" <<<"$depends"
links() { grep -q "libfreetype6" <<<"$depends" && grep -q "libwayland-client0" <<<"$depends"; }
check "and on the libraries it links (from dpkg-shlibdeps)" links
# The X client libraries are linked into the X11 program.
check "but not on the X client libraries, which the X11 program holds" \
  not grep -qE "libx11-6|libxcb1" <<<"$depends"
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/flinto usr/libexec/flinto/flinto-x11 \
  usr/libexec/flinto/flinto-wayland \
  usr/libexec/flinto/flinto-compositor-keys.so \
  usr/share/man/man1/flinto.1.gz \
  usr/share/doc/flinto/copyright usr/share/doc/flinto/changelog.gz \
  usr/share/doc/flinto/x11-libraries-copyright \
  usr/share/applications/flinto.desktop \
  usr/share/applications/flinto-x11.desktop \
  usr/share/icons/hicolor/48x48/apps/flinto.png \
  usr/share/icons/hicolor/scalable/apps/flinto.svg \
  usr/share/metainfo/org.flinto.Flinto.metainfo.xml; do
  check "it holds /$f" test -s "$work/root/$f"
done
for p in usr/libexec/flinto/flinto-x11 usr/libexec/flinto/flinto-wayland \
  usr/libexec/flinto/flinto-compositor-keys.so; do
  f="$work/root/$p"
  check "/$p is stripped" not sh -c "file '$f' | grep -q 'not stripped'"
  check "and hardened: bound at start, read-only relocations" \
    sh -c "readelf -d '$f' | grep -q 'BIND_NOW' && readelf -l '$f' | grep -q GNU_RELRO"
  # (The module's few buffer calls all have sizes the compiler proves
  # safe: it calls no checked variant to show it.)
  check "with the stack protector and checked buffer functions" \
    sh -c "readelf -W --dyn-syms '$f' | grep -q __stack_chk_fail && { [ '${p##*.}' = so ] || readelf -W --dyn-syms '$f' | grep -q '__snprintf_chk'; }"
done
check "the X11 program loads no Wayland, D-Bus nor X library" \
  not sh -c "readelf -d '$work/root/usr/libexec/flinto/flinto-x11' | grep -E 'NEEDED.*(wayland|systemd|xkbcommon|X11|xcb)'"
# The program that chooses between them: linked statically, hardened too
# (its stack protector seen in its code: it has no symbols left).
chooser="$work/root/usr/bin/flinto"
check "/usr/bin/flinto, which chooses, loads no library and is stripped" \
  sh -c "! readelf -d '$chooser' | grep -q NEEDED && ! file '$chooser' | grep -q 'not stripped'"
check "and is position independent, bound at start, with read-only relocations" \
  sh -c "readelf -d '$chooser' | grep -q 'FLAGS_1.*NOW PIE' && readelf -l '$chooser' | grep -q GNU_RELRO"
# (Its own main, in the build: the C library linked in has the canary too.)
check "and has the stack protector" \
  sh -c "objdump -d --no-show-raw-insn --disassemble=main '$build/flinto' | grep -q '%fs:0x28'"
check "the X libraries' notices go with it" \
  sh -c "grep -q '^==> libx11-6 <==' '$work/root/usr/share/doc/flinto/x11-libraries-copyright' && grep -q '^==> libxdmcp6 <==' '$work/root/usr/share/doc/flinto/x11-libraries-copyright'"
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1
check "lintian finds no error and no warning" test $? -eq 0 || cat "$work/lintian.log"
appstreamcli validate --no-net \
  "$work/root/usr/share/metainfo/org.flinto.Flinto.metainfo.xml" >"$work/appstream.log" 2>&1
check "appstreamcli validates the metainfo" test $? -eq 0 || cat "$work/appstream.log"
check "its release is 0.1.0" grep -q '<release version="0.1.0"' \
  "$work/root/usr/share/metainfo/org.flinto.Flinto.metainfo.xml"
apps="$work/root/usr/share/applications"
check "desktop-file-validate passes the desktop entries" \
  desktop-file-validate "$apps/flinto.desktop" "$apps/flinto-x11.desktop"
check "which name the programs by their paths, the hidden one with KDE's fake input" \
  sh -c "grep -qx 'Exec=/usr/bin/flinto' '$apps/flinto.desktop' && grep -qx 'Exec=/usr/libexec/flinto/flinto-x11' '$apps/flinto-x11.desktop' && grep -qx 'NoDisplay=true' '$apps/flinto-x11.desktop' && grep -q '^X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,' '$apps/flinto-x11.desktop'"
check "which has a Japanese name and comment" \
  sh -c "grep -q '^Name\[ja\]=' '$work/root/usr/share/applications/flinto.desktop' && grep -q '^Comment\[ja\]=' '$work/root/usr/share/applications/flinto.desktop'"
LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l \
  "$work/root/usr/share/man/man1/flinto.1.gz" >"$work/man.txt" 2>"$work/man.err"
check "the manual page reads without a warning" \
  sh -c "grep -q 'FLINTO' '$work/man.txt' && [ ! -s '$work/man.err' ]"

# --- cmake --install as before ---------------------------------------------
cmake --install "$build" --prefix "$work/prefix" >/dev/null 2>&1
check "cmake --install puts the program, the entry and the icons in place" \
  sh -c "test -x '$work/prefix/bin/flinto' && test -f '$work/prefix/share/applications/flinto.desktop' && test -f '$work/prefix/share/icons/hicolor/scalable/apps/flinto.svg'"
ln -s "$work/prefix/bin/flinto" "$work/flinto-link"
check "flinto runs the X11 program where it was installed, also through a link" \
  sh -c "env -u WAYLAND_DISPLAY '$work/prefix/bin/flinto' --version | grep -qx 'flinto 0.1.0' && env -u WAYLAND_DISPLAY '$work/flinto-link' --version | grep -qx 'flinto 0.1.0' && WAYLAND_DISPLAY=wayland-none '$work/prefix/bin/flinto' --version | grep -qx 'flinto 0.1.0'"
check "the entries name the programs where they were installed" \
  sh -c "grep -qx 'Exec=$work/prefix/bin/flinto' '$work/prefix/share/applications/flinto.desktop' && grep -qx 'Exec=$work/prefix/libexec/flinto/flinto-x11' '$work/prefix/share/applications/flinto-x11.desktop'"

# --- Installed, used, removed ------------------------------------------------
if ! $sudo true 2>/dev/null; then
  fail "installing needs root (or sudo without a password)"
  echo "$passed passed, $failed failed"
  exit 1
fi
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}')
check "the package lists its files" test "$(wc -w <<<"$files")" -ge 14
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$deb" >"$work/install.log" 2>&1
check "apt-get installs the package" test $? -eq 0 || tail -n 5 "$work/install.log"
check "flinto is on the PATH, with its version" test "$(/usr/bin/flinto --version)" = "flinto 0.1.0"
check "man flinto finds the page" sh -c "man -w flinto | grep -q /usr/share/man/man1/flinto.1.gz"
check "flinto --help answers without a display" \
  sh -c "env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/flinto --help | grep -q FLINTO_HOST"

exec 5>"$work/displayfd"
Xvfb -displayfd 5 -noreset -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/displayfd"
export DISPLAY=":$(head -n1 "$work/displayfd")"
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK
XDG_CONFIG_HOME="$work/config" /usr/bin/flinto >"$work/flinto.log" 2>&1 &
flinto_pid=$!
keyboard_shown() {
  local id
  id=$(xdotool search --class '^FlintoFrame$' 2>/dev/null | tail -n1)
  [ -n "$id" ] && xwininfo -id "$id" | grep -q "Map State: IsViewable"
}
check "the installed flinto shows its keyboard on a desktop without a tray" \
  wait_for 10 keyboard_shown
kill -TERM "$flinto_pid"
wait_for 5 not kill -0 "$flinto_pid"
wait "$flinto_pid"
check "and ends with status 0 at SIGTERM" test $? -eq 0

DEBIAN_FRONTEND=noninteractive $sudo apt-get remove --purge -y -qq flinto >"$work/remove.log" 2>&1
check "apt-get removes it" test $? -eq 0
left=()
for f in $files; do [ -e "/$f" ] && left+=("/$f"); done
[ -d /usr/share/doc/flinto ] && left+=(/usr/share/doc/flinto)
if [ ${#left[@]} -eq 0 ]; then ok "nothing of it is left"; else fail "nothing of it is left" "${left[@]}"; fi
check "and dpkg no longer knows it" not sh -c "dpkg-query -W -f='\${Status}' flinto 2>/dev/null | grep -q installed"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
