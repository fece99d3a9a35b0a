#!/usr/bin/env bash
# Runs one Windows program under Wine on the display and prefix set up by scripts/wine-env.sh:
# an i386 program under 32-bit Wine (through qemu-user), any other under wine64.
# Without them it fails loudly: a Windows test never passes by being skipped.
if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: DISPLAY and WINEPREFIX are not set; run the tests through scripts/test.sh" >&2
  exit 1
fi
export WINEDEBUG=${WINEDEBUG:--all}
wine=/usr/lib/wine/wine64
# PE machine 0x14c (i386): the two bytes after "PE\0\0", found through the offset at 0x3c.
if [ -f "$1" ]; then
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] && [ "$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')" = 014c ] &&
    wine=/usr/lib/wine/wine
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# A run that lost its wineserver says so and ran nothing of the program: it is run once more.
for attempt in 1 2; do
  "$wine" "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  [ "$status" -eq 0 ] && exit 0
  grep -q '^wine client error' "$out" || exit "$status"
  echo "wine-run: the wineserver went away; running again" >&2
  sleep 1
done
exit "$status"
