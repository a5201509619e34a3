#!/usr/bin/env bash
# The Windows installer under Wine, as a user runs it: installed silently,
# its files, shortcut and registry entries checked, the installed Flinto
# started, then uninstalled silently while it runs: Flinto must end the
# normal way (its settings saved) and nothing but the settings may be left.
# Prints "N passed, N failed".
#
# usage: installer.sh WINDOWS_BUILD_DIR
set -u
win="$(cd "${1:?usage: installer.sh WINDOWS_BUILD_DIR}" && pwd)"
work="$(mktemp -d /tmp/flinto-setup.XXXXXX)"
. "$(dirname "$0")/wine.sh"
/usr/lib/wine/wineserver -w 2>/dev/null || true
openbox --sm-disable >/dev/null 2>&1 &
openbox=$!
wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK

helper() { "$wine" "$win/flinto-helper.exe" "$@" 2>/dev/null | tr -d '\r'; }
reg_value() { # KEY NAME: the value's data, nothing when there is none
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
drive="$WINEPREFIX/drive_c"
dir="$drive/Program Files/Flinto"
shortcut="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Flinto.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Flinto'
settings_key='HKCU\Software\Orsel\Flinto'

# --- The program as built ------------------------------------------------
exe="$win/flinto.exe"
check "flinto.exe carries version 0.1.0" test "$(helper version "$exe")" = "0.1.0 0.1.0 Flinto"
helper manifest "$exe" >"$work/manifest.xml"
check "and a manifest: per-monitor DPI awareness (v2), never stretched" \
  grep -q ">PerMonitorV2</dpiAwareness>" "$work/manifest.xml"
check "the common controls of version 6, the user's own rights" \
  sh -c "grep -q 'Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"' '$work/manifest.xml' && grep -q 'level=\"asInvoker\"' '$work/manifest.xml'"
helper icons "$exe" >"$work/icons.txt"
check "its icon has 32-bit images from 16 to 256 pixels" \
  sh -c "for s in 16 24 32 48 64 128 256; do grep -qx \"\$s/32\" '$work/icons.txt' || exit 1; done"

# --- Installed silently -----------------------------------------------------
setup="$win/flinto-0.1.0-setup.exe"
check "the installer is built, named with the version" test -f "$setup"
timeout 120 "$wine" "$setup" /S >"$work/setup.log" 2>&1
check "a silent install ends with status 0" test $? -eq 0
check "it puts flinto.exe in Program Files" test -f "$dir/flinto.exe"
check "with its uninstaller" test -f "$dir/uninstall.exe"
check "and a Start-menu shortcut" test -f "$shortcut"
check "registered for removal: name" test "$(reg_value "$uninstall_key" DisplayName)" = "Flinto"
check "version" test "$(reg_value "$uninstall_key" DisplayVersion)" = "0.1.0"
check "publisher" test "$(reg_value "$uninstall_key" Publisher)" = "The Flinto authors"
check "the icon is the program's" \
  test "$(reg_value "$uninstall_key" DisplayIcon)" = 'C:\Program Files\Flinto\flinto.exe,0'
check "uninstall command" \
  test "$(reg_value "$uninstall_key" UninstallString)" = '"C:\Program Files\Flinto\uninstall.exe"'
check "quiet uninstall command" \
  test "$(reg_value "$uninstall_key" QuietUninstallString)" = '"C:\Program Files\Flinto\uninstall.exe" /S'
size=$(reg_value "$uninstall_key" EstimatedSize)
check "estimated size ($size)" sh -c "[ -n '$size' ] && [ \$(( $size )) -gt 100 ]"
check "not started at logon unless chosen" \
  test -z "$(reg_value 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' Flinto)"

# --- The installed program ---------------------------------------------------
installed='C:\Program Files\Flinto\flinto.exe'
check "flinto --version answers" test "$("$wine" "$installed" --version 2>/dev/null | tr -d '\r')" = "flinto 0.1.0"
check "flinto --help answers" sh -c "'$wine' '$installed' --help 2>/dev/null | grep -q 'Usage: flinto'"
"$wine" "$installed" --nonsense >/dev/null 2>"$work/nonsense.txt"
check "an unknown option is an error (status 2)" test $? -eq 2
"$wine" "$installed" >"$work/flinto.log" 2>&1 &
flinto=$!
wait_for 30 sh -c "'$wine' '$win/flinto-helper.exe' rect >/dev/null 2>&1"
helper tray
check "the installed Flinto runs and shows its keyboard" wait_for 10 sh -c "'$wine' '$win/flinto-helper.exe' rect >/dev/null 2>&1"
helper command 40006 # Shrink: a setting to be saved at the end
shrunk() { [ "$(helper rect | cut -d' ' -f3,4)" = "316 104" ]; }
check "and takes a command (Shrink)" wait_for 10 shrunk

# --- Uninstalled silently while it runs --------------------------------------
"$wine" "$dir/uninstall.exe" /S >/dev/null 2>&1
check "the silent uninstall ends the running Flinto" wait_for 30 not kill -0 "$flinto"
wait "$flinto"
check "which ends the normal way (status 0)" test $? -eq 0
unit=$(reg_value "$settings_key" Unit)
check "having saved its settings (Unit $unit after a Shrink from 3)" test "$unit" = "0x2"
gone() { [ ! -e "$dir" ] && [ ! -e "$shortcut" ]; }
check "the program, its folder and the shortcut are gone" wait_for 30 gone
check "and its registration" not "$wine" reg query "$uninstall_key"
check "the user's settings stay" test -n "$(reg_value "$settings_key" Face)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
