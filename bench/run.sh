#!/usr/bin/env bash
# Every figure in one run: the archiver's speed-size plane against its peers, what its flushes
# cost, then the front end under Wine
# (opening large archives, listing steps, listing a big folder, start-up time and memory).
# Timings drift on shared machines: compare the figures of one run with each other.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
VANTOR_PRESETS="native win64" bash scripts/build.sh >/dev/null

echo "== archiver: the speed-size plane, vantor's six settings against zip, 7z, tar+pigz/zstd/xz"
python3 bench/plane.py

echo
echo "== archiver: the progress channel's cost, with and without it (medians of five)"
python3 bench/progress_overhead.py

echo
echo "== floor: creating 100,000 empty files in 1,000 folders natively (seconds)"
build/native/bench/empty_files_floor 100000 1000

echo
echo "== what the flushes cost: adding and extracting with and without them"
bash bench/flush.sh build/native

export WINEPREFIX=$PWD/build/wineprefix-bench
source scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start
quiet() { grep -v 'FS volume label' || true; }
echo
echo "== front end under Wine"
scripts/wine-run.sh build/win64/bench/open_archive_bench.exe 2>&1 | quiet
echo
scripts/wine-run.sh build/win64/bench/list_bench.exe 10000 2>&1 | quiet
echo
scripts/wine-run.sh build/win64/bench/startup_bench.exe 2>&1 | quiet
echo
scripts/wine-run.sh build/win64/bench/find_bench.exe 2>&1 | quiet
