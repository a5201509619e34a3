# A headless sway session for Flinto's Wayland tests and benchmarks, sourced
# by them. sway refuses to run as root: as root, the session runs as an
# unprivileged user, $test_user (flinto-test unless the script names its
# own; made when missing), from copies of the programs in WORK/bin. Tests
# that may run at the same time use users of their own, so that what one
# ends by user ends none of the other's.
#
#   wl_prepare WORK BUILD   the session's folders and the programs' copies
#   wl_start_session BAR    a session bus, sway (BAR yes or top: with
#                           swaybar, which hosts the tray, at the bottom or
#                           the top; no: none), Xwayland, and the seat's
#                           virtual pointer and keyboard; sets
#                           WAYLAND_DISPLAY, SWAYSOCK, X_DISPLAY, and work_x,
#                           work_y, work_w, work_h (the workspace: the output
#                           less the bar)
#   wl_stop_session         stops what wl_start_session started
#   as_user COMMAND...      runs in the session's environment
#   spawn COMMAND...        as_user in the background; $! is the command's
#                           own process, which signals reach
#   send LINE, settle, click X Y [BUTTON], shot FILE [GEOMETRY], focused
#
# The script sources tests/checks.sh first (wait_for).

runner=()
wl_pids=()
test_user="${test_user:-flinto-test}"

wl_prepare() {
  work="$1"
  local build="$2"
  if [ "$(id -u)" -eq 0 ]; then
    id "$test_user" >/dev/null 2>&1 ||
      useradd --system --user-group --no-create-home --home-dir /nonexistent \
        --shell /usr/sbin/nologin "$test_user" || {
      echo "cannot make the user $test_user"
      return 1
    }
    runner=(setpriv --reuid="$test_user" --regid="$test_user" --init-groups)
    # The X sockets' folder as a system's start makes it (root's, sticky,
    # for everyone): mutter's Xwayland, started by the user, refuses one
    # it cannot write, and one the user's Xwayland made is the user's own.
    mkdir -p /tmp/.X11-unix && chown root:root /tmp/.X11-unix &&
      chmod 1777 /tmp/.X11-unix
  fi
  mkdir -p "$work/bin" "$work/run" "$work/config"
  cp "$build/flinto" "$build/flinto-x11" "$build/flinto-wayland" \
    "$build/tests/wayland/flinto-wl-input" \
    "$build/tests/wayland/flinto-wl-target" "$build/tests/x11/flinto-target" \
    "$build/tests/wayland/flinto-wl-sent.so" \
    "$work/bin/" || return 1
  chmod 777 "$work" "$work/config"
  chmod 700 "$work/run"
  [ "$(id -u)" -eq 0 ] && chown "$test_user:$test_user" "$work/run"
  # The sanitizers' suppressions, where the user can read them.
  if [[ "${LSAN_OPTIONS:-}" =~ suppressions=([^:]*) ]]; then
    cp "${BASH_REMATCH[1]}" "$work/lsan.supp" && chmod 644 "$work/lsan.supp"
    LSAN_OPTIONS="${LSAN_OPTIONS/${BASH_REMATCH[1]}/$work/lsan.supp}"
  fi
  export XDG_RUNTIME_DIR="$work/run"
  export XDG_CONFIG_HOME="$work/config"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/run/bus"
}

