#!/usr/bin/env bash
# What the flushes cost: `vantor a` adding a tree to an existing archive, and extraction into an
# empty folder (new files, not flushed) and over the extracted tree (every file replaced, each
# flushed before its rename), with the flushes and without them (the same binary with
# bench_without_flushes preloaded). Medians of three rounds taking turns, in seconds.
# Usage: bench/flush.sh [build folder (build/native)] [scratch folder on the disk to measure]
set -euo pipefail
build=${1:-build/native}
vantor=$build/vantor
shim=$(realpath "$build/bench/libbench_without_flushes.so")
scratch=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/vantor-flush-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# 1,000 files of 16 KB and 8 of 8 MB, text and noise: 80 MB.
python3 - "$scratch/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(26)
words = [b"archive ", b"member ", b"folder ", b"flush ", b"rename ", b"disk\n"]
def data(size):
    text = b"".join(rng.choice(words) for _ in range(size // 12))[: size // 2]
    return text + rng.randbytes(size - len(text))
for i in range(1000):
    folder = os.path.join(root, "d%02d" % (i // 50))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "f%04d.txt" % i), "wb").write(data(16 << 10))
for i in range(8):
    open(os.path.join(root, "big%d.bin" % i), "wb").write(data(8 << 20))
PY
echo base > "$scratch/base.txt"
"$vantor" a "$scratch/base.vnr" "$scratch/base.txt" >/dev/null
"$vantor" a -r -t2 "$scratch/tree.vnr" "$scratch/tree" >/dev/null

# seconds of one run of "$@"; the disk is settled first so earlier rounds do not weigh on it.
seconds() {
  sync
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk "BEGIN { printf \"%.2f\", $end - $start }"
}
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
plain() { "$@"; }
unflushed() { LD_PRELOAD=$shim "$@"; }

declare -A t
for round in 1 2 3; do
  for mode in plain unflushed; do
    cp "$scratch/base.vnr" "$scratch/add.vnr"
    t[add_$mode]+=" $(seconds $mode "$vantor" a -r -t2 "$scratch/add.vnr" "$scratch/tree")"
    rm -rf "$scratch/out"
    t[new_$mode]+=" $(seconds $mode "$vantor" x -t2 "$scratch/tree.vnr" "$scratch/out")"
    t[over_$mode]+=" $(seconds $mode "$vantor" x -t2 "$scratch/tree.vnr" "$scratch/out")"
  done
done
printf '%-52s %10s %10s\n' "80 MB, 1,008 files, -t2 (seconds, median of 3)" "flushed" "unflushed"
printf '%-52s %10s %10s\n' "vantor a: the tree added to an existing archive" \
  "$(median ${t[add_plain]})" "$(median ${t[add_unflushed]})"
printf '%-52s %10s %10s\n' "vantor x into an empty folder (new files)" \
  "$(median ${t[new_plain]})" "$(median ${t[new_unflushed]})"
printf '%-52s %10s %10s\n' "vantor x over the extracted tree (all replaced)" \
  "$(median ${t[over_plain]})" "$(median ${t[over_unflushed]})"
