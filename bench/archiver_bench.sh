#!/usr/bin/env bash
# Compares vantor with zip, 7z, tar+gzip and tar+pigz on two corpora in one run: compress and
# extract seconds, compressed size, and vantor's ratios to each peer. Timings drift between
# runs on shared machines, so read the ratios measured side by side, not the absolute times.
#   VANTOR=path/to/vantor  BENCH_DIR=/tmp/vantor-bench  TASKS=2  bench/archiver_bench.sh
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
VANTOR=${VANTOR:-$ROOT/build/native/vantor}
BENCH_DIR=${BENCH_DIR:-/tmp/vantor-bench}
TASKS=${TASKS:-2}
MIXED_MB=${MIXED_MB:-300}

for tool in zip unzip 7z gzip pigz tar; do
  command -v $tool >/dev/null || { echo "archiver_bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -x "$VANTOR" ] || { echo "archiver_bench: build vantor first ($VANTOR)" >&2; exit 1; }

rm -rf "$BENCH_DIR"
mkdir -p "$BENCH_DIR/corpora"

make_corpora() {
  cp -r /usr/include "$BENCH_DIR/corpora/include"
  # Shared libraries and documentation, about MIXED_MB megabytes, the same files every run.
  local mixed=$BENCH_DIR/corpora/mixed limit=$((MIXED_MB * 1024 * 1024 / 2)) total=0 f size
  mkdir -p "$mixed/lib" "$mixed/doc"
  while IFS= read -r f; do
    size=$(stat -c %s "$f")
    [ $((total + size)) -gt $limit ] && continue
    cp "$f" "$mixed/lib/"
    total=$((total + size))
  done < <(find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' | sort)
  limit=$((MIXED_MB * 1024 * 1024))
  while IFS= read -r f; do
    size=$(stat -c %s "$f")
    [ $((total + size)) -gt $limit ] && break
    mkdir -p "$mixed/doc/$(dirname "${f#/usr/share/}")"
    cp "$f" "$mixed/doc/${f#/usr/share/}"
    total=$((total + size))
  done < <(find /usr/share/doc /usr/share/man /usr/share/locale /usr/share/i18n -type f 2>/dev/null | sort)
}

seconds() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

# run_case NAME COMPRESS-COMMAND ARCHIVE EXTRACT-COMMAND (commands run in the work folder)
declare -A COMP EXTR SIZE
run_case() {
  local name=$1 compress=$2 archive=$3 extract=$4 t0 t1 t2
  rm -rf "$WORK/out" "$WORK/$archive"
  mkdir -p "$WORK/out"
  sync
  t0=$(seconds)
  (cd "$WORK" && eval "$compress") >/dev/null 2>&1
  sync
  t1=$(seconds)
  (cd "$WORK/out" && eval "$extract") >/dev/null 2>&1
  sync
  t2=$(seconds)
  COMP[$name]=$(elapsed "$t0" "$t1")
  EXTR[$name]=$(elapsed "$t1" "$t2")
  SIZE[$name]=$(stat -c %s "$WORK/$archive")
  if ! diff -r -q --no-dereference "$WORK/src" "$WORK/out/src" >/dev/null 2>&1 &&
     ! diff -r -q --no-dereference "$WORK/src" "$WORK/out" >/dev/null 2>&1; then
    echo "  ($name: extracted tree differs from the source; links are not archived by every tool)" >&2
  fi
}

bench_corpus() {
  local corpus=$1
  WORK=$BENCH_DIR/work-$corpus
  rm -rf "$WORK" && mkdir -p "$WORK"
  cp -r "$BENCH_DIR/corpora/$corpus" "$WORK/src"
  # Symbolic links are left out: vantor stores file contents only.
  find "$WORK/src" -type l -delete
  local bytes files t0 t1
  bytes=$(du -sb "$WORK/src" | cut -f1)
  files=$(find "$WORK/src" -type f | wc -l)
  sync
  t0=$(seconds); cp -r "$WORK/src" "$WORK/copy"; sync; t1=$(seconds)
  local copy=$(elapsed "$t0" "$t1")
  rm -rf "$WORK/copy"

  run_case "vantor -m3 -t$TASKS" "$VANTOR a -r -m3 -t$TASKS a.vnr src" a.vnr "$VANTOR x -t$TASKS ../a.vnr ."
  run_case "vantor -m3 -s -t$TASKS" "$VANTOR a -r -s -m3 -t$TASKS s.vnr src" s.vnr "$VANTOR x -t$TASKS ../s.vnr ."
  run_case "zip -6" "zip -q -r -6 a.zip src" a.zip "unzip -q ../a.zip"
  run_case "7z (default, -mmt$TASKS)" "7z a -mmt$TASKS a.7z src" a.7z "7z x -mmt$TASKS ../a.7z"
  run_case "tar+gzip -6" "tar cf - src | gzip -6 > a.tgz" a.tgz "gzip -dc ../a.tgz | tar xf -"
  run_case "tar+pigz -6 -p$TASKS" "tar cf - src | pigz -6 -p$TASKS > p.tgz" p.tgz "pigz -dc ../p.tgz | tar xf -"

  local mb=$(echo "$bytes / 1048576" | bc -l)
  printf '\n%s: %d files, %.1f MB; cp -r takes %.2f s\n' "$corpus" "$files" "$mb" "$copy"
  printf '%-24s %9s %9s %8s %9s %10s | %11s %11s %11s\n' tool "comp s" "MB/s" "size %" "extr s" "extr/cp" \
         "vantor spd" "vantor size" "vantor extr"
  local v="vantor -m3 -t$TASKS" name
  for name in "vantor -m3 -t$TASKS" "vantor -m3 -s -t$TASKS" "zip -6" "7z (default, -mmt$TASKS)" "tar+gzip -6" \
              "tar+pigz -6 -p$TASKS"; do
    local ref=$v
    # Solid archives compare with the single-stream peers, the others with their own kind.
    case $name in tar*|7z*) ref="vantor -m3 -s -t$TASKS" ;; esac
    printf '%-24s %9.2f %9.1f %7.2f%% %9.2f %10.2f | %10.2fx %10.3fx %10.2fx\n' "$name" "${COMP[$name]}" \
      "$(echo "$mb / ${COMP[$name]}" | bc -l)" "$(echo "100 * ${SIZE[$name]} / $bytes" | bc -l)" "${EXTR[$name]}" \
      "$(echo "${EXTR[$name]} / $copy" | bc -l)" "$(echo "${COMP[$name]} / ${COMP[$ref]}" | bc -l)" \
      "$(echo "${SIZE[$ref]} / ${SIZE[$name]}" | bc -l)" "$(echo "${EXTR[$name]} / ${EXTR[$ref]}" | bc -l)"
  done
  rm -rf "$WORK"
}

make_corpora
echo "vantor: $VANTOR, $TASKS tasks, $(nproc) processors"
echo "vantor spd = peer seconds / vantor seconds (above 1: vantor faster); vantor size = vantor bytes / peer"
echo "bytes (below 1: vantor smaller); vantor extr likewise for extraction. Rows of zip compare with"
echo "vantor without solid; rows of 7z and tar with vantor solid."
bench_corpus include
bench_corpus mixed
rm -rf "$BENCH_DIR"