as_user() {
  local vars=(PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME="$work"
    XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" XDG_CONFIG_HOME="$XDG_CONFIG_HOME"
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS") v
  # Only what is set: an empty SWAYSOCK or DISPLAY means something else.
  for v in WAYLAND_DISPLAY SWAYSOCK X_DISPLAY FLINTO_HOST WAYLAND_DEBUG \
    ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS LANG GTK_IM_MODULE QT_IM_MODULE \
    XMODIFIERS GDK_BACKEND TARGET_XIM XDG_SESSION_TYPE XDG_CURRENT_DESKTOP; do
    [ -n "${!v:-}" ] && vars+=("${v#X_}=${!v}")
  done
  if [ -n "${EXEC_AS_USER:-}" ]; then
    exec "${runner[@]}" env -i "${vars[@]}" "$@"
  fi
  "${runner[@]}" env -i "${vars[@]}" "$@"
}

spawn() { (EXEC_AS_USER=1 as_user "$@") <&0 & }

wl_start_session() {
  local bar=""
  [ "$1" != no ] && bar="bar {
  position $([ "$1" = top ] && echo top || echo bottom)
  status_command while :; do sleep 3600; done
  tray_output *
}"
  as_user dbus-daemon --session --fork --print-pid=1 \
    --address="$DBUS_SESSION_BUS_ADDRESS" >"$work/bus.pid" 2>"$work/bus.log"
  bus_pid=$(head -n1 "$work/bus.pid")
  rm -f "$work/display"
  cat >"$work/sway.conf" <<EOF
output HEADLESS-1 resolution 1280x800 position 0 0
xwayland enable
input * xkb_layout jp
input * xkb_model jp106
$bar
exec sh -c 'echo "\$DISPLAY" > $work/display'
EOF
  spawn env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman sway -c "$work/sway.conf" >"$work/sway.log" 2>&1
  sway_pid=$!
  wait_for 20 sh -c "ls '$work/run' | grep -q '^wayland-[0-9]*\$'" || {
    echo "sway did not start"
    tail -n 20 "$work/sway.log"
    return 1
  }
  export WAYLAND_DISPLAY SWAYSOCK
  WAYLAND_DISPLAY=$(ls "$work/run" | grep '^wayland-[0-9]*$' | head -n1)
  wait_for 10 sh -c "ls '$work/run' | grep -q '^sway-ipc'"
  SWAYSOCK="$work/run/$(ls "$work/run" | grep '^sway-ipc' | head -n1)"
  wait_for 10 test -s "$work/display"
  X_DISPLAY=$(cat "$work/display")

  # The seat's devices, before any client under test. The pipe is opened
  # both ways first: opened to read alone, it would wait for a writer.
  rm -f "$work/input.fifo"
  mkfifo "$work/input.fifo"
  chmod 666 "$work/input.fifo"
  exec 7<>"$work/input.fifo"
  spawn "$work/bin/flinto-wl-input" <"$work/input.fifo" >"$work/input.log" 2>&1
  wl_pids+=($!)
  syncs=0
  wait_for 10 grep -q ready "$work/input.log" || {
    echo "no input devices"
    cat "$work/input.log"
    return 1
  }
  read -r work_x work_y work_w work_h < <(as_user swaymsg -t get_workspaces |
    tr -d ' \n' |
    sed 's/.*"rect":{"x":\([0-9]*\),"y":\([0-9]*\),"width":\([0-9]*\),"height":\([0-9]*\)}.*/\1 \2 \3 \4/')
  [ -n "${work_h:-}" ] || {
    echo "no work area"
    return 1
  }
}

wl_stop_session() {
  local pid
  for pid in "${wl_pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${sway_pid:-}" ] && kill "$sway_pid" 2>/dev/null
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null
  exec 7>&- 2>/dev/null
  wl_pids=()
  sway_pid=
  bus_pid=
}

send() { echo "$*" >&7; }
# settle: waits until the compositor has taken every command sent so far.
settle() {
  syncs=$((syncs + 1))
  send sync
  wait_for 5 grep -q "^synced $syncs\$" "$work/input.log"
}
click() {
  send click "$@"
  settle
}
shot() { # FILE [GEOMETRY]
  rm -f "$1"
  if [ -n "${2:-}" ]; then as_user grim -g "$2" "$1"; else as_user grim "$1"; fi
}
swaymsg_() { as_user swaymsg "$@" 2>/dev/null; }
# The app_id (or X11 class) of the focused window.
focused() {
  swaymsg_ -t get_tree | tr ',' '\n' |
    awk '/"focused": true/ {f = 1} f && /"app_id"|"class"/ {print; exit}' |
    sed 's/.*: *"\?\([^"]*\)"\?.*/\1/'
}
