#!/usr/bin/env bash
# Reading other programs' archives: listing and extracting a zip and a 7z of a source tree (files
# of /usr/include, then /usr/share/doc, up to FOREIGN_MB, 100 by default) with vantor against
# unzip, 7z and bsdtar where installed, then listing a zip of 100,000 tiny stored members.
# Seconds, medians of three rounds taking turns; every extraction is compared with the tree once.
# It prints figures and asserts nothing.
# Usage: bench/foreign_bench.sh [build folder (build/native)] [scratch folder on the disk to measure]
set -euo pipefail
build=${1:-build/native}
vantor=$(realpath "$build/vantor")
scratch=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/vantor-foreign-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

python3 - src "${FOREIGN_MB:-100}" <<'PY'
import os, shutil, sys
dest, limit = sys.argv[1], int(sys.argv[2]) << 20
total = files = 0
for top in ("/usr/include", "/usr/share/doc"):
    for folder, subs, names in os.walk(top):
        subs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if total >= limit or os.path.islink(path) or not os.path.isfile(path):
                continue
            target = os.path.join(dest, os.path.relpath(path, "/usr"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(path, target)
            total += os.path.getsize(path)
            files += 1
print(f"tree: {files} files, {total / 1e6:.0f} MB")
PY
zip -qr tree.zip src
7z a -bd -mmt2 tree.7z src >/dev/null
printf 'zip (deflate) %s MB, 7z (LZMA2, solid) %s MB\n' \
  "$(( $(stat -c %s tree.zip) / 1000000 ))" "$(( $(stat -c %s tree.7z) / 1000000 ))"

# 100,000 stored members of a few bytes in 100 folders.
python3 - <<'PY'
import zipfile
with zipfile.ZipFile("many.zip", "w", zipfile.ZIP_STORED) as z:
    for i in range(100000):
        z.writestr("d%02d/member%06d.txt" % (i % 100, i), b"%d\n" % i)
PY

have() { command -v "$1" >/dev/null 2>&1; }
seconds() {
  sync
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || echo "failed: $*" >&2
  end=$(date +%s.%N)
  awk "BEGIN { printf \"%.2f\", $end - $start }"
}
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }

# name|command; "out" is emptied before each run.
runs=("vantor l -p tree.zip|$vantor l -p tree.zip" "vantor l -p tree.7z|$vantor l -p tree.7z"
      "vantor x -t2 tree.zip|$vantor x -t2 tree.zip out" "vantor x -t2 tree.7z|$vantor x -t2 tree.7z out"
      "vantor l -p many.zip (100,000)|$vantor l -p many.zip")
have unzip && runs+=("unzip -l tree.zip|unzip -l tree.zip" "unzip tree.zip|unzip -q tree.zip -d out"
                     "unzip -l many.zip (100,000)|unzip -l many.zip")
have 7z && runs+=("7z l tree.zip|7z l tree.zip" "7z l tree.7z|7z l tree.7z" "7z x -mmt2 tree.zip|7z x -bd -mmt2 -oout tree.zip"
                  "7z x -mmt2 tree.7z|7z x -bd -mmt2 -oout tree.7z" "7z l many.zip (100,000)|7z l many.zip")
have bsdtar && runs+=("bsdtar -tf tree.zip|bsdtar -tf tree.zip" "bsdtar -tf tree.7z|bsdtar -tf tree.7z"
                      "bsdtar -xf tree.zip|bsdtar -xf tree.zip -C out" "bsdtar -xf tree.7z|bsdtar -xf tree.7z -C out"
                      "bsdtar -tf many.zip (100,000)|bsdtar -tf many.zip")
have bsdtar || echo "bsdtar is not installed: its figures are left out"

declare -A t
for round in 1 2 3; do
  for run in "${runs[@]}"; do
    name=${run%%|*} command=${run#*|}
    rm -rf out && mkdir out
    # shellcheck disable=SC2086
    t[$name]+=" $(seconds $command)"
    if [ "$round" = 1 ] && [[ $command == *" out"* || $command == *"-oout"* ]]; then
      diff -rq src out/src >/dev/null 2>&1 || echo "$name: the extracted tree differs from the source" >&2
    fi
  done
done
rm -rf out

printf '%-34s %10s\n' "seconds, median of 3" "time"
for run in "${runs[@]}"; do
  name=${run%%|*}
  # shellcheck disable=SC2086
  printf '%-34s %10s\n' "$name" "$(median ${t[$name]})"
done
