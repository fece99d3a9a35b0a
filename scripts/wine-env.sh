# Sourced by the scripts: a private Xvfb display and a warm Wine prefix, stopped by wine_env_stop.
# VANTOR_WINE_BITS=32 sets up 32-bit Wine (through qemu-user) in a win32 prefix of its own.
VANTOR_ROOT=${VANTOR_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
if [ "${VANTOR_WINE_BITS:-64}" = 32 ]; then
  export WINEARCH=win32
  export WINEPREFIX=${WINEPREFIX:-$VANTOR_ROOT/build/wineprefix32}
  VANTOR_WINE=/usr/lib/wine/wine
else
  export WINEPREFIX=${WINEPREFIX:-$VANTOR_ROOT/build/wineprefix}
  VANTOR_WINE=/usr/lib/wine/wine64
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
VANTOR_XVFB_PID=
# Wine names files on disk in the locale's character set: UTF-8 keeps every name intact.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *UTF-8* | *utf8*) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac

# Prints why 32-bit Wine cannot run here and fails, or succeeds silently.
wine32_unavailable() {
  local recorded=${VANTOR_DEPS:-/opt/vantor-deps}/win32-unavailable
  if [ -s "$recorded" ]; then
    cat "$recorded"
  elif [ ! -x /usr/lib/wine/wine ]; then
    echo "32-bit Wine (wine32:i386) is not installed; run scripts/setup.sh --win32"
  elif [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo "qemu-i386 is not registered with binfmt_misc (the kernel may lack it); run scripts/setup.sh --win32 as root"
  elif ! grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
    echo "qemu-i386 is registered with binfmt_misc but disabled"
  else
    return 1
  fi
}

wine_env_start() {
  local n
  for n in $(seq 91 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    VANTOR_XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      [ -e /tmp/.X11-unix/X$n ] && break
      sleep 0.1
    done
    if [ -e /tmp/.X11-unix/X$n ] && kill -0 $VANTOR_XVFB_PID 2>/dev/null; then
      export DISPLAY=:$n
      break
    fi
    VANTOR_XVFB_PID=
  done
  if [ -z "$VANTOR_XVFB_PID" ]; then
    echo "wine-env: could not start Xvfb" >&2
    return 1
  fi
  mkdir -p "$WINEPREFIX"
  # The first Wine start spawns services that inherit stdout/stderr; keep them off the test output.
  wineserver -p >/dev/null 2>&1 </dev/null || true
  # A first boot under load or emulation fails now and then; a second one from a fresh server
  # usually completes the prefix.
  if ! "$VANTOR_WINE" wineboot >/dev/null 2>&1 </dev/null; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p >/dev/null 2>&1 </dev/null || true
    if ! "$VANTOR_WINE" wineboot >/dev/null 2>&1 </dev/null; then
      echo "wine-env: wineboot failed twice in $WINEPREFIX" >&2
      return 1
    fi
  fi
  # Wine reads its own Marlett (the caption buttons' glyphs) and Tahoma (the dialog font) from
  # the prefix's Fonts folder only, not from fonts-wine's folder: without them the caption buttons
  # show "0 1 r" and texts take a wider font.
  local font
  for font in marlett.ttf tahoma.ttf tahomabd.ttf; do
    [ -f "/usr/share/wine/fonts/$font" ] && cp -n "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  done
  # Every window opens inside one virtual desktop: no window manager is needed, and windows
  # appear at once instead of waiting for the X server to map them.
  "$VANTOR_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 </dev/null
  "$VANTOR_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
    >/dev/null 2>&1 </dev/null
  # Names in Chinese and Japanese script are drawn with Debian's fallback font, not as boxes.
  if [ -f /usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf ]; then
    "$VANTOR_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v 'DejaVu Sans' /t REG_MULTI_SZ /d 'DroidSansFallbackFull.ttf,Droid Sans Fallback' /f >/dev/null 2>&1 </dev/null
  fi
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$VANTOR_XVFB_PID" ]; then
    kill "$VANTOR_XVFB_PID" 2>/dev/null || true
    wait "$VANTOR_XVFB_PID" 2>/dev/null || true
  fi
}
