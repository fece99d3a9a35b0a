#!/usr/bin/env bash
# Sets up, builds and runs every test: native ones directly; the Windows suites, the large archives,
# the packages and the end-to-end run against the x86_64 build under wine64 and against the shipped
# i686 build under 32-bit Wine (through qemu-user), each on a private display and prefix.
# VANTOR_SKIP_WIN32=1 leaves out the 32-bit runs, VANTOR_SKIP_LARGE=1 the archives past 4 GiB
# (they skip themselves with less than 12 GB free). The summary at the end names every test that
# was skipped and why, and every part left out.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
if [ "${VANTOR_SKIP_WIN32:-0}" = 1 ]; then
  bash scripts/setup.sh
  skip32="32-bit runs SKIPPED: left out by VANTOR_SKIP_WIN32=1"
else
  bash scripts/setup.sh --win32
  skip32=$(source scripts/wine-env.sh && wine32_unavailable) && skip32="32-bit runs SKIPPED: $skip32" || skip32=
fi
[ -z "$skip32" ] || echo "test: $skip32"
bash scripts/build.sh
status=0
timings=("$(printf '%-28s %4d s' "set-up and build" $((SECONDS - start)))")
# What was skipped, one line each with the part it belongs to; scripts add theirs to this file.
skips=()
export VANTOR_SKIP_LOG
VANTOR_SKIP_LOG=$(mktemp)
trap 'rm -f "$VANTOR_SKIP_LOG"' EXIT
# timed <label> <command...>: runs it, notes its wall-clock time and skips, keeps going after a failure.
timed() {
  local label=$1 start=$SECONDS line
  shift
  : >"$VANTOR_SKIP_LOG"
  "$@" || status=1
  timings+=("$(printf '%-28s %4d s' "$label" $((SECONDS - start)))")
  while IFS= read -r line; do skips+=("$label: ${line#SKIPPED: }"); done <"$VANTOR_SKIP_LOG"
}
# ctest_skips <build dir> <ctest's own log>: into the skip log, the tests' own "SKIPPED:" lines
# (see tests/skip_report.cpp) and each entry ctest counted as skipped that gave no such line.
ctest_skips() {
  local entry
  { sed -n 's/\r$//; /^SKIPPED: /p' "$1/Testing/Temporary/LastTest.log" 2>/dev/null || true; } |
    sort -u >>"$VANTOR_SKIP_LOG"
  for entry in $(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$2"); do
    grep -q "^SKIPPED: \(${entry#win.}\.\|$entry:\)" "$VANTOR_SKIP_LOG" ||
      echo "SKIPPED: $entry: see its output in $1/Testing/Temporary/LastTest.log" >>"$VANTOR_SKIP_LOG"
  done
  return 0
}
# tested <preset> <ctest arguments...>: ctest of one build, its skips noted.
tested() {
  local preset=$1 code=0 log
  shift
  log=$(mktemp)
  ctest --preset "$preset" -O "$log" "$@" || code=$?
  ctest_skips "build/$preset" "$log"
  rm -f "$log"
  return $code
}
large=()
if [ "${VANTOR_SKIP_LARGE:-0}" = 1 ]; then
  large=(-LE large)
  skips+=("archives past 4 GiB: left out by VANTOR_SKIP_LARGE=1")
fi

# The Windows suites of one build under its Wine, on a display and warm prefix of their own.
windows_suites() {
  (
    export VANTOR_WINE_BITS=$1
    unset WINEPREFIX WINEARCH
    source scripts/wine-env.sh
    trap wine_env_stop EXIT
    wine_env_start
    tested "win$1" "${large[@]}"
  )
}

timed "native tests" tested native -j "$(nproc)"
timed "fuzz replay (ASan, UBSan)" bash scripts/fuzz-replay.sh
timed "win64 suites" windows_suites 64
timed "win64 end-to-end" tests/e2e/run.sh
if [ -n "$skip32" ]; then
  timed "packages (no 32-bit Wine)" env VANTOR_SKIP_WIN32=1 tests/packages/run.sh build/win32
else
  timed "win32 suites" windows_suites 32
  timed "packages (32-bit installer)" tests/packages/run.sh build/win32
  timed "win32 end-to-end" env VANTOR_E2E_BUILD=build/win32 tests/e2e/run.sh
fi
printf 'test: %s\n' "${timings[@]}"
# Skips are said last, where a reader of the summary looks: a skipped test never passed.
[ -z "$skip32" ] || skips+=("$skip32")
if [ ${#skips[@]} -eq 0 ]; then
  echo "test: nothing skipped"
else
  echo "test: ${#skips[@]} SKIPPED:"
  printf 'test:   %s\n' "${skips[@]}"
fi
exit $status
