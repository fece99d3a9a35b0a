#!/usr/bin/env bash
# Sets up, builds and runs every test: native ones directly; the Windows suites, the large archives,
# the packages and the end-to-end run against the x86_64 build under wine64 and against the shipped
# i686 build under 32-bit Wine (through qemu-user), each on a private display and prefix.
# VANTOR_SKIP_WIN32=1 leaves out the 32-bit runs, VANTOR_SKIP_LARGE=1 the archives past 4 GiB
# (they skip themselves with less than 12 GB free).
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
# timed <label> <command...>: runs it, notes its wall-clock time, keeps going after a failure.
timed() {
  local label=$1 start=$SECONDS
  shift
  "$@" || status=1
  timings+=("$(printf '%-28s %4d s' "$label" $((SECONDS - start)))")
}
large=()
[ "${VANTOR_SKIP_LARGE:-0}" = 1 ] && large=(-LE large)

# The Windows suites of one build under its Wine, on a display and warm prefix of their own.
windows_suites() {
  (
    export VANTOR_WINE_BITS=$1
    unset WINEPREFIX WINEARCH
    source scripts/wine-env.sh
    trap wine_env_stop EXIT
    wine_env_start
    ctest --preset "win$1" "${large[@]}"
  )
}

timed "native tests" ctest --preset native -j "$(nproc)"
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
# The skip is said again last, where a reader of the summary looks.
[ -z "$skip32" ] || echo "test: $skip32"
exit $status
