#!/usr/bin/env bash
# Sets up, builds and starts WinVantor inside Wine's virtual desktop.
# With a display it returns when the program closes. Without one it starts a virtual display,
# saves a screenshot, prints where, and keeps running until interrupted (--screenshot-only exits).
set -euo pipefail
cd "$(dirname "$0")/.."
once=0
[ "${1:-}" = "--screenshot-only" ] && once=1
bash scripts/setup.sh
VANTOR_PRESETS="win64 win32" bash scripts/build.sh
source scripts/wine-env.sh
exe_dir=build/win64
if [ -n "${DISPLAY:-}" ] && [ $once -eq 0 ]; then
  mkdir -p "$WINEPREFIX"
  cd "$exe_dir"
  exec /usr/lib/wine/wine64 explorer /desktop=vantor,1024x768 WinVantor.exe
fi
unset DISPLAY
trap wine_env_stop EXIT
wine_env_start
( cd "$exe_dir" && /usr/lib/wine/wine64 explorer /desktop=vantor,1024x768 WinVantor.exe >/dev/null 2>&1 ) &
sleep 6
shot=$PWD/build/screenshot.png
import -window root "$shot"
echo "screenshot: $shot"
[ $once -eq 1 ] && exit 0
echo "WinVantor is running on display $DISPLAY; press Ctrl+C to stop."
wait
