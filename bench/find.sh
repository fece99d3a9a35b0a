#!/usr/bin/env bash
# Find over 100,000 files: the search core natively and under wine64, on disk and (under Wine)
# in a 100,000-member archive's mirror tree. Prints figures; expects built native and win64 trees.
# Usage: bench/find.sh [files] [folders]
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== natively"
build/native/bench/find_bench "$@"
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wineprefix-bench}
source scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start
echo
echo "== under wine64"
scripts/wine-run.sh build/win64/bench/find_bench.exe "$@" 2>&1 | grep -v 'FS volume label' || true
