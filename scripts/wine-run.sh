#!/usr/bin/env bash
# Runs one Windows program under wine64 on the display and prefix set up by scripts/wine-env.sh.
# Without them it fails loudly: a Windows test never passes by being skipped.
if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: DISPLAY and WINEPREFIX are not set; run the tests through scripts/test.sh" >&2
  exit 1
fi
export WINEDEBUG=${WINEDEBUG:--all}
exec /usr/lib/wine/wine64 "$@"
