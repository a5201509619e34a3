# Shared by the project's scripts: installing Debian packages when missing,
# and configuring and building a CMake tree quietly.

# Packages every build needs.
FLINTO_BUILD_PACKAGES=(cmake make g++ pkg-config libfreetype-dev
  libfontconfig-dev libpng-dev fonts-ipafont-gothic libx11-dev libxtst-dev
  libxi-dev libxrandr-dev libwayland-dev libwayland-bin wayland-protocols libxkbcommon-dev
  libsystemd-dev plasma-wayland-protocols)

# The Windows cross build and its tests under Wine.
FLINTO_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine64 wine)

# What the X11 end-to-end tests and the demonstration desktop use.
FLINTO_DESKTOP_PACKAGES=(xvfb xauth openbox icewm i3-wm trayer picom xdotool x11-utils
  x11-xkb-utils x11-xserver-utils imagemagick)

# What the package tests use: lintian, AppStream's and the desktop entry's
# validators, dpkg-shlibdeps for the dependencies, NSIS for the Windows
# installer.
FLINTO_PACKAGE_PACKAGES=(lintian appstream desktop-file-utils dpkg-dev file
  man-db nsis)

# What the Wayland end-to-end tests use: a headless sway (its bar hosts the
# tray), Xwayland for the X11 target, grim for screenshots, a session bus.
FLINTO_WAYLAND_PACKAGES=(sway xwayland grim dbus dbus-bin)

# What the tests on GNOME's and KDE's compositors use: headless mutter,
# GNOME Shell and KWin, the desktop portal with both backends (KDE's needs
# Qt's Wayland platform), the accessibility bus that answers the portal's
# dialog, gdbus.
FLINTO_DESKTOPS_PACKAGES=(mutter gnome-shell kwin-wayland xdg-desktop-portal
  xdg-desktop-portal-gnome xdg-desktop-portal-kde qtwayland5 at-spi2-core
  gir1.2-atspi-2.0 python3-gi libglib2.0-bin xdotool x11-utils imagemagick)

# What the input method tests use: fcitx5 and IBus with Mozc, their GTK3
# modules, and a GTK3 text view written in Python.
FLINTO_IME_PACKAGES=(fcitx5 fcitx5-mozc fcitx5-frontend-gtk3 ibus ibus-mozc
  ibus-gtk3 mozc-server python3-gi gir1.2-gtk-3.0)

flinto_apt_updated=0

# ensure_packages NAME...: installs the packages that are not installed yet,
# saying which; says nothing when all are there.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if [ "$flinto_apt_updated" -eq 0 ]; then
    $sudo apt-get update -qq >/dev/null
    flinto_apt_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# build DIR [CMAKE OPTIONS...]: configures (once) and builds DIR; the tools'
# chatter goes to DIR/build.log and is shown only when something fails.
build() {
  local dir="$1"
  shift
  mkdir -p "$dir"
  if ! { cmake -S . -B "$dir" "$@" && cmake --build "$dir" -j "$(nproc)"; } >"$dir/build.log" 2>&1; then
    tail -n 60 "$dir/build.log"
    echo "Build failed in $dir (full log: $dir/build.log)" >&2
    return 1
  fi
}
