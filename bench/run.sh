#!/usr/bin/env bash
# Every figure in one run: the archiver's speed-size plane against its peers, what its flushes
# cost, how fast it reads other programs' archives, then the front end under Wine
# (opening large archives, listing steps, listing a big folder, start-up time and memory).
# Timings drift on shared machines: compare the figures of one run with each other.
# OPEN_BEFORE=<build folder> also opens the archives with another build's benchmarks (its native/
# and win64/ builds of these bench sources), size by size right after this build's.
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
# Runs one opening benchmark at both sizes, undated and dated members, this build's and
# OPEN_BEFORE's in turn.
open_sizes() {
  local run=$1 program=$2 size
  for size in "10000 100" "100000 1000" "10000 100 dated" "100000 1000 dated"; do
    # shellcheck disable=SC2086
    $run build/$program $size | grep -E '^[0-9]' | tail -n 1 | sed 's/^/this build  /'
    # shellcheck disable=SC2086
    [ -z "${OPEN_BEFORE:-}" ] || $run "$OPEN_BEFORE/$program" $size | grep -E '^[0-9]' | tail -n 1 | sed 's/^/before      /'
  done
}

# A memory file system shows what the program adds to the system's own work most plainly; on a
# disk file system the inodes freed by the earlier turns slow whichever side comes next.
bench_memory=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then bench_memory=$(mktemp -d /dev/shm/vantor-bench.XXXXXX); fi
echo "== opening a large archive natively: walk + mirror tree against creating the same empty files"
echo "   in a plain loop (seconds, medians of three, the two taking turns; dated members get their"
echo "   times in the loop too), on the disk and on a memory file system"
printf '%-11s %-9s %8s %-6s %10s %10s %8s %10s %10s %8s\n' build members folders dated walk+tree "files only" ratio \
  "cpu: tree" "cpu: files" ratio
open_sizes "" native/bench/empty_files_floor
if [ -n "$bench_memory" ]; then
  echo "   on $bench_memory"
  VANTOR_BENCH_DIR=$bench_memory open_sizes "" native/bench/empty_files_floor
else
  echo "   (no writable /dev/shm: the memory file system rows are left out)"
fi

echo
echo "== what the flushes cost: adding and extracting with and without them"
bash bench/flush.sh build/native

echo
echo "== archiver: reading other programs' archives, a zip and a 7z of a source tree and a zip of"
echo "   100,000 members, against unzip, 7z and bsdtar"
bash bench/foreign_bench.sh build/native

export WINEPREFIX=$PWD/build/wineprefix-bench
source scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start
quiet() { grep -v 'FS volume label' || true; }
echo
echo "== front end under Wine: opening large archives (seconds, medians of three, taking turns), on"
echo "   the disk and on a memory file system"
printf '%-11s %-9s %8s %-6s %10s %10s %8s %12s %12s %12s %8s\n' build members folders dated walk+tree "files only" \
  ratio "first list" "enter folder" "list step" rows
open_sizes scripts/wine-run.sh win64/bench/open_archive_bench.exe 2>&1 | quiet
if [ -n "$bench_memory" ]; then
  echo "   on $bench_memory"
  VANTOR_BENCH_DIR="$(winepath -w "$bench_memory")\\" open_sizes scripts/wine-run.sh win64/bench/open_archive_bench.exe 2>&1 |
    quiet
  rm -rf "$bench_memory"
fi
echo
echo "== front end under Wine: opening another program's archive (the archiver lists it) against"
echo "   the same 10,000 members in 100 folders as .vnr"
open_work=$(mktemp -d)
python3 - "$open_work/tree" <<'PY'
import os, sys
for i in range(10000):
    folder = os.path.join(sys.argv[1], f"folder{i % 100}")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"member{i}.dat"), "w") as f:
        f.write(str(i))
PY
(cd "$open_work" && zip -qr tree.zip tree && 7z a -bd tree.7z tree >/dev/null && "$OLDPWD/build/native/vantor" a -r tree.vnr tree >/dev/null)
for kind in zip 7z; do
  scripts/wine-run.sh build/win64/bench/open_archive_bench.exe foreign "$(winepath -w build/win64)" \
    "$(winepath -w "$open_work/tree.$kind")" "$(winepath -w "$open_work/tree.vnr")" 2>&1 | quiet | tail -n 1
done
rm -rf "$open_work"
echo
scripts/wine-run.sh build/win64/bench/list_bench.exe 10000 2>&1 | quiet
echo
scripts/wine-run.sh build/win64/bench/startup_bench.exe 2>&1 | quiet
echo
scripts/wine-run.sh build/win64/bench/find_bench.exe 2>&1 | quiet
