# Shared by scripts/run, scripts/test and scripts/screenshot: package installation,
# the Wine prefix and the wine server. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINEBIN=/usr/lib/wine
export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Everything the build, the tests and the window need, from Debian's archive.
RESICRYPT_PACKAGES="cmake make g++ googletest libgtest-dev libbenchmark-dev
  mingw-w64 g++-mingw-w64-x86-64 wine wine64 fonts-wine xvfb xauth x11-utils imagemagick openssl
  locales"

log() { printf '== %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs what is missing; a second run finds everything and installs nothing.
ensure_packages() {
  local missing=() pkg
  for pkg in $RESICRYPT_PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

jobs_count() { nproc 2>/dev/null || echo 2; }

# prepare_prefix DIR DRIVER: a Wine prefix of our own with the crash dialog off, the
# fonts the window asks for, and either the null display driver (DRIVER=null: no
# X server needed) or Wine's X11 driver (DRIVER=x11).
prepare_prefix() {
  local prefix=$1 driver=$2
  export WINEPREFIX=$prefix
  if [ ! -f "$prefix/.resicrypt-ready-$driver" ]; then
    log "preparing Wine prefix $prefix ($driver)"
    mkdir -p "$prefix"
    if [ "$driver" = null ]; then
      # wineboot must not try to reach an X server while the prefix is made.
      DISPLAY= "$WINEBIN/wine64" wineboot -i >/dev/null 2>&1 || true
    else
      "$WINEBIN/wine64" wineboot -i >/dev/null 2>&1 || true
    fi
    "$WINEBIN/wineserver" -w
    local reg="$prefix/resicrypt.reg"
    {
      printf 'REGEDIT4\n\n'
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n\n'
      if [ "$driver" = null ]; then
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n"Graphics"="null"\n\n'
      else
        # Wine's tooltip background is white; Windows' own is a pale yellow, the
        # colour of Resicrypt's window.
        printf '[HKEY_CURRENT_USER\\Control Panel\\Colors]\n"InfoWindow"="255 255 225"\n\n'
      fi
    } > "$reg"
    DISPLAY= "$WINEBIN/wine64" regedit /S "$reg" >/dev/null 2>&1
    "$WINEBIN/wineserver" -w
    # Wine does not load its own fonts from /usr/share/wine/fonts here.
    mkdir -p "$prefix/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
    touch "$prefix/.resicrypt-ready-$driver"
  fi
}

# Starts a persistent wine server with a keeper process and primes it, so each
# test exe starts in well under a second and no helper inherits ctest's pipes.
start_wineserver() {
  "$WINEBIN/wineserver" -p
  "$WINEBIN/wine64" explorer /desktop=Default,1024x768 </dev/null >/dev/null 2>&1 &
  WINE_KEEPER_PID=$!
  "$WINEBIN/wine64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wineserver() {
  [ -n "${WINEPREFIX:-}" ] && "$WINEBIN/wineserver" -k 2>/dev/null || true
  [ -n "${WINE_KEEPER_PID:-}" ] && kill "$WINE_KEEPER_PID" 2>/dev/null || true
  WINE_KEEPER_PID=
}

# Starts Xvfb on a free display unless one is already given; sets DISPLAY.
start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n=99
  while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && return 0; sleep 0.1; done
  log "Xvfb did not start"; return 1
}

stop_xvfb() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=
}
