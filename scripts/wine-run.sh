#!/usr/bin/env bash
# Runs one Windows program under wine64 on the display and prefix set up by scripts/wine-env.sh.
# Without them it fails loudly: a Windows test never passes by being skipped.
if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: DISPLAY and WINEPREFIX are not set; run the tests through scripts/test.sh" >&2
  exit 1
fi
export WINEDEBUG=${WINEDEBUG:--all}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# A run that lost its wineserver says so and ran nothing of the program: it is run once more.
for attempt in 1 2; do
  /usr/lib/wine/wine64 "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  [ "$status" -eq 0 ] && exit 0
  grep -q '^wine client error' "$out" || exit "$status"
  echo "wine-run: the wineserver went away; running again" >&2
  sleep 1
done
exit "$status"
